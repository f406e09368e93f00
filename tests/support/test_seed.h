// Seeds for the random tests: taken from KVOX_TEST_SEED when set (to replay a failure), else fresh, and
// always printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

inline uint64_t TestSeed() {
  uint64_t seed;
  if (const char* text = std::getenv("KVOX_TEST_SEED"); text != nullptr && *text != '\0') {
    seed = std::strtoull(text, nullptr, 0);
  } else {
    std::random_device device;
    seed = (uint64_t{device()} << 32) | device();
  }
  std::printf("random seed %llu (set KVOX_TEST_SEED=%llu to replay)\n", static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(seed));
  return seed;
}
