#include "detect/code_length.h"

#include <math.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

// With GCC on x86-64 glibc, the loops over a tile are built three times, for the baseline, AVX2 and AVX-512, and
// the one the processor runs is picked when the program starts. glibc's vector math library has erfc and log2
// for eight, four and two doubles at a time (within a few units in the last place of the scalar ones); declared
// here as SIMD functions, they are what the loops call. Elsewhere (clang, the page's WebAssembly) the same loops
// call the scalar functions. Every loop is elementwise or sums in a fixed order, so the figures do not depend on
// the vector width, and tiles are padded to whole vectors so no sample falls to a scalar remainder.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__)
extern "C" {
#pragma omp declare simd notinbranch
double erfc(double) noexcept;
#pragma omp declare simd notinbranch
double log2(double) noexcept;
}
#define KVOX_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#define KVOX_SIMD_LOOP _Pragma("omp simd")
#else
// clang cannot vectorise loops that call scalar erfc and log2, and with -Werror it rejects a request to.
#define KVOX_VECTOR_CLONES
#define KVOX_SIMD_LOOP
#endif

namespace {

constexpr size_t PredictorOrder = CodeLengthModel::PredictorOrder;
constexpr size_t FitLength_samples = CodeLengthModel::FitLength_samples;
constexpr size_t FitInterval_samples = 64;
constexpr double VarianceFloor = 4;
constexpr size_t Tile_samples = 256;
constexpr size_t Lanes = 8;  // the loops over a tile run in whole groups of this many samples
static_assert(Tile_samples % Lanes == 0 && FitLength_samples % 4 == 0);
// Past this, half of erfc is below 1e-17: beside the uniform floor of at least 1.5e-7 it would change a length
// by under 1e-10 bits, so the tail is taken as 0.
constexpr double NegligibleTail_z = 5.9;

using Coefficients = CodeLengthModel::Coefficients;

const std::array<double, FitLength_samples>& FitWindow() {
  static const std::array<double, FitLength_samples> window = [] {
    std::array<double, FitLength_samples> w{};
    for (size_t i = 0; i < w.size(); ++i) w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i + 1) / 257.0);
    return w;
  }();
  return window;
}

using Autocorrelation = std::array<double, PredictorOrder + 1>;

// Levinson-Durbin on `count` autocorrelations at once, in step: the recursion is a chain of divisions, and
// several independent chains keep the processor busy. A perfectly predictable history keeps the orders found
// before its prediction error reached 0.
[[gnu::always_inline]] inline void LevinsonDurbin(const Autocorrelation* r, size_t count, Coefficients* a) {
  constexpr size_t MaxCount = 8;
  double error[MaxCount];
  bool going[MaxCount];
  for (size_t p = 0; p < count; ++p) {
    a[p] = Coefficients{};
    error[p] = r[p][0];
    going[p] = true;
  }
  for (size_t i = 1; i <= PredictorOrder; ++i) {
    for (size_t p = 0; p < count; ++p) {
      if (!going[p]) continue;
      double acc = r[p][i];
      for (size_t j = 1; j < i; ++j) acc -= a[p][j] * r[p][i - j];
      const double reflection = acc / error[p];
      Coefficients next = a[p];
      for (size_t j = 1; j < i; ++j) next[j] = a[p][j] - reflection * a[p][i - j];
      next[i] = reflection;
      a[p] = next;
      error[p] *= 1 - reflection * reflection;
      going[p] = error[p] > 0;
    }
  }
}

// The autocorrelations of the windowed samples just before `history_end`, which has FitLength_samples valid
// (zero-padded) samples before it, ready for the predictor's fit. Each lag's sum is kept in four parts, samples
// i = 0, 1, 2, 3 (mod 4), so the nine lags make 36 independent sums that fill the vector units; the parts are
// added in a fixed order.
[[gnu::always_inline]] inline Autocorrelation FitAutocorrelation(const double* history_end) {
  // Plain arrays and pointers: unoptimised (sanitizer) builds pay for every std::array access as a call.
  const double* window = FitWindow().data();
  // Lags reach PredictorOrder samples before the window's start, where the windowed signal is 0.
  double padded[PredictorOrder + FitLength_samples];
  std::fill(padded, padded + PredictorOrder, 0.0);
  double* y = padded + PredictorOrder;
  const double* history = history_end - FitLength_samples;
  for (size_t i = 0; i < FitLength_samples; ++i) y[i] = window[i] * history[i];
  double parts[PredictorOrder + 1][4] = {};
  for (size_t i = 0; i < FitLength_samples; i += 4) {
#pragma GCC unroll 9
    for (size_t lag = 0; lag <= PredictorOrder; ++lag) {
KVOX_SIMD_LOOP
      for (size_t k = 0; k < 4; ++k) parts[lag][k] += y[i + k] * y[ptrdiff_t(i + k) - ptrdiff_t(lag)];
    }
  }
  Autocorrelation autocorrelation{};
  for (size_t lag = 0; lag <= PredictorOrder; ++lag) {
    autocorrelation[lag] = (parts[lag][0] + parts[lag][1]) + (parts[lag][2] + parts[lag][3]);
  }
  autocorrelation[0] = autocorrelation[0] * 1.0001 + 1e-6;
  return autocorrelation;
}

