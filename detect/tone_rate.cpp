#include "detect/tone_rate.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr size_t Frame_samples = 256;
constexpr size_t Hop_samples = 128;
constexpr size_t Fft_points = 2048;
constexpr size_t Bin_count = Fft_points / 2 + 1;
constexpr double MinimumFrameEnergy = 256.0 * 100 * 100;  // rms of 100 in 16-bit units
constexpr size_t LowestPeak_bin = 144;                    // 0.07 cycles per sample, rounded up
constexpr size_t HighestPeak_bin = 614;                   // 0.30 cycles per sample, rounded down
constexpr ptrdiff_t PeakSeparation_bins = 32;
constexpr ptrdiff_t PeakHalfWidth_bins = 16;
static_assert(LowestPeak_bin - 1 < 0.07 * Fft_points && 0.07 * Fft_points <= LowestPeak_bin);
static_assert(HighestPeak_bin == size_t(0.30 * Fft_points));

constexpr std::array<double, 4> DtmfRows_hz = {697, 770, 852, 941};
constexpr std::array<double, 4> DtmfColumns_hz = {1209, 1336, 1477, 1633};
struct TonePair {
  double low_hz, high_hz;
};
constexpr std::array<TonePair, 3> CallProgressPairs_hz = {{{350, 440}, {440, 480}, {480, 620}}};  // dial, ring, busy

constexpr double LabelTolerance = 0.012;   // a frame must fit one rate's tones this closely
constexpr double LabelMargin = 0.004;      // and fit it this much better than the other rate
constexpr double HarmonicTolerance = 0.004;
constexpr double SteadyTolerance = 0.003;  // frame-to-frame frequency drift within one event
constexpr size_t MinimumEventFrames = 3;

const std::array<double, Frame_samples>& HannWindow() {
  static const std::array<double, Frame_samples> window = [] {
    std::array<double, Frame_samples> w{};
    for (size_t i = 0; i < w.size(); ++i) w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / 255.0);
    return w;
  }();
  return window;
}

// A real-input FFT in single precision. kissfft's configuration holds scratch space that every transform
// writes, so each analysis owns one instead of sharing it between threads.
struct FftBuffers {
  kiss_fftr_cfg config = kiss_fftr_alloc(int(Fft_points), 0, nullptr, nullptr);
  std::array<kiss_fft_scalar, Fft_points> in{};
  std::array<kiss_fft_cpx, Bin_count> out{};
  FftBuffers() = default;
  FftBuffers(const FftBuffers&) = delete;
  FftBuffers& operator=(const FftBuffers&) = delete;
  ~FftBuffers() { kiss_fftr_free(config); }
};

enum class FrameLabel { None, Rate8000, Rate6000 };

struct FrameTones {
  FrameLabel label = FrameLabel::None;
  double f1 = 0, f2 = 0;  // cycles per sample, f1 < f2
};

// Relative distance of f (cycles per sample) at `rate` from the nearest of `table` (Hz).
template <size_t N>
double NearestDeviation(double f, double rate, const std::array<double, N>& table) {
  double best = INFINITY;
  for (const double hz : table) best = std::min(best, std::abs(f * rate / hz - 1));
  return best;
}

double ToneDeviation(double f1, double f2, double rate) {
  double deviation =
      std::max(NearestDeviation(f1, rate, DtmfRows_hz), NearestDeviation(f2, rate, DtmfColumns_hz));
  for (const TonePair& pair : CallProgressPairs_hz) {
    deviation = std::min(deviation, std::max(std::abs(f1 * rate / pair.low_hz - 1), std::abs(f2 * rate / pair.high_hz - 1)));
  }
  return deviation;
}

bool NearHarmonic(double f1, double f2) {
  const double ratio = f2 / f1;
  for (int j = 1; j <= 6; ++j) {
    for (int k = j + 1; k <= 6; ++k) {
      if (std::abs(ratio / (double(k) / j) - 1) <= HarmonicTolerance) return true;
    }
  }
  return false;
}

double PeakEnergy(const std::vector<double>& power, size_t peak) {
  const size_t first = peak >= size_t(PeakHalfWidth_bins) ? peak - PeakHalfWidth_bins : 0;
  const size_t last = std::min(power.size() - 1, peak + PeakHalfWidth_bins);
  double energy = 0;
  for (size_t k = first; k <= last; ++k) energy += power[k];
  return energy;
}

// Peak frequency in cycles per sample, refined by a parabola through the log power of the peak and its
// neighbours.
double RefinedFrequency(const std::vector<double>& power, size_t peak) {
  if (!(power[peak - 1] > 0 && power[peak + 1] > 0)) return double(peak) / double(Fft_points);
  const double left = std::log(power[peak - 1]);
  const double centre = std::log(power[peak]);
  const double right = std::log(power[peak + 1]);
  const double curvature = left - 2 * centre + right;
  const double offset = curvature < 0 ? 0.5 * (left - right) / curvature : 0.0;
  return (double(peak) + offset) / double(Fft_points);
}

