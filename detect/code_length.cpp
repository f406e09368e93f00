#include "detect/code_length.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr size_t PredictorOrder = 8;
constexpr size_t FitLength_samples = 256;  // history the predictor is fitted on
constexpr size_t FitInterval_samples = 64;
constexpr size_t ResidualWindow_samples = 32;
constexpr size_t OffsetWindow_samples = 64;  // for the DC, Nyquist and cell-width terms
constexpr double VarianceFloor = 4;

using Coefficients = std::array<double, PredictorOrder + 1>;  // [0] unused: prediction = sum a[k] x[n-k]

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
    if (!(error > 0)) break;
  }
  return a;
}

// Fits the predictor on the windowed samples just before `n`.
Coefficients FitPredictor(const int32_t* values, size_t n) {
  const auto& window = FitWindow();
  std::array<double, FitLength_samples> y{};
  for (size_t i = 0; i < FitLength_samples; ++i) {
    const ptrdiff_t index = ptrdiff_t(n) - ptrdiff_t(FitLength_samples) + ptrdiff_t(i);
    y[i] = index >= 0 ? window[i] * values[index] : 0.0;
  }
  std::array<double, PredictorOrder + 1> r{};
  for (size_t lag = 0; lag <= PredictorOrder; ++lag) {
    double acc = 0;
    for (size_t i = lag; i < FitLength_samples; ++i) acc += y[i] * y[i - lag];
    r[lag] = acc;
  }
  r[0] = r[0] * 1.0001 + 1e-6;
  return LevinsonDurbin(r);
}

// Upper tail of the standard normal distribution.
double UpperTail(double z) { return 0.5 * std::erfc(z / std::numbers::sqrt2); }

// Probability of [low, high] under N(mean, sigma^2), without cancellation in either tail.
double CellProbability(double low, double high, double mean, double sigma) {
  const double a = (low - mean) / sigma;
  const double b = (high - mean) / sigma;
  if (a > 0) return UpperTail(a) - UpperTail(b);
  if (b < 0) return UpperTail(-b) - UpperTail(-a);
  return 1 - UpperTail(-a) - UpperTail(b);
}

}  // namespace

void AppendCodeLengthsBits(const int32_t* values, const double* low, const double* high, size_t sample_count,
                           double alphabet_size, std::vector<double>& lengths_bits) {
  const double uniform_share = 0.01 / alphabet_size;
  std::array<double, ResidualWindow_samples> squared_residuals{};
  double squared_residual_sum = 0;
  // Sums over the last OffsetWindow_samples: all integers, so the running sums stay exact.
  double value_sum = 0, alternating_sum = 0, squared_width_sum = 0;
  Coefficients a{};
  for (size_t n = 0; n < sample_count; ++n) {
    if (n % FitInterval_samples == 0) {
      a = FitPredictor(values, n);
      squared_residual_sum = 0;  // refreshed now and then so rounding cannot build up
      for (const double e2 : squared_residuals) squared_residual_sum += e2;
    }
    double prediction = 0;
    for (size_t k = 1; k <= PredictorOrder && k <= n; ++k) prediction += a[k] * values[n - k];

    double variance = VarianceFloor;
    if (n > 0) {
      const double residual_count = double(std::min(n, ResidualWindow_samples));
      const double offset_count = double(std::min(n, OffsetWindow_samples));
      const double dc = value_sum / offset_count;
      const double nyquist = std::abs(alternating_sum) / offset_count;
      const double half_cell = 0.5 * std::sqrt(squared_width_sum / offset_count);
      // A constant offset or a full-scale oscillation at half the rate is what digital silence looks like under
      // a wrong decoding; counting them as noise keeps such readings from looking cheap.
      const double dc_excess = std::max(0.0, std::abs(dc) - half_cell);
      const double nyquist_excess = std::max(0.0, nyquist - half_cell);
      variance += squared_residual_sum / residual_count + dc_excess * dc_excess + nyquist_excess * nyquist_excess;
    }
    const double probability = CellProbability(low[n], high[n], prediction, std::sqrt(variance));
    lengths_bits.push_back(-std::log2(0.99 * probability + uniform_share));

    const double residual = values[n] - prediction;
    double& slot = squared_residuals[n % ResidualWindow_samples];
    squared_residual_sum += residual * residual - slot;
    slot = residual * residual;

    const double width = high[n] - low[n];
    const double squared_width = std::isinf(width) ? 0.0 : width * width;
    const double sign = (n & 1) ? -1.0 : 1.0;
    value_sum += values[n];
    alternating_sum += sign * values[n];
    squared_width_sum += squared_width;
    if (n >= OffsetWindow_samples) {
      const size_t old = n - OffsetWindow_samples;
      const double old_width = high[old] - low[old];
      value_sum -= values[old];
      alternating_sum -= ((old & 1) ? -1.0 : 1.0) * values[old];
      squared_width_sum -= std::isinf(old_width) ? 0.0 : old_width * old_width;
    }
  }
}
