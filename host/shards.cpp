#include "host/shards.h"

#include <charconv>

namespace {

std::optional<uint64_t> DecimalNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Shard> ParseShard(std::string_view text) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::optional<uint64_t> index = DecimalNumber(text.substr(0, slash));
  const std::optional<uint64_t> count = DecimalNumber(text.substr(slash + 1));
  if (!index || !count || *count == 0 || *index == 0 || *index > *count) return std::nullopt;
  return Shard{*index, *count};
}

std::string CheckShardText(const std::string& text) {
  if (ParseShard(text)) return "";
  return "'" + text + "' is not a shard: give K/N, two whole numbers with 1 <= K <= N (such as 1/4 ... 4/4)";
}

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

uint64_t ShardOfKey(std::string_view key, uint64_t count) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(Fnv1a64(key)) * count;
  return static_cast<uint64_t>(scaled >> 64) + 1;
}
