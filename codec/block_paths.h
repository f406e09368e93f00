// The block conversions of blocks.h exist in several forms: portable C++, and forms for the vector units of
// x86 processors. The functions of blocks.h take the fastest form this processor runs; tests and
// benchmarks reach every form through here, so each one is checked against the per-sample operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"

enum class BlockPath {
  Portable,  // C++ only: every build, WebAssembly and processors without the vector units below included
  Sse2,      // x86-64 (compiled in; every x86-64 processor has SSE2)
  Avx512,    // x86 with AVX-512BW, chosen at run time
  WasmSimd,  // WebAssembly with 128-bit SIMD: SSE2's encoders, with decoders of its own
};

inline constexpr BlockPath AllBlockPaths[] = {BlockPath::Portable, BlockPath::Sse2, BlockPath::Avx512,
                                              BlockPath::WasmSimd};

struct BlockFunctions {
  const char* name;
  void (*alaw_decode)(const uint8_t* codes, size_t code_count, int16_t* samples);
  void (*mulaw_decode)(const uint8_t* codes, size_t code_count, int16_t* samples);
  size_t (*alaw_encode)(const int16_t* samples, size_t sample_count, uint8_t* codes);
  size_t (*mulaw_encode)(const int16_t* samples, size_t sample_count, uint8_t* codes);
  void (*adpcm_decode)(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
                       int16_t* samples);
  size_t (*adpcm_encode)(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                         size_t sample_count, uint8_t* codes);
};

// The functions of `path`, or nullptr when this build or this processor cannot run them.
const BlockFunctions* BlockFunctionsFor(BlockPath path);

// The functions blocks.h uses on this processor.
const BlockFunctions& FastestBlockFunctions();
