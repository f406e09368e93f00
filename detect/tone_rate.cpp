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

// A frame is labelled only when its two peaks hold 85% of its power. The peaks' bins lie within
// [LowestPeak_bin - PeakHalfWidth_bins, HighestPeak_bin + PeakHalfWidth_bins], so a frame with more than 15% of
// its power outside that band cannot be labelled, and the 2048-point transform can be spared. That share is
// bounded from below without a transform: for a cosine series w(f) = a0 + 2 sum a_j cos(2 pi j f) of low order,
// the sum of w over the transform's bins weighted by their power is N (a0 R(0) + 2 sum a_j R(j)), from the
// frame's first autocorrelations. Built to be at most 0 inside the band and at most 1 outside, w gives a lower
// bound of the power outside; a frame whose bound passes 16% of its power is left out. Telephone speech, with
// most of its power below 500 Hz, is mostly left out this way; tone pairs never are.
constexpr size_t ScreenOrder = 8;
constexpr double ScreenShare = 0.16;  // the bound's limit: above the 15% a labelled frame allows, for rounding
constexpr size_t BandFirst_bin = LowestPeak_bin - PeakHalfWidth_bins;
constexpr size_t BandLast_bin = HighestPeak_bin + PeakHalfWidth_bins;
static_assert(BandFirst_bin == 128 && BandLast_bin == 630);

struct ScreenWeights {
  std::array<double, ScreenOrder + 1> a{};  // w(f) = a[0] + 2 sum a[j] cos(2 pi j f)
  double at_zero = 0, at_half = 0;          // w(0) and w(1/2)
};

// w = p_low(u) + p_high(u) in u = cos(2 pi f), each a Chebyshev polynomial stretched so that it stays within
// [-1, 1] over the band and one side, less 1 (so at most 0 there), and scaled to 1 at the other side's end: at most
// 0 in the band, at most 1 outside it.
const ScreenWeights& Screen() {
  static const ScreenWeights weights = [] {
    const double band_top = std::cos(2 * std::numbers::pi * double(BandFirst_bin) / Fft_points);   // u at the band's low edge
    const double band_bottom = std::cos(2 * std::numbers::pi * double(BandLast_bin) / Fft_points);  // and high edge
    const auto chebyshev = [](double x) {
      return std::abs(x) <= 1 ? std::cos(ScreenOrder * std::acos(x)) : std::cosh(ScreenOrder * std::acosh(std::abs(x)));
    };
    const auto low = [&](double u) { return (2 * u - band_top + 1) / (band_top + 1); };         // [-1, top] to [-1, 1]
    const auto high = [&](double u) { return (2 * u - band_bottom - 1) / (1 - band_bottom); };  // [bottom, 1] to [-1, 1]
    const auto w = [&](double u) {
      return (chebyshev(low(u)) - 1) / (chebyshev(low(1)) - 1) + (chebyshev(high(u)) - 1) / (chebyshev(high(-1)) - 1);
    };
    // w is a polynomial of degree ScreenOrder in u, so its Chebyshev coefficients come exactly from its values at
    // more nodes than that; with T_j(cos theta) = cos(j theta), a[j] is the mean of w(cos theta) cos(j theta).
    constexpr size_t Nodes = 32;
    ScreenWeights result;
    for (size_t j = 0; j <= ScreenOrder; ++j) {
      for (size_t m = 0; m < Nodes; ++m) {
        const double theta = std::numbers::pi * (double(m) + 0.5) / Nodes;
        result.a[j] += w(std::cos(theta)) * std::cos(double(j) * theta) / Nodes;
      }
    }
    result.at_zero = w(1);
    result.at_half = w(-1);
    return result;
  }();
  return weights;
}

