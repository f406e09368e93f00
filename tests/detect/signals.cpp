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

double Rms(const std::vector<double>& x) {
  double mean = 0, squares = 0;
  for (const double v : x) mean += v;
  mean /= double(std::max<size_t>(x.size(), 1));
  for (const double v : x) squares += (v - mean) * (v - mean);
  return std::sqrt(squares / double(std::max<size_t>(x.size(), 1)));
}

std::string Fixed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A second-order section (the audio cookbook's high- and low-pass); a Butterworth of order 4 is two of them
// with Q = 0.541 and 1.307.
struct Biquad {
  double b0, b1, b2, a1, a2;
  double z1 = 0, z2 = 0;
  double Run(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

Biquad Section(bool high_pass, double corner_hz, int rate_hz, double q) {
  const double w = TwoPi * corner_hz / rate_hz, alpha = std::sin(w) / (2 * q), c = std::cos(w);
  const double a0 = 1 + alpha;
  const double edge = high_pass ? (1 + c) / 2 : (1 - c) / 2;
  const double middle = high_pass ? -(1 + c) : 1 - c;
  return {edge / a0, middle / a0, edge / a0, -2 * c / a0, (1 - alpha) / a0};
}

void Butterworth4(std::vector<double>& x, bool high_pass, double corner_hz, int rate_hz) {
  for (const double q : {0.5412, 1.3066}) {
    Biquad section = Section(high_pass, corner_hz, rate_hz, q);
    for (double& v : x) v = section.Run(v);
  }
}

std::vector<double> Noise(const std::string& kind, size_t count, int rate_hz, std::mt19937_64& rng) {
  std::normal_distribution<double> gauss(0, 1);
  std::vector<double> noise(count);
  if (kind == "babble") {
    for (int talker = 0; talker < 4; ++talker) {
      const std::vector<int16_t> voice = SpeechLike(double(count) / rate_hz + 0.01, rate_hz, rng());
      for (size_t i = 0; i < count; ++i) noise[i] += voice[i];
    }
    return noise;
  }
  double b0 = 0, b1 = 0, b2 = 0, low = 0;
  const double pole = std::exp(-TwoPi * 150.0 / rate_hz);
  for (double& v : noise) {
    const double white = gauss(rng);
    if (kind == "pink") {  // three poles spread over the band approximate -3 dB per octave
      b0 = 0.99765 * b0 + white * 0.0990460;
      b1 = 0.96300 * b1 + white * 0.2965164;
      b2 = 0.57000 * b2 + white * 1.0526913;
      v = b0 + b1 + b2 + white * 0.1848;
    } else if (kind == "rumble") {  // engine and wind: mostly below 150 Hz
      low = pole * low + (1 - pole) * white;
      v = low + 0.05 * white;
    } else {
      v = white;
    }
  }
  return noise;
}

void AddAt(std::vector<double>& x, const std::vector<double>& addition, double rms) {
  const double scale = rms / std::max(Rms(addition), 1e-9);
  for (size_t i = 0; i < x.size(); ++i) x[i] += scale * addition[i];
}

std::vector<double> Hum(size_t count, int rate_hz, std::mt19937_64& rng, double& mains_hz) {
  std::uniform_real_distribution<double> uniform(0, 1);
  mains_hz = uniform(rng) < 0.5 ? 50 : 60;
  std::vector<double> hum(count);
  for (int k = 1; k <= 12 && k * mains_hz < 0.45 * rate_hz; ++k) {
    const double amplitude = (k % 2 ? 1.0 : 0.3) / k, phase = TwoPi * uniform(rng);
    for (size_t i = 0; i < count; ++i)
      hum[i] += amplitude * std::sin(TwoPi * k * mains_hz * double(i) / rate_hz + phase);
  }
  return hum;
}

std::vector<int16_t> Rounded(const std::vector<double>& x) {
  std::vector<int16_t> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) out[i] = Saturate(x[i]);
  return out;
}

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
        const double gain =
            std::exp(-std::pow((f - f1) / 150, 2)) + 0.5 * std::exp(-std::pow((f - f2) / 200, 2)) + 0.02;
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

std::vector<int16_t> MusicLike(double seconds, int rate_hz, uint64_t seed) {
  static constexpr int Major[] = {0, 2, 4, 5, 7, 9, 11};
  static constexpr int Progression[] = {0, 4, 5, 3};  // I V vi IV
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0, 1);
  const size_t total = size_t(seconds * rate_hz);
  std::vector<double> mix(total, 0.0);
  const auto pluck = [&](int midi_note, size_t start, double length_s, double amplitude, double decay_per_s) {
    const double f = 440 * std::pow(2.0, (midi_note - 69) / 12.0);
    const size_t end = std::min(total, start + size_t(length_s * rate_hz));
    for (int k = 1; k <= 8 && k * f < 0.45 * rate_hz; ++k) {
      const double step = TwoPi * k * f / rate_hz, partial_decay = decay_per_s * (1 + 0.3 * (k - 1)) / rate_hz;
      for (size_t i = start; i < end; ++i) {
        const double n = double(i - start);
        mix[i] +=
            amplitude / k * std::exp(-partial_decay * n) * std::min(1.0, n / (0.005 * rate_hz)) * std::sin(step * n);
      }
    }
  };
  const double beat_s = 60 / (80 + 60 * uniform(rng));
  const int root = 48 + int(12 * uniform(rng));
  const auto degree = [&](int step) { return root + 12 * (step / 7) + Major[step % 7]; };
  size_t bar = 0;
  for (size_t start = 0; start < total; start += size_t(4 * beat_s * rate_hz), ++bar) {
    const int chord = Progression[bar % 4];
    for (const int voice : {0, 2, 4}) pluck(degree(chord + voice) + 12, start, 4 * beat_s, 0.5, 1.5);
    for (int beat = 0; beat < 4; ++beat) {
      const size_t at = start + size_t(beat * beat_s * rate_hz);
      pluck(degree(chord) - 12, at, beat_s, 1.0, 4);
      for (int half = 0; half < 2; ++half) {
        if (uniform(rng) < 0.2) continue;  // a rest
        pluck(degree(7 + chord + int(7 * uniform(rng))) + 12, at + size_t(half * beat_s / 2 * rate_hz), beat_s, 0.6, 6);
      }
    }
  }
  // Loud and even: a soft limiter after a gain to a high level.
  const double level = (4000 + 6000 * uniform(rng)) / std::max(Rms(mix), 1e-9);
  for (double& v : mix) v = 20000 * std::tanh(level * v / 20000);
  return Rounded(mix);
}

const char* FaultName(RecordingFault fault) {
  switch (fault) {
    case RecordingFault::None:
      return "none (clean speech)";
    case RecordingFault::DcOffset:
      return "DC offset up to the RMS";
    case RecordingFault::Clipping:
      return "clipping";
    case RecordingFault::TelephoneBand:
      return "telephone band 300-3400 Hz";
    case RecordingFault::VeryQuiet:
      return "very quiet (-45 dBFS)";
    case RecordingFault::LoudNoise:
      return "loud background noise (0-10 dB SNR)";
    case RecordingFault::TandemCoding:
      return "tandem coding (G.711 or ADPCM before)";
    case RecordingFault::MusicOnHold:
      return "music on hold";
    case RecordingFault::LongSilences:
      return "long silences around short speech";
    case RecordingFault::MainsHum:
      return "50/60 Hz hum";
    case RecordingFault::Several:
      return "offset, band and noise, hum or clipping at once";
    case RecordingFault::SilencesOnOffset:
      return "long silences on a DC offset";
  }
  return "";
}

FaultyRecording WithFault(RecordingFault fault, const std::vector<int16_t>& speech, int rate_hz, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0, 1);
  std::vector<double> x(speech.begin(), speech.end());
  const double speech_rms = std::max(Rms(x), 1.0);
  FaultyRecording out;
  const auto offset = [&](double low, double high) {
    const double share = (low + (high - low) * uniform(rng)) * (uniform(rng) < 0.5 ? -1 : 1);
    const double dc = share * Rms(x);
    for (double& v : x) v += dc;
    return "offset " + Fixed("%+.2f", share) + " RMS";
  };
  const auto band = [&] {
    Butterworth4(x, true, 300, rate_hz);
    if (3400 < 0.5 * rate_hz) Butterworth4(x, false, 3400, rate_hz);
    return std::string("300-3400 Hz");
  };
  const auto clip = [&] {
    double peak = 1;
    for (const double v : x) peak = std::max(peak, std::abs(v));
    if (uniform(rng) < 0.5) {
      const double drive_db = 3 + 17 * uniform(rng);
      const double gain = 32767 / peak * std::pow(10, drive_db / 20);
      for (double& v : x) v = std::clamp(gain * v, -32768.0, 32767.0);
      return "driven " + Fixed("%.1f", drive_db) + " dB past full scale";
    }
    const double level = (0.4 + 0.4 * uniform(rng)) * peak;
    for (double& v : x) v = std::clamp(v, -level, level);
    return "clipped at " + Fixed("%.0f", 100 * level / peak) + "% of the peak";
  };
  const auto noise = [&](double low_db, double high_db) {
    static const char* const Kinds[] = {"white", "pink", "rumble", "babble"};
    const std::string kind = Kinds[rng() % 4];
    const double snr_db = low_db + (high_db - low_db) * uniform(rng);
    AddAt(x, Noise(kind, x.size(), rate_hz, rng), Rms(x) / std::pow(10, snr_db / 20));
    return kind + " noise at " + Fixed("%.1f", snr_db) + " dB SNR";
  };
  const auto hum = [&](double low_db, double high_db) {
    double mains_hz = 0;
    const double level_db = low_db + (high_db - low_db) * uniform(rng);
    AddAt(x, Hum(x.size(), rate_hz, rng, mains_hz), Rms(x) * std::pow(10, level_db / 20));
    return Fixed("%.0f", mains_hz) + " Hz hum at " + Fixed("%+.1f", level_db) + " dB";
  };
  switch (fault) {
    case RecordingFault::None:
      break;
    case RecordingFault::DcOffset:
      out.detail = offset(0, 1);
      break;
    case RecordingFault::Clipping:
      out.detail = clip();
      break;
    case RecordingFault::TelephoneBand:
      out.detail = band();
      break;
    case RecordingFault::VeryQuiet: {
      const double level_db = -48 + 6 * uniform(rng);
      const double gain = 32768 * std::pow(10, level_db / 20) / speech_rms;
      for (double& v : x) v *= gain;
      out.detail = Fixed("%.1f", level_db) + " dBFS";
      break;
    }
    case RecordingFault::LoudNoise:
      out.detail = noise(0, 10);
      break;
    case RecordingFault::TandemCoding: {
      const auto before = DetectedCoding(rng() % 3);
      const double gain_db = -6 + 12 * uniform(rng);
      const std::vector<int16_t> once = Decode(before, Encode(before, Rounded(x)));
      for (size_t i = 0; i < x.size(); ++i) x[i] = once[i] * std::pow(10, gain_db / 20);
      out.detail = std::string(CodingName(before)) + " before, " + Fixed("%+.1f", gain_db) + " dB between";
      break;
    }
    case RecordingFault::MusicOnHold: {
      const std::vector<int16_t> music = MusicLike(double(x.size()) / rate_hz + 0.01, rate_hz, rng());
      const bool announcement = uniform(rng) < 0.5;
      for (size_t i = 0; i < x.size(); ++i) x[i] = (announcement ? x[i] + 0.3 * music[i] : music[i]);
      out.detail = announcement ? "music under speech" : "music alone";
      break;
    }
    case RecordingFault::LongSilences:
    case RecordingFault::SilencesOnOffset: {
      const double share = 0.1 + 0.15 * uniform(rng);
      const size_t spoken = std::min(x.size(), std::max(size_t(share * double(x.size())), size_t(rate_hz / 5)));
      const size_t from = size_t(uniform(rng) * double(speech.size() - spoken));
      const size_t to = size_t(uniform(rng) * double(x.size() - spoken));
      const double line_rms = uniform(rng) < 0.5 ? 0 : 1 + 5 * uniform(rng);
      std::normal_distribution<double> gauss(0, line_rms);
      for (double& v : x) v = line_rms > 0 ? gauss(rng) : 0;
      for (size_t i = 0; i < spoken; ++i) x[to + i] += speech[from + i];
      out.detail = Fixed("%.0f%% speech in ", 100.0 * double(spoken) / double(x.size())) +
                   (line_rms > 0 ? "a line of RMS " + Fixed("%.1f", line_rms) : std::string("digital silence"));
      if (fault == RecordingFault::SilencesOnOffset) out.detail += ", " + offset(0, 1);
      break;
    }
    case RecordingFault::MainsHum:
      out.detail = hum(-12, 6);
      break;
    case RecordingFault::Several: {
      out.detail = band();
      const int third = int(rng() % 3);
      out.detail += ", " + (third == 0 ? noise(10, 20) : third == 1 ? hum(-12, 0) : clip());
      out.detail += ", " + offset(0.3, 1);
      break;
    }
  }
  out.samples = Rounded(x);
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

std::vector<int16_t> Decode(DetectedCoding coding, const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(coding == DetectedCoding::Adpcm ? 2 * bytes.size() : bytes.size());
  switch (coding) {
    case DetectedCoding::Alaw:
      AlawDecodeBlock(bytes.data(), bytes.size(), samples.data());
      break;
    case DetectedCoding::Mulaw:
      MulawDecodeBlock(bytes.data(), bytes.size(), samples.data());
      break;
    case DetectedCoding::Adpcm: {
      AdpcmState state{0, 0};
      DcHistory history{};
      int32_t sum = 0;
      AdpcmDecodeBlock(state, history, sum, bytes.data(), bytes.size(), samples.data());
      break;
    }
  }
  return samples;
}

std::vector<int16_t> DrivenPastFullScale(const std::vector<int16_t>& samples, double drive_db) {
  int peak = 1;
  for (const int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  const double gain = 32767.0 / peak * std::pow(10, drive_db / 20);
  std::vector<int16_t> driven;
  driven.reserve(samples.size());
  for (const int16_t s : samples) driven.push_back(int16_t(std::clamp(std::lround(gain * s), -32768L, 32767L)));
  return driven;
}

std::vector<uint8_t> NibblesSwapped(std::vector<uint8_t> bytes) {
  for (uint8_t& b : bytes) b = uint8_t(b << 4 | b >> 4);
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
