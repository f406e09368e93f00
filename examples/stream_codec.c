/* stream_codec: mu-law and ADPCM coding on memory with libkvox's stream codecs, a buffer at a time, as a
 * program does that receives audio in pieces (from a network, a sound card, another library).
 *
 *   cc stream_codec.c -o stream_codec $(pkg-config --cflags --libs kvox)
 *   ./stream_codec
 *
 * One second of a tone with some noise is encoded in pieces of uneven sizes and decoded in other pieces; the
 * program shows that the bytes equal those of a single call, and how close the decoded samples come to the
 * source. */
#include <kvox.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define SAMPLES 8001 /* odd, so that ADPCM ends on a sample of its own */

/* The whole buffer through `encoder` in pieces of 1 to 1000 samples, then the end of the stream. */
static size_t encode_in_pieces(kvox_encoder* encoder, const int16_t* pcm, size_t samples, uint8_t* out) {
  size_t made = 0;
  for (size_t at = 0, piece = 1; at < samples; at += piece, piece = piece * 7 % 1000 + 1) {
    if (piece > samples - at) piece = samples - at;
    made += kvox_encode(encoder, pcm + at, piece, out + made);
  }
  /* ADPCM packs two samples a byte and keeps an odd one back until its partner comes; only the end of the
   * stream says that none will, so the last byte is written here (G.711 has nothing kept: 0 bytes). */
  return made + kvox_encoder_flush(encoder, out + made);
}

/* 10 log10(ratio) to a tenth of a decibel, so that the program needs no more than pkg-config's flags (the
 * maths library would be one more). */
static double decibels(double ratio) {
  const double tenth = 1.023292992280754; /* 10^(1/100): a tenth of a decibel */
  double db = 0;
  for (double power = tenth; power <= ratio; power *= tenth) db += 0.1;
  return db;
}

static int run(kvox_coding coding, const int16_t* pcm) {
  static uint8_t pieces[SAMPLES], whole[SAMPLES + 1];
  static int16_t decoded[2 * SAMPLES];
  kvox_encoder* encoder = kvox_encoder_new(coding);
  kvox_decoder* decoder = kvox_decoder_new(coding);
  if (encoder == NULL || decoder == NULL) {
    fprintf(stderr, "stream_codec: %s\n", kvox_strerror(KVOX_ENOMEM));
    kvox_encoder_free(encoder);
    kvox_decoder_free(decoder);
    return 1;
  }
  const size_t bytes = encode_in_pieces(encoder, pcm, SAMPLES, pieces);
  /* After the flush the encoder starts a new stream: one call now gives what the pieces gave. */
  size_t whole_bytes = kvox_encode(encoder, pcm, SAMPLES, whole);
  whole_bytes += kvox_encoder_flush(encoder, whole + whole_bytes);

  /* Decoding takes any split too: the ADPCM state carries over from call to call. */
  size_t samples = 0;
  for (size_t at = 0; at < bytes; at += 333) {
    const size_t piece = bytes - at < 333 ? bytes - at : 333;
    samples += kvox_decode(decoder, pieces + at, piece, decoded + samples);
  }
  double error = 0, signal = 0;
  for (size_t i = 0; i < SAMPLES; ++i) {
    error += ((double)decoded[i] - pcm[i]) * ((double)decoded[i] - pcm[i]);
    signal += (double)pcm[i] * pcm[i];
  }
  const int same = bytes == whole_bytes && memcmp(pieces, whole, bytes) == 0;
  printf("%-6s %zu samples -> %zu bytes -> %zu samples; pieces %s one call; SNR %.1f dB\n",
         kvox_coding_alias(coding), (size_t)SAMPLES, bytes, samples, same ? "==" : "!=", decibels(signal / error));
  kvox_encoder_free(encoder);
  kvox_decoder_free(decoder);
  return same ? 0 : 1;
}

int main(void) {
  /* 1000 Hz at 8000 Hz, an eighth of a turn a sample, and noise from a small generator so that no stretch
   * repeats exactly. */
  static const double turn[8] = {0, 0.70710678, 1, 0.70710678, 0, -0.70710678, -1, -0.70710678};
  static int16_t pcm[SAMPLES];
  uint32_t noise = 1;
  for (size_t i = 0; i < SAMPLES; ++i) {
    noise = noise * 1664525u + 1013904223u;
    pcm[i] = (int16_t)(8000 * turn[i % 8] + (double)(noise >> 24) - 128);
  }
  printf("libkvox %s\n", kvox_version());
  return run(KVOX_ULAW, pcm) | run(KVOX_ADPCM, pcm);
}
