#include "detect/detect.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "detect/code_length.h"
#include "detect/hypotheses.h"
#include "detect/tone_rate.h"

namespace {

constexpr size_t MinimumFile_bytes = 256;
constexpr size_t AnalysisCap_bytes = 80000;
constexpr size_t ChunkCount = 8;
constexpr size_t Chunk_bytes = 10000;
static_assert(ChunkCount * Chunk_bytes == AnalysisCap_bytes);
constexpr size_t Block_bytes = 128;

constexpr double NoStructure_bits_per_byte = 7.75;
constexpr double ClearAudio_bits_per_byte = 7;
constexpr double ActiveBlockEnergy = 24.0 * 24.0;  // mean square, 16-bit units
constexpr double LookalikeMargin_bits_per_byte = 0.05;
constexpr double LookalikeTiebreak_bits_per_byte = 0.005;
constexpr double LookalikeT = -3;
constexpr double DegenerateShare = 0.9;
// ADPCM's DC tracker takes any steady input, offset or not, to the silence codes, so no other byte value
// fills half of a real ADPCM file; G.711 keeps a recording's offset as a steady code of its own.
constexpr double AdpcmDegenerateShare = 0.5;
constexpr double MaximumT = 60;
constexpr double OffsetAudioSpread = 0.25;  // least standard deviation, per unit of offset, of audio on an offset

constexpr std::array<const char*, HypothesisCount> HypothesisNames = {
    "alaw",       "mulaw",       "adpcm",  "adpcm_lowfirst", "alaw_bitrev", "mulaw_bitrev",
    "alaw_noinv", "mulaw_noinv", "pcm_u8", "pcm_s8",         "pcm_s16le",   "pcm_s16be"};

using Span = ByteSpan;

// One hypothesis over the analysed bytes.
struct Reading {
  std::vector<double> byte_lengths_bits;
  std::vector<double> uncharged_byte_lengths_bits;  // without the model's charge for offsets
  std::vector<int32_t> samples;  // the chunks' decodings one after another
  double cost_bits_per_byte = 0;
  double mean = 0;
  double spread = 0;      // standard deviation about the mean
  bool qualified = true;  // false when the decoding sits on a large constant offset
};

void AppendByteLengths(Hypothesis h, const std::vector<double>& sample_lengths, size_t chunk_bytes,
                       std::vector<double>& byte_lengths) {
  switch (h) {
    case Hypothesis::Adpcm:
    case Hypothesis::AdpcmLowFirst:
      for (size_t i = 0; i < chunk_bytes; ++i) byte_lengths.push_back(sample_lengths[2 * i] + sample_lengths[2 * i + 1]);
      break;
    case Hypothesis::PcmS16le:
    case Hypothesis::PcmS16be:
      for (const double length : sample_lengths) byte_lengths.insert(byte_lengths.end(), 2, length / 2);
      if (chunk_bytes % 2) byte_lengths.push_back(8);
      break;
    default:
      byte_lengths.insert(byte_lengths.end(), sample_lengths.begin(), sample_lengths.end());
  }
}

Reading ReadAs(Hypothesis h, const uint8_t* bytes, const std::vector<Span>& chunks) {
  Reading reading;
  CellStream cells;
  std::vector<double> sample_lengths, uncharged_lengths;
  for (const Span& chunk : chunks) {
    cells.values.clear();
    cells.low.clear();
    cells.high.clear();
    sample_lengths.clear();
    uncharged_lengths.clear();
    DecodeWithCells(h, bytes + chunk.offset, chunk.length, cells);
    AppendCodeLengthsBits(cells.values.data(), cells.low.data(), cells.high.data(), cells.values.size(),
                          CodeAlphabetSize(h), sample_lengths, &uncharged_lengths);
    AppendByteLengths(h, sample_lengths, chunk.length, reading.byte_lengths_bits);
    AppendByteLengths(h, uncharged_lengths, chunk.length, reading.uncharged_byte_lengths_bits);
    reading.samples.insert(reading.samples.end(), cells.values.begin(), cells.values.end());
  }
  const double total = std::accumulate(reading.byte_lengths_bits.begin(), reading.byte_lengths_bits.end(), 0.0);
  reading.cost_bits_per_byte = total / double(reading.byte_lengths_bits.size());

  double sum = 0, squares = 0;
  for (const int32_t v : reading.samples) {
    sum += v;
    squares += double(v) * v;
  }
  const double count = double(std::max<size_t>(reading.samples.size(), 1));
  const double mean = sum / count;
  const double rms = std::sqrt(squares / count);
  reading.mean = mean;
  reading.spread = std::sqrt(std::max(0.0, squares / count - mean * mean));
  reading.qualified = !(rms > 1000 && std::abs(mean) > 0.5 * rms);
  return reading;
}

// Student's t of the per-block mean of (rival - winner) over the given blocks: large when the winner is
// cheaper block after block, not just on average.
double BlockT(const std::vector<double>& winner, const std::vector<double>& rival, const std::vector<size_t>& blocks) {
  if (blocks.size() < 2) return 0;
  std::vector<double> d;
  for (const size_t block : blocks) {
    double acc = 0;
    for (size_t i = block * Block_bytes; i < (block + 1) * Block_bytes; ++i) {
      acc += rival[i] - winner[i];
    }
    d.push_back(acc / Block_bytes);
  }
  const double mean = std::accumulate(d.begin(), d.end(), 0.0) / double(d.size());
  double squares = 0;
  for (const double x : d) squares += (x - mean) * (x - mean);
  const double sd = std::sqrt(squares / double(d.size() - 1));
  if (sd == 0) return mean > 0 ? 1e6 : mean < 0 ? -1e6 : 0;  // identical margin in every block
  return mean / (sd / std::sqrt(double(d.size())));
}

double MeanOver(const std::vector<double>& byte_lengths, const std::vector<size_t>& blocks) {
  double acc = 0;
  for (const size_t block : blocks) {
    for (size_t i = block * Block_bytes; i < (block + 1) * Block_bytes; ++i) acc += byte_lengths[i];
  }
  return acc / double(blocks.size() * Block_bytes);
}

DetectedCoding CodingOf(Hypothesis h) {
  return h == Hypothesis::Alaw ? DetectedCoding::Alaw : h == Hypothesis::Mulaw ? DetectedCoding::Mulaw : DetectedCoding::Adpcm;
}

bool IsSilenceCode(Hypothesis h, uint8_t b) {
  switch (h) {
    case Hypothesis::Alaw: return b == 0xD5 || b == 0x55;
    case Hypothesis::Mulaw: return b == 0xFF || b == 0x7F;
    default: return b == 0x08 || b == 0x80;
  }
}

// The share of the commonest byte value among the analysed bytes, and that value.
std::pair<double, uint8_t> CommonestByte(const uint8_t* bytes, const std::vector<Span>& chunks, size_t analysed) {
  std::array<size_t, 256> counts{};
  for (const Span& chunk : chunks) {
    for (size_t i = 0; i < chunk.length; ++i) counts[bytes[chunk.offset + i]]++;
  }
  const auto commonest = std::max_element(counts.begin(), counts.end());
  return {double(*commonest) / double(analysed), uint8_t(commonest - counts.begin())};
}

// Audio coded in G.711 uses both signs about equally and in similar segments; data that is not audio under
// this coding often does not.
bool SignsLookUnnatural(Hypothesis winner, const uint8_t* bytes, const std::vector<Span>& chunks) {
  std::array<size_t, 8> positive{}, negative{};
  size_t positive_count = 0, negative_count = 0;
  for (const Span& chunk : chunks) {
    for (size_t i = 0; i < chunk.length; ++i) {
      const uint8_t b = bytes[chunk.offset + i];
      const int magnitude_bits = winner == Hypothesis::Alaw ? (b ^ 0x55) & 0x7F : (~b) & 0x7F;
      if (magnitude_bits == 0) continue;  // the smallest codes carry no reliable sign
      if (b >= 0x80) {
        positive[size_t(magnitude_bits >> 4)]++;
        positive_count++;
      } else {
        negative[size_t(magnitude_bits >> 4)]++;
        negative_count++;
      }
    }
  }
  const size_t counted = positive_count + negative_count;
  if (counted < 50) return false;
  const double positive_share = double(positive_count) / double(counted);
  double asymmetry = 0;
  for (size_t segment = 0; segment < 8; ++segment) {
    const double p = positive_count ? double(positive[segment]) / double(positive_count) : 0.0;
    const double n = negative_count ? double(negative[segment]) / double(negative_count) : 0.0;
    asymmetry += 0.5 * std::abs(p - n);
  }
  return std::abs(positive_share - 0.5) > 0.45 || asymmetry > 0.7;
}

std::string Fixed(double number, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, number);
  return buffer;
}