// The length of each sample's code: -log2 of the probability of its cell [low, high] under a Gaussian of the
// given mean, with `scale` = 1 / (sigma * sqrt(2)), mixed with the uniform floor. The probability is taken from
// whichever tail avoids cancellation: Q(a) - Q(b) above the mean, Q(-b) - Q(-a) below it, else
// 1 - Q(-a) - Q(b), with Q(z) = erfc(z) / 2 in these scaled units. `count` is a multiple of Lanes.
[[gnu::always_inline]] inline void CellLengths(const double* low, const double* high, const double* mean, const double* scale, size_t count,
                        double uniform_share, double* lengths_bits) {
  for (size_t group = 0; group < count; group += Lanes) {
KVOX_SIMD_LOOP
    for (size_t i = group; i < group + Lanes; ++i) {
      const double a = (low[i] - mean[i]) * scale[i];
      const double b = (high[i] - mean[i]) * scale[i];
      const bool one_side = a > 0 || b < 0;
      const double z1 = a > 0 ? a : b < 0 ? -b : -a;
      const double z2 = a > 0 ? b : b < 0 ? -a : b;
      // Both calls are made, so they need no mask; past the negligible tail the argument is held back, since
      // the vector erfc is slower on large ones and the result is not used.
      const double erfc1 = erfc(std::min(z1, NegligibleTail_z + 1)), erfc2 = erfc(std::min(z2, NegligibleTail_z + 1));
      const double q1 = z1 > NegligibleTail_z ? 0.0 : 0.5 * erfc1;
      const double q2 = z2 > NegligibleTail_z ? 0.0 : 0.5 * erfc2;
      const double probability = one_side ? q1 - q2 : 1 - q1 - q2;
      lengths_bits[i] = -log2(0.99 * probability + uniform_share);
    }
  }
}

// The scale 1 / (sigma * sqrt(2)) of each sample's Gaussian, as charged and uncharged. A constant offset or a
// full-scale oscillation at half the rate is what digital silence looks like under a wrong decoding; counting
// them as noise keeps such readings from looking cheap. `count` is a multiple of Lanes.
[[gnu::always_inline]] inline void GaussianScales(const double* dcs, const double* nyquists,
                                                  const double* quarter_squared_cells,
                                                  const double* residual_variances, size_t count, double* scales,
                                                  double* uncharged_scales) {
  for (size_t group = 0; group < count; group += Lanes) {
KVOX_SIMD_LOOP
    for (size_t i = group; i < group + Lanes; ++i) {
      const double dc = dcs[i], nyquist = nyquists[i], quarter_squared_cell = quarter_squared_cells[i];
      const bool charged = (dc * dc > quarter_squared_cell) | (nyquist * nyquist > quarter_squared_cell);
      const double half_cell = std::sqrt(quarter_squared_cell);
      const double dc_excess = std::max(0.0, dc - half_cell);
      const double nyquist_excess = std::max(0.0, nyquist - half_cell);
      const double excess = charged ? dc_excess * dc_excess + nyquist_excess * nyquist_excess : 0.0;
      uncharged_scales[i] = 1 / (std::sqrt(VarianceFloor + residual_variances[i]) * std::numbers::sqrt2);
      scales[i] = 1 / (std::sqrt(VarianceFloor + (residual_variances[i] + excess)) * std::numbers::sqrt2);
    }
  }
}

}  // namespace

CodeLengthModel::CodeLengthModel(double alphabet_size) : uniform_share_(0.01 / alphabet_size) {}

void CodeLengthModel::Measure(const int32_t* values, const double* low, const double* high, size_t sample_count,
                              double* lengths_bits, double* uncharged_lengths_bits) {
  for (size_t done = 0; done < sample_count; done += Tile_samples) {
    MeasureTile(values + done, low + done, high + done, std::min(Tile_samples, sample_count - done),
                lengths_bits + done, uncharged_lengths_bits + done);
  }
}

