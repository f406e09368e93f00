// Test signals made at test time: speech-like harmonic sweeps with pauses, noise, near-silence and DTMF digits,
// and their coding into raw VOX bytes with the project's own codecs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "tests/support/test_seed.h"

// Voiced syllables whose pitch glides and whose harmonics follow moving formants, with pauses between them.
std::vector<int16_t> SpeechLike(double seconds, int rate_hz, uint64_t seed);
// Gaussian noise, low-passed a little as a telephone line would.
std::vector<int16_t> LineNoise(double seconds, int rate_hz, double rms, uint64_t seed);
// Digits of "0123456789*#ABCD" as tone pairs with pauses, the tones off by up to +-0.5%.
std::vector<int16_t> DtmfDigits(const std::string& digits, int rate_hz, uint64_t seed);

std::vector<uint8_t> Encode(DetectedCoding coding, const std::vector<int16_t>& samples);
// Little-endian 16-bit PCM bytes.
std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples);
