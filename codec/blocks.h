// Block conversions for the read and write paths: one call per block, so callers choose the coding once per
// block and the per-sample work runs in one tight loop.
//
// Sample pointers may be unaligned (they point into the host's buffer); the functions load and store
// samples bytewise. Every function gives exactly the results of the per-sample operations in g711.h and
// adpcm.h applied in order, and carries the ADPCM state from one block to the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"

// `codes` and `samples` must not overlap.
void AlawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples);
void MulawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples);

// Decodes byte_count bytes, high nibble first, into 2 * byte_count samples. `bytes` and `samples` must not
// overlap.
void AdpcmDecodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
                      int16_t* samples);

// Encoders. `codes` may be the same memory as `samples` (in-place coding in the host's buffer): code byte k
// is stored only after the samples that make it have been read, and it never lies past them. Each returns
// the number of code bytes made.
size_t AlawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes);
size_t MulawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes);

// Makes (sample_count + 1) / 2 bytes, high nibble first. An odd last sample has its code in the high nibble;
// the low nibble is the code the encoder gives for that same sample once more, with the state advanced, so
// a decoder fed these bytes stays in step with the encoder. Nothing past sample_count is read.
size_t AdpcmEncodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                        size_t sample_count, uint8_t* codes);