void DetectRate(const Reading& winner, Hypothesis h, const std::vector<Span>& chunks, RawVoxDetection& result) {
  const size_t samples_per_byte = h == Hypothesis::Adpcm ? 2 : 1;
  ToneEvents total;
  size_t start = 0;
  for (const Span& chunk : chunks) {
    const ToneEvents events = CountToneEvents(winner.samples.data() + start, chunk.length * samples_per_byte);
    total.events8 += events.events8;
    total.events6 += events.events6;
    start += chunk.length * samples_per_byte;
  }
  const RateDecision decision = DecideRate(total);
  result.events8 = total.events8;
  result.events6 = total.events6;
  result.rate = decision.rate;
  result.rate_hint = decision.hint;
  result.rate_confidence = decision.confidence;
}

}  // namespace

const char* HypothesisName(size_t index) { return index < HypothesisNames.size() ? HypothesisNames[index] : ""; }

const char* CodingName(DetectedCoding coding) {
  switch (coding) {
    case DetectedCoding::Alaw: return "alaw";
    case DetectedCoding::Mulaw: return "mulaw";
    case DetectedCoding::Adpcm: return "adpcm";
  }
  return "";
}

RawVoxDetection DetectRawVox(const uint8_t* bytes, size_t byte_count) {
  RawVoxDetection result;
  if (bytes == nullptr || byte_count < MinimumFile_bytes) {
    result.reason = "too short";
    return result;
  }
  const std::vector<Span> chunks = AnalysedSpans(byte_count);
  std::array<Reading, HypothesisCount> readings;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    readings[i] = ReadAs(Hypothesis(i), bytes, chunks);
    result.costs[i] = readings[i].cost_bits_per_byte;
  }
  const size_t analysed = readings[0].byte_lengths_bits.size();
  result.analysed_bytes = analysed;
  const size_t block_count = analysed / Block_bytes;

  // A large offset is what constant or non-audio data looks like under a reading, but real recordings carry
  // offsets too. A reading on an offset stays in when its sound varies by more than a quarter of the offset
  // and it has audio structure: the cheapest native reading (set aside, it would hand the file to a worse
  // reading), and any look-alike that is clearly audio, since it can only refuse a claim.
  size_t cheapest_native = 0;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (IsNative(Hypothesis(i)) && readings[i].cost_bits_per_byte < readings[cheapest_native].cost_bits_per_byte) {
      cheapest_native = i;
    }
  }
  for (size_t i = 0; i < HypothesisCount; ++i) {
    Reading& reading = readings[i];
    const double structure_bits_per_byte =
        IsNative(Hypothesis(i)) ? NoStructure_bits_per_byte : ClearAudio_bits_per_byte;
    if (!reading.qualified && (i == cheapest_native || !IsNative(Hypothesis(i))) &&
        reading.cost_bits_per_byte <= structure_bits_per_byte &&
        reading.spread >= OffsetAudioSpread * std::abs(reading.mean)) {
      reading.qualified = true;
    }
  }

  std::optional<size_t> winner;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (!IsNative(Hypothesis(i)) || !readings[i].qualified) continue;
    if (!winner || readings[i].cost_bits_per_byte < readings[*winner].cost_bits_per_byte) winner = i;
  }
  if (!winner) {
    result.reason = "every decoding sits on a large constant offset (constant or non-audio data)";
    return result;
  }
  const size_t w = *winner;
  const Hypothesis wh = Hypothesis(w);
  const Reading& wr = readings[w];
  result.best = HypothesisNames[w];

  const auto [commonest_share, commonest_byte] = CommonestByte(bytes, chunks, analysed);
  const double degenerate_share = wh == Hypothesis::Adpcm ? AdpcmDegenerateShare : DegenerateShare;
  if (commonest_share > degenerate_share && !IsSilenceCode(wh, commonest_byte)) {
    result.reason = "degenerate content (one byte value is " + Fixed(commonest_share * 100, 0) + "% of the data)";
    return result;
  }

  // Digital silence reads alike under several layouts, so look-alikes are compared where the winner hears sound.
  std::vector<size_t> active_blocks, all_blocks(block_count);
  std::iota(all_blocks.begin(), all_blocks.end(), size_t{0});
  const size_t samples_per_byte = wh == Hypothesis::Adpcm ? 2 : 1;
  for (size_t block = 0; block < block_count; ++block) {
    double energy = 0;
    const size_t first = block * Block_bytes * samples_per_byte;
    for (size_t i = first; i < first + Block_bytes * samples_per_byte; ++i) energy += double(wr.samples[i]) * wr.samples[i];
    if (energy / double(Block_bytes * samples_per_byte) >= ActiveBlockEnergy) active_blocks.push_back(block);
  }
  // Look-alikes are weighed as the model charges them, then once more without the charge for offsets, which
  // would otherwise hide audio of another layout that carries an offset or hum of its own.
  std::optional<double> lookalike_t;
  for (const bool charged : {true, false}) {
    if (active_blocks.size() < 2) break;
    const auto lengths = [charged](const Reading& reading) -> const std::vector<double>& {
      return charged ? reading.byte_lengths_bits : reading.uncharged_byte_lengths_bits;
    };
    std::optional<size_t> lookalike;
    double lookalike_cost = 0;
    for (size_t i = 0; i < HypothesisCount; ++i) {
      if (IsNative(Hypothesis(i)) || !readings[i].qualified) continue;
      const double cost = MeanOver(lengths(readings[i]), active_blocks);
      if (!lookalike || cost < lookalike_cost) {
        lookalike = i;
        lookalike_cost = cost;
      }
    }
    if (!lookalike) break;
    const double winner_cost = MeanOver(lengths(wr), active_blocks);
    const double t = BlockT(lengths(wr), lengths(readings[*lookalike]), active_blocks);
    if (lookalike_cost < winner_cost - LookalikeMargin_bits_per_byte && t < LookalikeT &&
        lookalike_cost <= NoStructure_bits_per_byte) {
      result.reason = std::string("looks like ") + HypothesisNames[*lookalike] + ", not this format";
      return result;
    }
    if (charged && lookalike_cost < winner_cost - LookalikeTiebreak_bits_per_byte) lookalike_t = t;
  }

  if (wr.cost_bits_per_byte > NoStructure_bits_per_byte) {
    result.reason = "no audio structure under any coding (" + Fixed(wr.cost_bits_per_byte, 2) + " bits/byte)";
    return result;
  }
  if ((wh == Hypothesis::Alaw || wh == Hypothesis::Mulaw) && SignsLookUnnatural(wh, bytes, chunks)) {
    result.reason = std::string("sample signs and sizes are too lopsided for ") + HypothesisNames[w] + " audio";
    return result;
  }

  // The rival is the cheapest other native reading, set aside or not: a reading set aside for its offset may
  // still be the truth, and a winner must beat it block after block to be claimed with confidence.
  std::optional<size_t> runner_up;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (i == w || !IsNative(Hypothesis(i))) continue;
    if (!runner_up || readings[i].cost_bits_per_byte < readings[*runner_up].cost_bits_per_byte) runner_up = i;
  }
  double t = BlockT(wr.byte_lengths_bits, readings[*runner_up].byte_lengths_bits, all_blocks);
  if (lookalike_t) t = std::min(t, *lookalike_t);
  // The model charges a local offset as noise, which keeps wrong readings of silence from looking cheap but
  // also charges the true reading of audio with hum or an offset of its own. A winner that only the charge
  // puts ahead is not beyond doubt: a native reading that varies like audio and is cheaper uncharged where the
  // winner hears sound, block after block, caps the statistic.
  for (size_t i = 0; i < HypothesisCount; ++i) {
    const Reading& rival = readings[i];
    const bool varies_like_audio =
        rival.spread >= OffsetAudioSpread * std::abs(rival.mean) && rival.spread * rival.spread >= ActiveBlockEnergy;
    if (i == w || !IsNative(Hypothesis(i)) || !varies_like_audio) continue;
    const double uncharged_t = BlockT(wr.uncharged_byte_lengths_bits, rival.uncharged_byte_lengths_bits, active_blocks);
    if (uncharged_t < 0) t = std::min(t, uncharged_t);
  }

  result.coding = CodingOf(wh);
  result.t = t;
  result.confidence = 1 / (1 + std::exp(-0.6 * (std::min(t, MaximumT) - 2.34)));
  DetectRate(wr, wh, chunks, result);
  return result;
}

// Short files are read whole. Longer ones are sampled as evenly spread chunks, each decoded from a fresh
// state; chunk starts are kept even so that 16-bit readings stay on their byte pairs.
std::vector<ByteSpan> AnalysedSpans(size_t byte_count) {
  if (byte_count <= AnalysisCap_bytes) return {{0, byte_count}};
  std::vector<ByteSpan> chunks;
  const size_t spread = byte_count - Chunk_bytes;
  const size_t gaps = ChunkCount - 1;
  for (size_t i = 0; i < ChunkCount; ++i) {
    const size_t offset = spread / gaps * i + spread % gaps * i / gaps;  // spread * i / gaps without overflow
    chunks.push_back({offset & ~size_t{1}, Chunk_bytes});
  }
  return chunks;
}