KVOX_VECTOR_CLONES
void CodeLengthModel::MeasureTile(const int32_t* values, const double* low, const double* high, size_t sample_count,
                                  double* lengths_bits, double* uncharged_lengths_bits) {
  // The samples as doubles behind the last FitLength_samples before them, and the squared cell widths behind
  // the last OffsetWindow_samples. The tile is padded to whole groups of Lanes with a harmless cell.
  const size_t padded_count = (sample_count + Lanes - 1) / Lanes * Lanes;
  alignas(64) double samples[FitLength_samples + Tile_samples];
  alignas(64) double widths[OffsetWindow_samples + Tile_samples];
  std::copy(history_.begin(), history_.end(), samples);
  std::copy(width_history_.begin(), width_history_.end(), widths);
  double* x = samples + FitLength_samples;
  double* squared_widths = widths + OffsetWindow_samples;
  alignas(64) double cell_low[Tile_samples], cell_high[Tile_samples];
  for (size_t i = 0; i < sample_count; ++i) {
    x[i] = values[i];
    cell_low[i] = low[i];
    cell_high[i] = high[i];
    const double width = high[i] - low[i];
    squared_widths[i] = std::isinf(width) ? 0.0 : width * width;  // an open cell says nothing about the step
  }
  for (size_t i = sample_count; i < padded_count; ++i) {
    cell_low[i] = -1;
    cell_high[i] = 1;
  }

  // The stretches between refits, each with its coefficients. The fits depend on the samples alone, so they
  // are all made first, where the processor can overlap them.
  struct Stretch {
    size_t first, last;
    bool refitted;
    Coefficients coefficients;
  };
  constexpr size_t MaxStretches = Tile_samples / FitInterval_samples + 1;
  Stretch stretches[MaxStretches];
  Autocorrelation autocorrelations[MaxStretches];
  Coefficients fitted[MaxStretches];
  size_t stretch_count = 0, fit_count = 0;
  for (size_t first = 0; first < sample_count; ++stretch_count) {
    const size_t n_first = count_ + first;
    Stretch& stretch = stretches[stretch_count];
    stretch.first = first;
    stretch.last = std::min(sample_count, first + FitInterval_samples - n_first % FitInterval_samples);
    stretch.refitted = n_first % FitInterval_samples == 0;
    if (stretch.refitted) autocorrelations[fit_count++] = FitAutocorrelation(x + first);
    first = stretch.last;
  }
  LevinsonDurbin(autocorrelations, fit_count, fitted);
  for (size_t s = 0, fit = 0; s < stretch_count; ++s) {
    if (stretches[s].refitted) coefficients_ = fitted[fit++];
    stretches[s].coefficients = coefficients_;
  }

  alignas(64) double means[Tile_samples];
  for (size_t s = 0; s < stretch_count; ++s) {
    const double* coefficients = stretches[s].coefficients.data();
KVOX_SIMD_LOOP
    for (size_t i = stretches[s].first; i < stretches[s].last; ++i) {
      double prediction = 0;
      for (size_t k = 1; k <= PredictorOrder; ++k) prediction += coefficients[k] * x[ptrdiff_t(i) - ptrdiff_t(k)];
      means[i] = prediction;
    }
  }
  for (size_t i = sample_count; i < padded_count; ++i) means[i] = 0;

  // The running sums behind the variance terms, in one scan: the residuals' over the last ResidualWindow_samples,
  // and over the last OffsetWindow_samples those of the samples, of the samples with alternating signs and of
  // the squared cell widths. These three are sums of integers, which no order of additions can change.
  alignas(64) double residual_variances[Tile_samples], dcs[Tile_samples], nyquists[Tile_samples],
      quarter_squared_cells[Tile_samples];
  for (size_t s = 0; s < stretch_count; ++s) {
    if (stretches[s].refitted) {
      squared_residual_sum_ = 0;  // refreshed now and then so rounding cannot build up
      for (const double e2 : squared_residuals_) squared_residual_sum_ += e2;
    }
    const size_t first = stretches[s].first, last = stretches[s].last;
    double residual_sum = squared_residual_sum_, value_sum = value_sum_, alternating_sum = alternating_sum_,
           squared_width_sum = squared_width_sum_;
    if (count_ + first >= OffsetWindow_samples) {
      // Full windows: their means are exact multiplications by powers of two.
      for (size_t i = first; i < last; ++i) {
        const size_t n = count_ + i;
        dcs[i] = std::abs(value_sum) * (1.0 / OffsetWindow_samples);
        nyquists[i] = std::abs(alternating_sum) * (1.0 / OffsetWindow_samples);
        quarter_squared_cells[i] = 0.25 * squared_width_sum * (1.0 / OffsetWindow_samples);
        residual_variances[i] = residual_sum * (1.0 / ResidualWindow_samples);
        const double residual = x[i] - means[i];
        double& slot = squared_residuals_[n % ResidualWindow_samples];
        residual_sum += residual * residual - slot;
        slot = residual * residual;
        const ptrdiff_t old = ptrdiff_t(i) - ptrdiff_t(OffsetWindow_samples);
        const double change = x[i] - x[old];
        value_sum += change;
        alternating_sum += (n & 1) ? -change : change;  // n and n - 64 have the same parity
        squared_width_sum += squared_widths[i] - squared_widths[old];
      }
    } else {
      for (size_t i = first; i < last; ++i) {
        const size_t n = count_ + i;
        if (n > 0) {
          const double per_residual = n >= ResidualWindow_samples ? 1.0 / ResidualWindow_samples : 1.0 / double(n);
          const double per_offset = n >= OffsetWindow_samples ? 1.0 / OffsetWindow_samples : 1.0 / double(n);
          dcs[i] = std::abs(value_sum) * per_offset;
          nyquists[i] = std::abs(alternating_sum) * per_offset;
          quarter_squared_cells[i] = 0.25 * squared_width_sum * per_offset;
          residual_variances[i] = residual_sum * per_residual;
        } else {
          dcs[i] = nyquists[i] = quarter_squared_cells[i] = residual_variances[i] = 0;
        }
        const double residual = x[i] - means[i];
        double& slot = squared_residuals_[n % ResidualWindow_samples];
        residual_sum += residual * residual - slot;
        slot = residual * residual;
        const ptrdiff_t old_i = ptrdiff_t(i) - ptrdiff_t(OffsetWindow_samples);
        const double old = n >= OffsetWindow_samples ? x[old_i] : 0.0;
        const double old_width = n >= OffsetWindow_samples ? squared_widths[old_i] : 0.0;
        value_sum += x[i] - old;
        alternating_sum += (n & 1) ? old - x[i] : x[i] - old;
        squared_width_sum += squared_widths[i] - old_width;
      }
    }
    squared_residual_sum_ = residual_sum;
    value_sum_ = value_sum;
    alternating_sum_ = alternating_sum;
    squared_width_sum_ = squared_width_sum;
  }
  for (size_t i = sample_count; i < padded_count; ++i) {
    dcs[i] = nyquists[i] = quarter_squared_cells[i] = residual_variances[i] = 0;
  }

  alignas(64) double scales[Tile_samples], uncharged_scales[Tile_samples];
  GaussianScales(dcs, nyquists, quarter_squared_cells, residual_variances, padded_count, scales, uncharged_scales);
  alignas(64) double lengths[Tile_samples];
  CellLengths(cell_low, cell_high, means, scales, padded_count, uniform_share_, lengths);
  std::copy(lengths, lengths + sample_count, lengths_bits);

  // Uncharged lengths differ only where a charge was made. When most samples were charged, as under a wrong
  // reading, all are measured again; else those samples are gathered and measured again.
  size_t charged = 0;
  for (size_t i = 0; i < sample_count; ++i) charged += uncharged_scales[i] != scales[i];
  if (charged == 0) {
    std::copy(lengths, lengths + sample_count, uncharged_lengths_bits);
  } else if (4 * charged >= 3 * sample_count) {
    CellLengths(cell_low, cell_high, means, uncharged_scales, padded_count, uniform_share_, lengths);
    std::copy(lengths, lengths + sample_count, uncharged_lengths_bits);
  } else {
    std::copy(lengths, lengths + sample_count, uncharged_lengths_bits);
    alignas(64) double gathered_low[Tile_samples], gathered_high[Tile_samples], gathered_means[Tile_samples],
        gathered_scales[Tile_samples];
    uint16_t gathered_at[Tile_samples];
    size_t gathered = 0;
    for (size_t i = 0; i < sample_count; ++i) {
      if (uncharged_scales[i] == scales[i]) continue;
      gathered_low[gathered] = cell_low[i];
      gathered_high[gathered] = cell_high[i];
      gathered_means[gathered] = means[i];
      gathered_scales[gathered] = uncharged_scales[i];
      gathered_at[gathered++] = uint16_t(i);
    }
    const size_t padded_gathered = (gathered + Lanes - 1) / Lanes * Lanes;
    for (size_t i = gathered; i < padded_gathered; ++i) {
      gathered_low[i] = -1;
      gathered_high[i] = 1;
      gathered_means[i] = 0;
      gathered_scales[i] = 1;
    }
    CellLengths(gathered_low, gathered_high, gathered_means, gathered_scales, padded_gathered, uniform_share_,
                lengths);
    for (size_t i = 0; i < gathered; ++i) uncharged_lengths_bits[gathered_at[i]] = lengths[i];
  }

  count_ += sample_count;
  // The history for the next tile: the last FitLength_samples samples and OffsetWindow_samples widths.
  std::copy(x + sample_count - FitLength_samples, x + sample_count, history_.begin());
  std::copy(squared_widths + sample_count - OffsetWindow_samples, squared_widths + sample_count,
            width_history_.begin());
}