// Whether the windowed frame `y` (zero beyond Frame_samples) has more power outside the peaks' band than a
// labelled frame allows.
bool MostlyOutsideTheBand(const float* y) {
  const ScreenWeights& screen = Screen();
  // Each lag's sum in four parts (n = 0, 1, 2, 3 mod 4), which vectorise: the bound has room for any rounding.
  double padded[ScreenOrder + Frame_samples] = {};
  double* x = padded + ScreenOrder;
  for (size_t n = 0; n < Frame_samples; ++n) x[n] = y[n];
  double parts[ScreenOrder + 1][4] = {};
  double sum[4] = {}, alternating[4] = {};
  for (size_t n = 0; n < Frame_samples; n += 4) {
#pragma GCC unroll 9
    for (size_t lag = 0; lag <= ScreenOrder; ++lag) {
#pragma omp simd
      for (size_t k = 0; k < 4; ++k) parts[lag][k] += x[n + k] * x[ptrdiff_t(n + k) - ptrdiff_t(lag)];
    }
#pragma omp simd
    for (size_t k = 0; k < 4; ++k) {
      sum[k] += x[n + k];
      alternating[k] += k % 2 ? -x[n + k] : x[n + k];
    }
  }
  const auto whole = [](const double* part) { return (part[0] + part[1]) + (part[2] + part[3]); };
  const double at_zero = whole(sum) * whole(sum), at_half = whole(alternating) * whole(alternating);  // bins 0, N/2
  double weighted = screen.a[0] * whole(parts[0]);
  for (size_t j = 1; j <= ScreenOrder; ++j) weighted += 2 * screen.a[j] * whole(parts[j]);
  // Over bins 0..N/2: half the sum over all N bins, plus half of bins 0 and N/2, which have no mirror.
  const double outside_at_least = (double(Fft_points) * weighted + screen.at_zero * at_zero + screen.at_half * at_half) / 2;
  const double total = (double(Fft_points) * whole(parts[0]) + at_zero + at_half) / 2;
  return outside_at_least > ScreenShare * total;
}

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
  // The frame's energy about its mean from integer sums, exactly: 256 times it is 256 sum(x^2) - sum(x)^2.
  int64_t sum = 0, squares = 0;
  for (size_t i = 0; i < Frame_samples; ++i) {
    sum += frame[i];
    squares += int64_t(frame[i]) * frame[i];
  }
  if (int64_t(Frame_samples) * squares - sum * sum < int64_t(Frame_samples * MinimumFrameEnergy)) return {};
  const double mean = double(sum) / double(Frame_samples);

  const auto& window = HannWindow();
  for (size_t i = 0; i < Frame_samples; ++i) fft.in[i] = kiss_fft_scalar((frame[i] - mean) * window[i]);
  if (MostlyOutsideTheBand(fft.in.data())) return {};
  kiss_fftr(fft.config, fft.in.data(), fft.out.data());  // the input past Frame_samples stays 0
  double totals[4] = {};
  for (size_t k = 0; k < Bin_count; ++k) {
    const double re = fft.out[k].r, im = fft.out[k].i;
    power[k] = re * re + im * im;
    totals[k % 4] += power[k];
  }
  const double total = (totals[0] + totals[1]) + (totals[2] + totals[3]);

  // The largest local maximum in the band, then the largest of the rest far enough from it (the first of equals).
  size_t maxima[HighestPeak_bin - LowestPeak_bin + 1];
  size_t maximum_count = 0;
  for (size_t k = LowestPeak_bin; k <= HighestPeak_bin; ++k) {
    if (power[k] > power[k - 1] && power[k] >= power[k + 1]) maxima[maximum_count++] = k;
  }
  size_t p1 = 0, p2 = 0;
  for (size_t m = 0; m < maximum_count; ++m) {
    if (p1 == 0 || power[maxima[m]] > power[p1]) p1 = maxima[m];
  }
  if (p1 == 0) return {};
  for (size_t m = 0; m < maximum_count; ++m) {
    const size_t k = maxima[m];
    const bool apart = std::abs(ptrdiff_t(k) - ptrdiff_t(p1)) > PeakSeparation_bins;
    if (apart && (p2 == 0 || power[k] > power[p2])) p2 = k;
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
  // An event is a run of at least MinimumEventFrames labelled frames, and every such run holds a frame whose
  // index is a multiple of MinimumEventFrames. So those frames are analysed first, and the frames around one
  // that is labelled; a frame left out lies in a stretch between two unlabelled frames too short for an event,
  // and counts as unlabelled, which changes no run that makes one.
  const size_t frame_count = (sample_count - Frame_samples) / Hop_samples + 1;
  std::vector<FrameTones> frames(frame_count);
  std::vector<bool> analysed(frame_count, false);
  const auto analyse = [&](size_t frame) {
    if (analysed[frame]) return;
    frames[frame] = AnalyseFrame(samples + frame * Hop_samples, fft, power);
    analysed[frame] = true;
  };
  for (size_t frame = 0; frame < frame_count; frame += MinimumEventFrames) {
    analyse(frame);
    if (frames[frame].label == FrameLabel::None) continue;
    const size_t first = frame >= MinimumEventFrames - 1 ? frame - (MinimumEventFrames - 1) : 0;
    const size_t last = std::min(frame_count - 1, frame + MinimumEventFrames - 1);
    for (size_t near = first; near <= last; ++near) analyse(near);
  }

  FrameTones previous;
  size_t run_frames = 0;
  const auto close_run = [&] {
    if (run_frames >= MinimumEventFrames) {
      int& count = previous.label == FrameLabel::Rate8000 ? events.events8 : events.events6;
      count++;
    }
    run_frames = 0;
  };
  for (const FrameTones& tones : frames) {
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
