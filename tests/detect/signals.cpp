#include "tests/detect/signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>

#include "codec/blocks.h"

namespace {

constexpr double TwoPi = 2 * std::numbers::pi;

int16_t Saturate(double v) { return int16_t(std::clamp(std::lround(v), -32768L, 32767L)); }

}  // namespace

std::vector<int16_t> SpeechLike(double seconds, int rate_hz, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> gauss(0, 1);
  const size_t total = size_t(seconds * rate_hz);
  std::vector<int16_t> out;
  out.reserve(total);
  const double level = 1500 + 5000 * uniform(rng);
  while (out.size() < total) {
    // A syllable: pitch glides from f_start to f_end while two formants move.
    const size_t syllable = size_t((0.12 + 0.2 * uniform(rng)) * rate_hz);
    const double f_start = 90 + 170 * uniform(rng), f_end = 90 + 170 * uniform(rng);
    const double f1_start = 300 + 500 * uniform(rng), f1_end = 300 + 500 * uniform(rng);
    const double f2_start = 900 + 1400 * uniform(rng), f2_end = 900 + 1400 * uniform(rng);
    double phase = 0;
    for (size_t i = 0; i < syllable && out.size() < total; ++i) {
      const double progress = double(i) / double(syllable);
      const double f0 = f_start + (f_end - f_start) * progress;
      const double f1 = f1_start + (f1_end - f1_start) * progress;
      const double f2 = f2_start + (f2_end - f2_start) * progress;
      phase += TwoPi * f0 / rate_hz;
      double v = 0;
      for (int k = 1; k * f0 < std::min(3400.0, 0.45 * rate_hz); ++k) {
        const double f = k * f0;
        const double gain = std::exp(-std::pow((f - f1) / 150, 2)) + 0.5 * std::exp(-std::pow((f - f2) / 200, 2)) + 0.02;
        v += gain * std::sin(k * phase) / std::sqrt(double(k));
      }
      const double envelope = std::sin(std::numbers::pi * progress);
      out.push_back(Saturate(level * envelope * v + 20 * gauss(rng)));
    }
    const size_t pause = size_t((0.05 + 0.3 * uniform(rng)) * rate_hz);
    for (size_t i = 0; i < pause && out.size() < total; ++i) out.push_back(Saturate(4 * gauss(rng)));
  }
  return out;
}

std::vector<int16_t> LineNoise(double seconds, int rate_hz, double rms, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> gauss(0, 1);
  std::vector<int16_t> out(size_t(seconds * rate_hz));
  double previous = 0;
  for (int16_t& s : out) {
    const double v = gauss(rng);
    s = Saturate(rms * (v + 0.5 * previous) / 1.118);
    previous = v;
  }
  return out;
}

std::vector<int16_t> DtmfDigits(const std::string& digits, int rate_hz, uint64_t seed) {
  static constexpr char Keys[] = "123A456B789C*0#D";
  static constexpr double Rows[] = {697, 770, 852, 941};
  static constexpr double Columns[] = {1209, 1336, 1477, 1633};
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> gauss(0, 1);
  std::vector<int16_t> out;
  for (const char digit : digits) {
    const size_t key = size_t(std::find(Keys, Keys + 16, digit) - Keys) % 16;
    const double low = Rows[key / 4] * (1 + 0.01 * (uniform(rng) - 0.5));
    const double high = Columns[key % 4] * (1 + 0.01 * (uniform(rng) - 0.5));
    const double level = 3000 + 5000 * uniform(rng);
    const size_t tone = size_t((0.08 + 0.1 * uniform(rng)) * rate_hz);
    for (size_t i = 0; i < tone; ++i) {
      const double t = double(i) / rate_hz;
      out.push_back(Saturate(level * (std::sin(TwoPi * low * t) + 0.8 * std::sin(TwoPi * high * t)) + 10 * gauss(rng)));
    }
    const size_t gap = size_t((0.06 + 0.1 * uniform(rng)) * rate_hz);
    for (size_t i = 0; i < gap; ++i) out.push_back(Saturate(10 * gauss(rng)));
  }
  return out;
}

std::vector<uint8_t> Encode(DetectedCoding coding, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size());
  switch (coding) {
    case DetectedCoding::Alaw:
      AlawEncodeBlock(samples.data(), samples.size(), bytes.data());
      break;
    case DetectedCoding::Mulaw:
      MulawEncodeBlock(samples.data(), samples.size(), bytes.data());
      break;
    case DetectedCoding::Adpcm: {
      AdpcmState state{0, 0};
      DcHistory history{};
      int32_t sum = 0;
      bytes.resize(AdpcmEncodeBlock(state, history, sum, samples.data(), samples.size(), bytes.data()));
      break;
    }
  }
  return bytes;
}

std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes;
  for (const int16_t s : samples) {
    bytes.push_back(uint8_t(uint16_t(s) & 0xFF));
    bytes.push_back(uint8_t(uint16_t(s) >> 8));
  }
  return bytes;
}
