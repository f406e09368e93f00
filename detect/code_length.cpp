#include "detect/code_length.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr size_t PredictorOrder = CodeLengthModel::PredictorOrder;
constexpr size_t FitLength_samples = CodeLengthModel::FitLength_samples;
constexpr size_t FitInterval_samples = 64;
constexpr double VarianceFloor = 4;

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
// (zero-padded) samples before it.
Coefficients FitPredictor(const double* history_end) {
  // Plain arrays and pointers: this loop is most of the model's work, and unoptimised (sanitizer) builds pay
  // for every std::array access as a call.
  const double* window = FitWindow().data();
  // Lags reach PredictorOrder samples before the window's start, where the windowed signal is 0.
  double padded[PredictorOrder + FitLength_samples] = {};
  double* y = padded + PredictorOrder;
  const double* history = history_end - FitLength_samples;
  for (size_t i = 0; i < FitLength_samples; ++i) y[i] = window[i] * history[i];
  // One pass with an accumulator per lag: nine independent sums keep the multiplier busy.
  double r[PredictorOrder + 1] = {};
  for (size_t i = 0; i < FitLength_samples; ++i) {
    const double* lagged = y + i;
#pragma GCC unroll 9
    for (size_t lag = 0; lag <= PredictorOrder; ++lag) r[lag] += lagged[0] * *(lagged - lag);
  }
  std::array<double, PredictorOrder + 1> autocorrelation{};
  std::copy(r, r + PredictorOrder + 1, autocorrelation.begin());
  autocorrelation[0] = autocorrelation[0] * 1.0001 + 1e-6;
  return LevinsonDurbin(autocorrelation);
}

// Upper tail of the standard normal distribution at z * sqrt(2). Past z = 5.9 (8.3 sigma) the tail is below
// 1e-17; beside the uniform floor of at least 1.5e-7 it would change a length by under 1e-10 bits, so it is
// taken as 0 without the cost of erfc. The open ends come out as 0 and 1.
double UpperTailScaled(double z_over_sqrt2) { return z_over_sqrt2 > 5.9 ? 0.0 : 0.5 * std::erfc(z_over_sqrt2); }

// Probability of [low, high] under a Gaussian of the given mean, with `scale` = 1 / (sigma * sqrt(2)), taken
// from whichever tail avoids cancellation.
double CellProbability(double low, double high, double mean, double scale) {
  const double a = (low - mean) * scale;
  const double b = (high - mean) * scale;
  if (a > 0) return UpperTailScaled(a) - UpperTailScaled(b);
  if (b < 0) return UpperTailScaled(-b) - UpperTailScaled(-a);
  return 1 - UpperTailScaled(-a) - UpperTailScaled(b);
}

}  // namespace

CodeLengthModel::CodeLengthModel(double alphabet_size)
    : uniform_share_(0.01 / alphabet_size), history_(FitLength_samples, 0.0), width_history_(OffsetWindow_samples) {}

