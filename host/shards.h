// kvox convert --shard K/N: which inputs fall to shard K of N. Every input has a key that is the same on
// every machine (its path below the folder given, or its name as given), and the key alone decides its
// shard, so N runs of one command line with K = 1..N convert every input exactly once, with no
// coordinator and whatever order the folders list in.
//
// The rule is fixed and documented (README.md, docs/sharding.md), since runs of different kvox versions on
// different machines must agree: the key's bytes (UTF-8, '/' between folders) are hashed with 64-bit FNV-1a
// (offset basis 14695981039346656037, prime 1099511628211), and the hash h falls to shard
// floor(h * N / 2^64) + 1. The multiplication takes the shard from the hash's high bits, which depend on
// every byte of the key (the low bits of FNV-1a depend only on the low bits of each byte).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct Shard {
  uint64_t index = 1;  // K, 1..count
  uint64_t count = 1;  // N, at least 1
};

// "K/N" with 1 <= K <= N, both decimal numbers without sign or spaces; nothing for anything else.
std::optional<Shard> ParseShard(std::string_view text);

// The CLI11 check of --shard: "" when the text is a shard, else why not.
std::string CheckShardText(const std::string& text);

// 64-bit FNV-1a of the bytes.
uint64_t Fnv1a64(std::string_view bytes);

// The shard, 1..count, that the key falls to.
uint64_t ShardOfKey(std::string_view key, uint64_t count);

inline bool InShard(std::string_view key, const Shard& shard) { return ShardOfKey(key, shard.count) == shard.index; }
