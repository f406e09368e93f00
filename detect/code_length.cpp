#include "detect/code_length.h"

#include <math.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

// With GCC on x86-64 glibc, the loops over a tile are built twice, for the baseline and for AVX2, and the one the
// processor runs is picked when the program starts. glibc's vector math library has erfc and log2 for four and
// for two doubles at a time (within a few units in the last place of the scalar ones); declared here as SIMD
// functions, they are what the loops call. Elsewhere (clang, the page's WebAssembly) the same loops call the
// scalar functions. Every loop is elementwise or sums in a fixed order, so the figures do not depend on the
// vector width, and tiles are padded to whole vectors so no sample falls to a scalar remainder.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__)
extern "C" {
#pragma omp declare simd notinbranch
double erfc(double) noexcept;
#pragma omp declare simd notinbranch
double log2(double) noexcept;
}
#define KVOX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KVOX_VECTOR_CLONES
#endif

namespace {

constexpr size_t PredictorOrder = CodeLengthModel::PredictorOrder;
constexpr size_t FitLength_samples = CodeLengthModel::FitLength_samples;
constexpr size_t ResidualWindow_samples = CodeLengthModel::ResidualWindow_samples;
constexpr size_t OffsetWindow_samples = CodeLengthModel::OffsetWindow_samples;
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

Coefficients LevinsonDurbin(const std::array<double, PredictorOrder + 1>& r) {
  Coefficients a{};
  double error = r[0];
  for (size_t i = 1; i <= PredictorOrder; ++i) {
    double acc = r[i];
    for (size_t j = 1; j < i; ++j) acc -= a[j] * r[i - j];
    const double reflection = acc / error;
    Coefficients next = a;
    for (size_t j = 1; j < i; ++j) next[j] = a[j] - reflection * a[i - j];
    next[i] = reflection;
    a = next;
    error *= 1 - reflection * reflection;
    if (!(error > 0)) break;  // a perfectly predictable history: keep the orders found so far
  }
  return a;
}

// Fits the predictor on the windowed samples just before `history_end`, which has FitLength_samples valid
// (zero-padded) samples before it. Each lag's sum is kept in four parts, samples i = 0, 1, 2, 3 (mod 4), so the
// nine lags make 36 independent sums that fill the vector units; the parts are added in a fixed order.
[[gnu::always_inline]] inline Coefficients FitPredictor(const double* history_end) {
  // Plain arrays and pointers: unoptimised (sanitizer) builds pay for every std::array access as a call.
  const double* window = FitWindow().data();
  // Lags reach PredictorOrder samples before the window's start, where the windowed signal is 0.
  double padded[PredictorOrder + FitLength_samples] = {};
  double* y = padded + PredictorOrder;
  const double* history = history_end - FitLength_samples;
  for (size_t i = 0; i < FitLength_samples; ++i) y[i] = window[i] * history[i];
  double parts[PredictorOrder + 1][4] = {};
  for (size_t i = 0; i < FitLength_samples; i += 4) {
#pragma GCC unroll 9
    for (size_t lag = 0; lag <= PredictorOrder; ++lag) {
#pragma omp simd
      for (size_t k = 0; k < 4; ++k) parts[lag][k] += y[i + k] * y[ptrdiff_t(i + k) - ptrdiff_t(lag)];
    }
  }
  std::array<double, PredictorOrder + 1> autocorrelation{};
  for (size_t lag = 0; lag <= PredictorOrder; ++lag) {
    autocorrelation[lag] = (parts[lag][0] + parts[lag][1]) + (parts[lag][2] + parts[lag][3]);
  }
  autocorrelation[0] = autocorrelation[0] * 1.0001 + 1e-6;
  return LevinsonDurbin(autocorrelation);
}

// The length of each sample's code: -log2 of the probability of its cell [low, high] under a Gaussian of the
// given mean, with `scale` = 1 / (sigma * sqrt(2)), mixed with the uniform floor. The probability is taken from
// whichever tail avoids cancellation: Q(a) - Q(b) above the mean, Q(-b) - Q(-a) below it, else
// 1 - Q(-a) - Q(b), with Q(z) = erfc(z) / 2 in these scaled units. `count` is a multiple of Lanes.
[[gnu::always_inline]] inline void CellLengths(const double* low, const double* high, const double* mean, const double* scale, size_t count,
                        double uniform_share, double* lengths_bits) {
  for (size_t group = 0; group < count; group += Lanes) {
#pragma omp simd
    for (size_t i = group; i < group + Lanes; ++i) {
      const double a = (low[i] - mean[i]) * scale[i];
      const double b = (high[i] - mean[i]) * scale[i];
      const bool one_side = a > 0 || b < 0;
      const double z1 = a > 0 ? a : b < 0 ? -b : -a;
      const double z2 = a > 0 ? b : b < 0 ? -a : b;
      const double erfc1 = erfc(z1), erfc2 = erfc(z2);  // both, so that the calls need no mask
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
#pragma omp simd
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

  // The Gaussian of each sample: the prediction over each stretch with one set of coefficients, then a scan
  // for the running sums behind the variance terms.
  alignas(64) double means[Tile_samples], residual_variances[Tile_samples], dcs[Tile_samples],
      nyquists[Tile_samples], quarter_squared_cells[Tile_samples];
  for (size_t first = 0; first < sample_count;) {
    const size_t n_first = count_ + first;
    if (n_first % FitInterval_samples == 0) {
      coefficients_ = FitPredictor(x + first);
      squared_residual_sum_ = 0;  // refreshed now and then so rounding cannot build up
      for (const double e2 : squared_residuals_) squared_residual_sum_ += e2;
    }
    const size_t last = std::min(sample_count, first + FitInterval_samples - n_first % FitInterval_samples);
    const double* coefficients = coefficients_.data();
#pragma omp simd
    for (size_t i = first; i < last; ++i) {
      double prediction = 0;
      for (size_t k = 1; k <= PredictorOrder; ++k) prediction += coefficients[k] * x[ptrdiff_t(i) - ptrdiff_t(k)];
      means[i] = prediction;
    }
    for (size_t i = first; i < last; ++i) {
      const size_t n = count_ + i;
      if (n > 0) {
        // Full windows divide by powers of two, exactly as a multiplication: no division in the steady state.
        const double per_residual = n >= ResidualWindow_samples ? 1.0 / ResidualWindow_samples : 1.0 / double(n);
        const double per_offset = n >= OffsetWindow_samples ? 1.0 / OffsetWindow_samples : 1.0 / double(n);
        dcs[i] = std::abs(value_sum_) * per_offset;
        nyquists[i] = std::abs(alternating_sum_) * per_offset;
        quarter_squared_cells[i] = 0.25 * squared_width_sum_ * per_offset;
        residual_variances[i] = squared_residual_sum_ * per_residual;
      } else {
        dcs[i] = nyquists[i] = quarter_squared_cells[i] = residual_variances[i] = 0;
      }
      const double residual = x[i] - means[i];
      double& slot = squared_residuals_[n % ResidualWindow_samples];
      squared_residual_sum_ += residual * residual - slot;
      slot = residual * residual;
      // Integer sums: the order of the additions cannot change them.
      const ptrdiff_t old_i = ptrdiff_t(i) - ptrdiff_t(OffsetWindow_samples);
      const double old = n >= OffsetWindow_samples ? x[old_i] : 0.0;
      const double old_width = n >= OffsetWindow_samples ? squared_widths[old_i] : 0.0;
      value_sum_ += x[i] - old;
      alternating_sum_ += (n & 1) ? old - x[i] : x[i] - old;  // n and n - 64 have the same parity
      squared_width_sum_ += squared_widths[i] - old_width;
    }
    first = last;
  }
  for (size_t i = sample_count; i < padded_count; ++i) {
    x[i] = means[i] = 0;
    cell_low[i] = -1;
    cell_high[i] = 1;
    dcs[i] = nyquists[i] = quarter_squared_cells[i] = residual_variances[i] = 0;
  }

  alignas(64) double scales[Tile_samples], uncharged_scales[Tile_samples];
  GaussianScales(dcs, nyquists, quarter_squared_cells, residual_variances, padded_count, scales, uncharged_scales);
  alignas(64) double lengths[Tile_samples];
  CellLengths(cell_low, cell_high, means, scales, padded_count, uniform_share_, lengths);
  std::copy(lengths, lengths + sample_count, lengths_bits);
  std::copy(lengths, lengths + sample_count, uncharged_lengths_bits);

  // Uncharged lengths differ only where a charge was made: those samples are gathered and measured again.
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
  if (gathered > 0) {
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
