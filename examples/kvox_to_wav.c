/* kvox_to_wav: a VOX file to a 16-bit mono WAV file, with libkvox.
 *
 *   cc kvox_to_wav.c -o kvox_to_wav $(pkg-config --cflags --libs kvox)
 *   ./kvox_to_wav IN.vox [OUT.wav]        (without OUT.wav: standard output)
 *
 * A tagged file is read by its tag, a raw file by its content when that settles the coding at a
 * confidence of 0.9 or more; name a coding instead of 0 in kvox_open to read any raw file. */
#include <kvox.h>
#include <stdint.h>
#include <stdio.h>

/* WAV keeps its fields and samples little-endian, whatever the machine's byte order. */
static void put_le(FILE* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) fputc((int)(value >> (8 * i)) & 0xFF, out);
}

/* The 44-byte header of a PCM WAV file, 16-bit mono. */
static void write_wav_header(FILE* out, uint32_t rate, uint32_t data_bytes) {
  fputs("RIFF", out);
  put_le(out, 36 + data_bytes, 4);
  fputs("WAVEfmt ", out);
  put_le(out, 16, 4);       /* the format chunk's size */
  put_le(out, 1, 2);        /* PCM */
  put_le(out, 1, 2);        /* one channel */
  put_le(out, rate, 4);
  put_le(out, 2 * rate, 4); /* bytes a second */
  put_le(out, 2, 2);        /* bytes a frame */
  put_le(out, 16, 2);       /* bits a sample */
  fputs("data", out);
  put_le(out, data_bytes, 4);
}

/* Samples as WAV keeps them. */
static void write_samples(FILE* out, const int16_t* samples, size_t count) {
  unsigned char bytes[2 * 16384];
  for (size_t done = 0; done < count;) {
    size_t n = count - done < 16384 ? count - done : 16384;
    for (size_t i = 0; i < n; ++i) {
      bytes[2 * i] = (unsigned char)(samples[done + i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)((uint16_t)samples[done + i] >> 8);
    }
    fwrite(bytes, 2, n, out);
    done += n;
  }
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s IN.vox [OUT.wav]\n", argv[0]);
    return 2;
  }
  kvox_info info;
  int err;
  kvox_file* in = kvox_open(argv[1], 0, &info, &err); /* 0: no coding named */
  if (info.detected) { /* a raw file: what its content says, even when it settles nothing */
    char summary[512];
    kvox_detection_summary(&info.detection, summary, sizeof summary);
    fprintf(stderr, "%s: %s\n", argv[1], summary);
  }
  /* A WAV file's sizes are 32-bit; RF64 would take the rest. */
  if (in == NULL || info.frames > (INT64_C(0xFFFFFFFF) - 36) / 2) {
    fprintf(stderr, "%s: %s\n", argv[1], in == NULL ? kvox_strerror(err) : "too long for a WAV file");
    kvox_close(in); /* NULL: nothing to close */
    return 1;
  }
  FILE* out = argc == 3 ? fopen(argv[2], "wb") : stdout;
  if (out == NULL) {
    perror(argv[2]);
    kvox_close(in);
    return 1;
  }
  /* info.frames is exact, so the header goes first and standard output may be a pipe. */
  write_wav_header(out, (uint32_t)info.rate, (uint32_t)(2 * info.frames));
  static int16_t samples[16384];
  int64_t got;
  while ((got = kvox_read(in, samples, 16384)) > 0) write_samples(out, samples, (size_t)got);
  kvox_close(in);
  if (got < 0) fprintf(stderr, "%s: %s\n", argv[1], kvox_strerror((int)got));
  int write_failed = ferror(out);
  write_failed |= fclose(out) != 0;
  if (write_failed) perror(argc == 3 ? argv[2] : "standard output");
  return got < 0 || write_failed ? 1 : 0;
}
