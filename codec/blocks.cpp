#include "codec/blocks.h"

#include <cstring>

#include "codec/g711.h"

namespace {

// Samples sit in the host's buffer at any alignment, and in-place encoding writes code bytes over them,
// so samples move through memcpy and code bytes through uint8_t, which may alias anything.
int16_t LoadSample(const int16_t* samples, size_t index) {
  int16_t sample;
  std::memcpy(&sample, reinterpret_cast<const unsigned char*>(samples) + 2 * index, sizeof sample);
  return sample;
}

void StoreSample(int16_t* samples, size_t index, int16_t sample) {
  std::memcpy(reinterpret_cast<unsigned char*>(samples) + 2 * index, &sample, sizeof sample);
}

}  // namespace

void AlawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  for (size_t i = 0; i < code_count; ++i) StoreSample(samples, i, AlawToPcm(codes[i]));
}

void MulawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  for (size_t i = 0; i < code_count; ++i) StoreSample(samples, i, MulawToPcm(codes[i]));
}

void AdpcmDecodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
                      int16_t* samples) {
  for (size_t i = 0; i < byte_count; ++i) {
    StoreSample(samples, 2 * i, AdpcmDecodeSample(state, history, sum, bytes[i] >> 4));
    StoreSample(samples, 2 * i + 1, AdpcmDecodeSample(state, history, sum, bytes[i] & 0x0F));
  }
}

size_t AlawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  for (size_t i = 0; i < sample_count; ++i) codes[i] = PcmToAlaw(LoadSample(samples, i));
  return sample_count;
}

size_t MulawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  for (size_t i = 0; i < sample_count; ++i) codes[i] = PcmToMulaw(LoadSample(samples, i));
  return sample_count;
}

size_t AdpcmEncodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                        size_t sample_count, uint8_t* codes) {
  const size_t pair_count = sample_count / 2;
  for (size_t k = 0; k < pair_count; ++k) {
    const uint8_t high = AdpcmEncodeSample(state, history, sum, LoadSample(samples, 2 * k));
    const uint8_t low = AdpcmEncodeSample(state, history, sum, LoadSample(samples, 2 * k + 1));
    codes[k] = static_cast<uint8_t>(high << 4 | low);
  }
  if (sample_count % 2 != 0) {
    const int16_t last = LoadSample(samples, sample_count - 1);
    const uint8_t high = AdpcmEncodeSample(state, history, sum, last);
    const uint8_t low = AdpcmEncodeSample(state, history, sum, last);
    codes[pair_count] = static_cast<uint8_t>(high << 4 | low);
  }
  return (sample_count + 1) / 2;
}