FrameTones AnalyseFrame(const int32_t* frame, FftBuffers& fft, std::vector<double>& power) {
  double mean = 0;
  for (size_t i = 0; i < Frame_samples; ++i) mean += frame[i];
  mean /= double(Frame_samples);
  double energy = 0;
  for (size_t i = 0; i < Frame_samples; ++i) energy += (frame[i] - mean) * (frame[i] - mean);
  if (energy < MinimumFrameEnergy) return {};

  const auto& window = HannWindow();
  for (size_t i = 0; i < Frame_samples; ++i) fft.in[i] = kiss_fft_scalar((frame[i] - mean) * window[i]);
  std::fill(fft.in.begin() + Frame_samples, fft.in.end(), kiss_fft_scalar(0));
  kiss_fftr(fft.config, fft.in.data(), fft.out.data());
  double total = 0;
  for (size_t k = 0; k < Bin_count; ++k) {
    const double re = fft.out[k].r, im = fft.out[k].i;
    power[k] = re * re + im * im;
    total += power[k];
  }

  size_t p1 = 0, p2 = 0;
  for (size_t k = LowestPeak_bin; k <= HighestPeak_bin; ++k) {
    const bool local_maximum = power[k] > power[k - 1] && power[k] >= power[k + 1];
    if (local_maximum && (p1 == 0 || power[k] > power[p1])) p1 = k;
  }
  if (p1 == 0) return {};
  for (size_t k = LowestPeak_bin; k <= HighestPeak_bin; ++k) {
    const bool local_maximum = power[k] > power[k - 1] && power[k] >= power[k + 1];
    const bool apart = std::abs(ptrdiff_t(k) - ptrdiff_t(p1)) > PeakSeparation_bins;
    if (local_maximum && apart && (p2 == 0 || power[k] > power[p2])) p2 = k;
  }
  if (p2 == 0) return {};
  const double e1 = PeakEnergy(power, p1);
  const double e2 = PeakEnergy(power, p2);
  if (e2 < 0.1 * e1 || e1 + e2 < 0.85 * total) return {};  // twist over 10 dB, or not a clean pair

  FrameTones tones;
  tones.f1 = RefinedFrequency(power, p1);
  tones.f2 = RefinedFrequency(power, p2);
  if (tones.f1 > tones.f2) std::swap(tones.f1, tones.f2);
  if (NearHarmonic(tones.f1, tones.f2)) return {};

  const double d8 = ToneDeviation(tones.f1, tones.f2, 8000);
  const double d6 = ToneDeviation(tones.f1, tones.f2, 6000);
  if (std::min(d8, d6) <= LabelTolerance && std::abs(d8 - d6) >= LabelMargin) {
    tones.label = d8 < d6 ? FrameLabel::Rate8000 : FrameLabel::Rate6000;
  }
  return tones;
}

}  // namespace

ToneEvents CountToneEvents(const int32_t* samples, size_t sample_count) {
  ToneEvents events;
  if (sample_count < Frame_samples) return events;
  FftBuffers fft;
  std::vector<double> power(Bin_count);
  FrameTones previous;
  size_t run_frames = 0;
  const auto close_run = [&] {
    if (run_frames >= MinimumEventFrames) {
      int& count = previous.label == FrameLabel::Rate8000 ? events.events8 : events.events6;
      count++;
    }
    run_frames = 0;
  };
  for (size_t start = 0; start + Frame_samples <= sample_count; start += Hop_samples) {
    const FrameTones tones = AnalyseFrame(samples + start, fft, power);
    const bool continues = run_frames > 0 && tones.label == previous.label &&
                           std::abs(tones.f1 / previous.f1 - 1) < SteadyTolerance &&
                           std::abs(tones.f2 / previous.f2 - 1) < SteadyTolerance;
    if (!continues) close_run();
    if (tones.label != FrameLabel::None) run_frames++;
    previous = tones;
  }
  close_run();
  return events;
}

RateDecision DecideRate(ToneEvents events) {
  const bool favour8 = events.events8 > events.events6;
  const int favoured = favour8 ? events.events8 : events.events6;
  const int other = favour8 ? events.events6 : events.events8;
  const int net = favoured - 3 * other;
  const int rate = favour8 ? 8000 : 6000;
  RateDecision decision;
  if (net >= 2) {
    decision.rate = rate;
    decision.confidence = net >= 8 ? 0.99 : net >= 4 ? 0.97 : 0.90;
  } else if (net == 1) {
    decision.hint = rate;
    decision.confidence = 0.6;
  }
  return decision;
}
