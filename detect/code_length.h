// How many bits each decoded sample's code costs under an adaptive Gaussian model: an order-8 linear predictor
// refitted every 64 samples, a variance from the recent residuals, and the probability that the signal falls
// inside the code's quantiser cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Appends one length in bits per sample to `lengths_bits`. The model starts afresh: samples before
// `values[0]` count as 0. `alphabet_size` is the number of codes a sample is drawn from; a floor of 1% of
// uniform probability keeps every length finite.
// When `uncharged_lengths_bits` is given, it gets the lengths once more under the same model without the charge
// for a local offset or half-rate oscillation: what the sample would cost if an offset were the audio's own.
void AppendCodeLengthsBits(const int32_t* values, const double* low, const double* high, size_t sample_count,
                           double alphabet_size, std::vector<double>& lengths_bits,
                           std::vector<double>* uncharged_lengths_bits = nullptr);
