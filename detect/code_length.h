// How many bits each decoded sample's code costs under an adaptive Gaussian model: an order-8 linear predictor
// refitted every 64 samples, a variance from the recent residuals, and the probability that the signal falls
// inside the code's quantiser cell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The same model, fed a stretch at a time: the lengths of every stretch continue those before it, exactly as
// if the samples had come in one call.
class CodeLengthModel {
 public:
  static constexpr size_t PredictorOrder = 8;
  static constexpr size_t FitLength_samples = 256;  // history the predictor is fitted on
  static constexpr size_t ResidualWindow_samples = 32;
  static constexpr size_t OffsetWindow_samples = 64;            // for the DC, Nyquist and cell-width terms
  using Coefficients = std::array<double, PredictorOrder + 1>;  // [0] unused: prediction = sum a[k] x[n-k]

  explicit CodeLengthModel(double alphabet_size);
  void Append(const int32_t* values, const double* low, const double* high, size_t sample_count,
              std::vector<double>& lengths_bits, std::vector<double>* uncharged_lengths_bits);

 private:
  double uniform_share_;
  size_t count_ = 0;
  std::vector<double> history_;        // the last FitLength_samples samples
  std::vector<double> width_history_;  // the last OffsetWindow_samples squared cell widths
  std::array<double, ResidualWindow_samples> squared_residuals_{};
  double squared_residual_sum_ = 0;
  // Sums over the last OffsetWindow_samples: all integers, so the running sums stay exact.
  double value_sum_ = 0, alternating_sum_ = 0, squared_width_sum_ = 0;
  Coefficients coefficients_{};
};

// Appends one length in bits per sample to `lengths_bits`. The model starts afresh: samples before
// `values[0]` count as 0. `alphabet_size` is the number of codes a sample is drawn from; a floor of 1% of
// uniform probability keeps every length finite.
// When `uncharged_lengths_bits` is given, it gets the lengths once more under the same model without the charge
// for a local offset or half-rate oscillation: what the sample would cost if an offset were the audio's own.
void AppendCodeLengthsBits(const int32_t* values, const double* low, const double* high, size_t sample_count,
                           double alphabet_size, std::vector<double>& lengths_bits,
                           std::vector<double>* uncharged_lengths_bits = nullptr);
