// How many bits each decoded sample's code costs under an adaptive Gaussian model: an order-8 linear predictor
// refitted every 64 samples, a variance from the recent residuals, and the probability that the signal falls
// inside the code's quantiser cell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The model, fed a stretch at a time: the lengths of every stretch continue those before it, exactly as if the
// samples had come in one call.
//
// Nothing in the model waits on a length: the prediction, the variance terms and the cells come from the decoded
// samples and their codes alone. So the samples are taken a tile at a time, first the Gaussian of each (a short
// scan for the running sums), then the cell probabilities and lengths in loops without a carried dependency,
// which the compiler turns into vector calls of erfc and log2 where the C library has them.
class CodeLengthModel {
 public:
  static constexpr size_t PredictorOrder = 8;
  static constexpr size_t FitLength_samples = 256;  // history the predictor is fitted on
  static constexpr size_t ResidualWindow_samples = 32;
  static constexpr size_t OffsetWindow_samples = 64;            // for the DC, Nyquist and cell-width terms
  using Coefficients = std::array<double, PredictorOrder + 1>;  // [0] unused: prediction = sum a[k] x[n-k]

  explicit CodeLengthModel(double alphabet_size);

  // Writes the length in bits of each of the next `sample_count` samples to `lengths_bits`, and to
  // `uncharged_lengths_bits` the length under the same model without the charge for a local offset or
  // half-rate oscillation: what the sample would cost if an offset were the audio's own. Samples before the
  // first ever measured count as 0. An open cell edge is +-infinity.
  void Measure(const int32_t* values, const double* low, const double* high, size_t sample_count,
               double* lengths_bits, double* uncharged_lengths_bits);

 private:
  void MeasureTile(const int32_t* values, const double* low, const double* high, size_t sample_count,
                   double* lengths_bits, double* uncharged_lengths_bits);

  double uniform_share_;
  size_t count_ = 0;
  std::array<double, FitLength_samples> history_{};            // the last FitLength_samples samples
  std::array<double, OffsetWindow_samples> width_history_{};   // the last OffsetWindow_samples squared cell widths
  std::array<double, ResidualWindow_samples> squared_residuals_{};
  double squared_residual_sum_ = 0;
  // Sums over the last OffsetWindow_samples: all integers, so the running sums stay exact.
  double value_sum_ = 0, alternating_sum_ = 0, squared_width_sum_ = 0;
  Coefficients coefficients_{};
};
