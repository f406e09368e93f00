// The stream codecs: the plug-in's block conversions on memory, with the ADPCM state and DC tracker kept
// in the handle between calls.
#include <new>

#include "codec/blocks.h"
#include "libkvox/internal.h"

struct kvox_decoder {
  Coding coding;
  AdpcmState state;
  DcHistory history;
  int32_t sum;
};

struct kvox_encoder {
  Coding coding;
  AdpcmState state;
  DcHistory history;
  int32_t sum;
  // ADPCM codes samples in pairs; an odd one waits for its partner or for the end of the stream.
  bool holds_sample;
  int16_t held_sample;
};

namespace {

template <typename Codec>
Codec* NewCodec(kvox_coding coding) {
  const auto word = kvox_internal::WordOf(coding);
  if (!word) return nullptr;
  auto* codec = new (std::nothrow) Codec{};
  if (codec != nullptr) codec->coding = CodingOf(*word);
  return codec;
}

template <typename Codec>
void Restart(Codec& codec) {
  const Coding coding = codec.coding;
  codec = Codec{};
  codec.coding = coding;
}

}  // namespace

extern "C" {

kvox_decoder* kvox_decoder_new(kvox_coding coding) { return NewCodec<kvox_decoder>(coding); }

size_t kvox_decode(kvox_decoder* decoder, const uint8_t* in, size_t in_bytes, int16_t* out) {
  if (decoder == nullptr || in == nullptr || out == nullptr || in_bytes == 0) return 0;
  switch (decoder->coding) {
    case Coding::Alaw:
      AlawDecodeBlock(in, in_bytes, out);
      return in_bytes;
    case Coding::Mulaw:
      MulawDecodeBlock(in, in_bytes, out);
      return in_bytes;
    case Coding::Adpcm:
      AdpcmDecodeBlock(decoder->state, decoder->history, decoder->sum, in, in_bytes, out);
      return 2 * in_bytes;
    case Coding::None:
      break;
  }
  return 0;
}

void kvox_decoder_reset(kvox_decoder* decoder) {
  if (decoder != nullptr) Restart(*decoder);
}

void kvox_decoder_free(kvox_decoder* decoder) { delete decoder; }

kvox_encoder* kvox_encoder_new(kvox_coding coding) { return NewCodec<kvox_encoder>(coding); }

size_t kvox_encode(kvox_encoder* encoder, const int16_t* in, size_t samples, uint8_t* out) {
  if (encoder == nullptr || in == nullptr || out == nullptr || samples == 0) return 0;
  switch (encoder->coding) {
    case Coding::Alaw:
      return AlawEncodeBlock(in, samples, out);
    case Coding::Mulaw:
      return MulawEncodeBlock(in, samples, out);
    case Coding::Adpcm:
      break;
    case Coding::None:
      return 0;
  }
  size_t made = 0;
  if (encoder->holds_sample) {
    const int16_t pair[2] = {encoder->held_sample, in[0]};
    made = AdpcmEncodeBlock(encoder->state, encoder->history, encoder->sum, pair, 2, out);
    encoder->holds_sample = false;
    ++in;
    --samples;
  }
  const size_t paired = samples & ~size_t{1};
  made += AdpcmEncodeBlock(encoder->state, encoder->history, encoder->sum, in, paired, out + made);
  if (paired < samples) {
    encoder->holds_sample = true;
    encoder->held_sample = in[paired];
  }
  return made;
}

size_t kvox_encoder_flush(kvox_encoder* encoder, uint8_t* out) {
  if (encoder == nullptr) return 0;
  size_t made = 0;
  if (encoder->holds_sample && out != nullptr) {
    made = AdpcmEncodeBlock(encoder->state, encoder->history, encoder->sum, &encoder->held_sample, 1, out);
  }
  Restart(*encoder);
  return made;
}

void kvox_encoder_free(kvox_encoder* encoder) { delete encoder; }

}  // extern "C"