void CodeLengthModel::Append(const int32_t* values, const double* low, const double* high, size_t sample_count,
                             std::vector<double>& lengths_bits, std::vector<double>* uncharged_lengths_bits) {
  // The samples as doubles behind the last FitLength_samples before them (zeros at the start: the history
  // before the start is silence), and the squared cell widths behind the last OffsetWindow_samples.
  std::vector<double> padded(FitLength_samples + sample_count);
  std::copy(history_.begin(), history_.end(), padded.begin());
  double* x = padded.data() + FitLength_samples;
  std::vector<double> widths(OffsetWindow_samples + sample_count);
  std::copy(width_history_.begin(), width_history_.end(), widths.begin());
  double* squared_widths = widths.data() + OffsetWindow_samples;
  for (size_t n = 0; n < sample_count; ++n) {
    x[n] = values[n];
    const double width = high[n] - low[n];
    squared_widths[n] = std::isinf(width) ? 0.0 : width * width;  // an open cell says nothing about the step
  }

  const size_t first = lengths_bits.size();
  lengths_bits.resize(first + sample_count);
  double* lengths = lengths_bits.data() + first;
  double* uncharged = nullptr;
  if (uncharged_lengths_bits) {
    uncharged_lengths_bits->resize(uncharged_lengths_bits->size() + sample_count);
    uncharged = uncharged_lengths_bits->data() + uncharged_lengths_bits->size() - sample_count;
  }

  // Tile by tile, first the Gaussian of every sample, then the cell probabilities: the second loop has no
  // carried dependency, so the processor can overlap its costly calls, and a tile's data stays in cache.
  // `i` counts this call's samples, `n` every sample since the start.
  constexpr size_t Tile_samples = 1024;
  std::array<double, Tile_samples> means, scales, uncharged_scales;
  for (size_t tile = 0; tile < sample_count; tile += Tile_samples) {
    const size_t tile_end = std::min(sample_count, tile + Tile_samples);
    for (size_t i = tile; i < tile_end; ++i) {
      const size_t n = count_ + i;
      if (n % FitInterval_samples == 0) {
        coefficients_ = FitPredictor(x + i);
        squared_residual_sum_ = 0;  // refreshed now and then so rounding cannot build up
        for (const double e2 : squared_residuals_) squared_residual_sum_ += e2;
      }
      double prediction = 0;
      const double* coefficients = coefficients_.data();
      for (size_t k = 1; k <= PredictorOrder; ++k) prediction += coefficients[k] * x[ptrdiff_t(i) - ptrdiff_t(k)];

      double variance = VarianceFloor;
      if (n > 0) {
        // Full windows divide by powers of two, exactly as a multiplication: no division in the steady state.
        const double per_residual = n >= ResidualWindow_samples ? 1.0 / ResidualWindow_samples : 1.0 / double(n);
        const double per_offset = n >= OffsetWindow_samples ? 1.0 / OffsetWindow_samples : 1.0 / double(n);
        const double dc = std::abs(value_sum_) * per_offset;
        const double nyquist = std::abs(alternating_sum_) * per_offset;
        const double quarter_squared_cell = 0.25 * squared_width_sum_ * per_offset;
        // A constant offset or a full-scale oscillation at half the rate is what digital silence looks like
        // under a wrong decoding; counting them as noise keeps such readings from looking cheap.
        double excess = 0;
        if (dc * dc > quarter_squared_cell || nyquist * nyquist > quarter_squared_cell) {
          const double half_cell = std::sqrt(quarter_squared_cell);
          const double dc_excess = std::max(0.0, dc - half_cell);
          const double nyquist_excess = std::max(0.0, nyquist - half_cell);
          excess = dc_excess * dc_excess + nyquist_excess * nyquist_excess;
        }
        const double residual_variance = squared_residual_sum_ * per_residual;
        uncharged_scales[i - tile] = 1 / (std::sqrt(VarianceFloor + residual_variance) * std::numbers::sqrt2);
        variance += residual_variance + excess;
      } else {
        uncharged_scales[i - tile] = 1 / (std::sqrt(variance) * std::numbers::sqrt2);
      }
      means[i - tile] = prediction;
      scales[i - tile] = 1 / (std::sqrt(variance) * std::numbers::sqrt2);

      const double residual = x[i] - prediction;
      double& slot = squared_residuals_[n % ResidualWindow_samples];
      squared_residual_sum_ += residual * residual - slot;
      slot = residual * residual;

      value_sum_ += x[i];
      alternating_sum_ += (n & 1) ? -x[i] : x[i];
      squared_width_sum_ += squared_widths[i];
      if (n >= OffsetWindow_samples) {
        const size_t old = n - OffsetWindow_samples;
        const ptrdiff_t old_i = ptrdiff_t(i) - ptrdiff_t(OffsetWindow_samples);
        value_sum_ -= x[old_i];
        alternating_sum_ -= (old & 1) ? -x[old_i] : x[old_i];
        squared_width_sum_ -= squared_widths[old_i];
      }
    }
    for (size_t i = tile; i < tile_end; ++i) {
      const double probability = CellProbability(low[i], high[i], means[i - tile], scales[i - tile]);
      lengths[i] = -std::log2(0.99 * probability + uniform_share_);
    }
    if (uncharged) {
      for (size_t i = tile; i < tile_end; ++i) {
        if (uncharged_scales[i - tile] == scales[i - tile]) {  // nothing was charged
          uncharged[i] = lengths[i];
        } else {
          const double probability = CellProbability(low[i], high[i], means[i - tile], uncharged_scales[i - tile]);
          uncharged[i] = -std::log2(0.99 * probability + uniform_share_);
        }
      }
    }
  }
  count_ += sample_count;
  std::copy(padded.end() - FitLength_samples, padded.end(), history_.begin());
  std::copy(widths.end() - OffsetWindow_samples, widths.end(), width_history_.begin());
}

void AppendCodeLengthsBits(const int32_t* values, const double* low, const double* high, size_t sample_count,
                           double alphabet_size, std::vector<double>& lengths_bits,
                           std::vector<double>* uncharged_lengths_bits) {
  CodeLengthModel(alphabet_size).Append(values, low, high, sample_count, lengths_bits, uncharged_lengths_bits);
}
