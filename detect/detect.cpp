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
constexpr double LittleStructure_bits_per_byte = 6;
constexpr double NearLookalike_bits_per_byte = 1;
constexpr double RandomBytes_bits_per_byte = 8;
constexpr double ActiveBlockEnergy = 24.0 * 24.0;  // mean square, 16-bit units
constexpr double LookalikeMargin_bits_per_byte = 0.05;
constexpr double LookalikeTiebreak_bits_per_byte = 0.005;
constexpr double LookalikeT = -3;
constexpr double DegenerateShare = 0.9;
// ADPCM's DC tracker takes any steady input, offset or not, to the silence codes, so no other byte value
// fills half of a real ADPCM file; G.711 keeps a recording's offset as a steady code of its own.
constexpr double AdpcmDegenerateShare = 0.5;
constexpr double MaximumT = 60;
constexpr double SureT = 10;  // confidence 0.99: a claim on the first bytes stands
constexpr size_t FirstStretch_bytes = 512;
constexpr double HopelessMargin_bits_per_byte = 1;
constexpr double HopelessT = 6;
constexpr size_t MinimumSoundingBlocks = 16;        // for a claim to stand before the end
constexpr size_t MinimumSoundingBlocksToLeave = 4;  // for a reading to leave the running
constexpr double OffsetAudioSpread = 0.25;  // least standard deviation, per unit of offset, of audio on an offset

constexpr std::array<const char*, HypothesisCount> HypothesisNames = {
    "alaw",       "mulaw",       "adpcm",  "adpcm_lowfirst", "alaw_bitrev", "mulaw_bitrev",
    "alaw_noinv", "mulaw_noinv", "pcm_u8", "pcm_s8",         "pcm_s16le",   "pcm_s16be"};

using Span = ByteSpan;

// One hypothesis over the analysed bytes. Lengths are kept per 128-byte block of the analysed bytes (the last
// block may be partial), which is all that the decision reads of them.
struct Reading {
  std::vector<double> block_bits;            // sum of the byte lengths in each block
  std::vector<double> uncharged_block_bits;  // the same without the model's charge for offsets
  std::vector<int32_t> samples;              // the chunks' decodings one after another, for a native reading
  double cost_bits_per_byte = 0;
  double mean = 0;
  double spread = 0;      // standard deviation about the mean
  bool qualified = true;  // false when the decoding sits on a large constant offset
};

size_t SamplesPerByteTimesTwo(Hypothesis h) {
  switch (h) {
    case Hypothesis::Adpcm:
    case Hypothesis::AdpcmLowFirst: return 4;
    case Hypothesis::PcmS16le:
    case Hypothesis::PcmS16be: return 1;
    default: return 2;
  }
}

// Adds the lengths of `byte_count` bytes whose samples have `sample_lengths` to the blocks, the first byte being
// at `position` in the analysed bytes: a byte of ADPCM costs its two nibbles, a byte of 16-bit PCM half of its
// sample, and an odd byte left over at the end of a chunk 8 bits.
void AddByteLengths(Hypothesis h, const double* sample_lengths, size_t byte_count, size_t position,
                    std::vector<double>& block_bits) {
  block_bits.resize((position + byte_count + Block_bytes - 1) / Block_bytes, 0.0);
  const size_t times_two = SamplesPerByteTimesTwo(h);
  for (size_t b = 0; b < byte_count;) {
    const size_t block = (position + b) / Block_bytes;
    const size_t run_end = std::min(byte_count, (block + 1) * Block_bytes - position);
    double sum = 0;
    if (times_two == 4) {
      for (; b < run_end; ++b) sum += sample_lengths[2 * b] + sample_lengths[2 * b + 1];
    } else if (times_two == 1) {
      for (; b < run_end; ++b) sum += b / 2 < byte_count / 2 ? sample_lengths[b / 2] / 2 : 8.0;
    } else {
      for (; b < run_end; ++b) sum += sample_lengths[b];
    }
    block_bits[block] += sum;
  }
}

// One hypothesis scored a stretch at a time over the analysed bytes, in their order: chunk after chunk, each
// decoded and modelled from a fresh state, as if in one call per chunk.
class Scorer {
 public:
  // Only a native reading can lead or be claimed, which is what the decoded samples are read for; they are
  // kept for those alone, in room made once.
  Scorer(Hypothesis h, const uint8_t* bytes, const std::vector<Span>& chunks) : h_(h), bytes_(bytes), chunks_(chunks) {
    if (!IsNative(h)) return;
    size_t total = 0;
    for (const Span& chunk : chunks) total += chunk.length;
    reading_.samples.reserve(total * SamplesPerByteTimesTwo(h) / 2);
  }

  // Scores the analysed bytes up to `end` (a position in all of them, one chunk after another).
  void ScoreTo(size_t end) {
    while (scored_ < end && chunk_ < chunks_.size()) {
      const size_t count = Decode(end);
      const size_t sample_count = cells_.values.size();
      lengths_.resize(sample_count);
      uncharged_lengths_.resize(sample_count);
      model_->Measure(cells_.values.data(), cells_.low.data(), cells_.high.data(), sample_count, lengths_.data(),
                      uncharged_lengths_.data());
      AddByteLengths(h_, lengths_.data(), count, scored_, reading_.block_bits);
      AddByteLengths(h_, uncharged_lengths_.data(), count, scored_, reading_.uncharged_block_bits);
      if (IsNative(h_)) reading_.samples.insert(reading_.samples.end(), cells_.values.begin(), cells_.values.end());
      sample_count_ += sample_count;
      for (const int32_t v : cells_.values) {
        sum_ += v;
        squares_ += double(v) * v;
      }
      Advance(count);
    }
  }

  size_t scored() const { return scored_; }

  // The reading so far, with its cost, offset and spread.
  Reading& reading() {
    double length_sum = 0;
    for (const double block : reading_.block_bits) length_sum += block;
    reading_.cost_bits_per_byte = length_sum / double(std::max<size_t>(scored_, 1));
    const double count = double(std::max<size_t>(sample_count_, 1));
    const double mean = sum_ / count;
    const double rms = std::sqrt(squares_ / count);
    reading_.mean = mean;
    reading_.spread = std::sqrt(std::max(0.0, squares_ / count - mean * mean));
    reading_.qualified = !(rms > 1000 && std::abs(mean) > 0.5 * rms);
    return reading_;
  }

  // The decoded samples of every analysed byte, those not scored decoded now without the model, and how many
  // come from each chunk. Scoring ends here.
  const std::vector<int32_t>& AllSamples(std::vector<size_t>& per_chunk) {
    while (chunk_ < chunks_.size()) {
      const size_t count = Decode(SIZE_MAX);
      reading_.samples.insert(reading_.samples.end(), cells_.values.begin(), cells_.values.end());
      Advance(count);
    }
    per_chunk.clear();
    for (const Span& chunk : chunks_) per_chunk.push_back(chunk.length * SamplesPerByteTimesTwo(h_) / 2);
    return reading_.samples;
  }

 private:
  // Decodes the bytes of the current chunk up to `end` into cells_; returns how many.
  size_t Decode(size_t end) {
    const Span& chunk = chunks_[chunk_];
    if (!model_) {
      model_.emplace(CodeLengthModel(CodeAlphabetSize(h_)));
      decoder_ = CellDecoder{};
    }
    const size_t count = std::min(end - scored_, chunk.length - in_chunk_);
    cells_.values.clear();
    cells_.low.clear();
    cells_.high.clear();
    DecodeWithCells(h_, decoder_, bytes_ + chunk.offset + in_chunk_, count, cells_);
    return count;
  }

  void Advance(size_t count) {
    scored_ += count;
    in_chunk_ += count;
    if (in_chunk_ == chunks_[chunk_].length) {
      chunk_++;
      in_chunk_ = 0;
      model_.reset();
    }
  }

  Hypothesis h_;
  const uint8_t* bytes_;
  const std::vector<Span>& chunks_;
  size_t chunk_ = 0, in_chunk_ = 0, scored_ = 0;
  std::optional<CodeLengthModel> model_;
  CellDecoder decoder_;
  CellStream cells_;
  std::vector<double> lengths_, uncharged_lengths_;
  Reading reading_;
  size_t sample_count_ = 0;
  double sum_ = 0, squares_ = 0;
};

// Student's t of the mean of per-block margins: large when they are positive block after block, not just on
// average.
double MarginT(const std::vector<double>& margins) {
  if (margins.size() < 2) return 0;
  const double mean = std::accumulate(margins.begin(), margins.end(), 0.0) / double(margins.size());
  double squares = 0;
  for (const double x : margins) squares += (x - mean) * (x - mean);
  const double sd = std::sqrt(squares / double(margins.size() - 1));
  if (sd == 0) return mean > 0 ? 1e6 : mean < 0 ? -1e6 : 0;  // identical margin in every block
  return mean / (sd / std::sqrt(double(margins.size())));
}

// The t of the winner's margin over a rival, in bits per byte, over the given blocks.
double BlockT(const std::vector<double>& winner, const std::vector<double>& rival, const std::vector<size_t>& blocks) {
  std::vector<double> margins;
  for (const size_t block : blocks) margins.push_back((rival[block] - winner[block]) / Block_bytes);
  return MarginT(margins);
}

double MeanOver(const std::vector<double>& block_bits, const std::vector<size_t>& blocks) {
  double acc = 0;
  for (const size_t block : blocks) acc += block_bits[block];
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

// How often each byte value occurs among all the analysed bytes, which is all that the checks on byte values
// and signs read: counted once, whatever part of the bytes the model measures.
using ByteCounts = std::array<size_t, 256>;

ByteCounts CountBytes(const uint8_t* bytes, const std::vector<Span>& chunks) {
  ByteCounts counts{};
  for (const Span& chunk : chunks) {
    for (size_t i = 0; i < chunk.length; ++i) counts[bytes[chunk.offset + i]]++;
  }
  return counts;
}

// The share of the commonest byte value, and that value.
std::pair<double, uint8_t> CommonestByte(const ByteCounts& counts) {
  size_t total = 0;
  for (const size_t count : counts) total += count;
  const auto commonest = std::max_element(counts.begin(), counts.end());
  return {double(*commonest) / double(total), uint8_t(commonest - counts.begin())};
}

// Audio coded in G.711 uses both signs about equally and in similar segments; data that is not audio under
// this coding often does not.
bool SignsLookUnnatural(Hypothesis winner, const ByteCounts& counts) {
  std::array<size_t, 8> positive{}, negative{};
  size_t positive_count = 0, negative_count = 0;
  for (size_t b = 0; b < 256; ++b) {
    const int magnitude_bits = winner == Hypothesis::Alaw ? (int(b) ^ 0x55) & 0x7F : int(~b) & 0x7F;
    if (magnitude_bits == 0) continue;  // the smallest codes carry no reliable sign
    if (b >= 0x80) {
      positive[size_t(magnitude_bits >> 4)] += counts[b];
      positive_count += counts[b];
    } else {
      negative[size_t(magnitude_bits >> 4)] += counts[b];
      negative_count += counts[b];
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

// The rate from the claimed coding's tones over every analysed byte, when a coding is claimed. The claimed
// reading's scorer has decoded the analysed bytes, or as many as it measured.
RawVoxDetection WithRate(RawVoxDetection result, std::vector<Scorer>& scorers) {
  if (!result.coding) return result;
  const Hypothesis h = *result.coding == DetectedCoding::Alaw    ? Hypothesis::Alaw
                       : *result.coding == DetectedCoding::Mulaw ? Hypothesis::Mulaw
                                                                 : Hypothesis::Adpcm;
  std::vector<size_t> per_chunk;
  const std::vector<int32_t>& samples = scorers[size_t(h)].AllSamples(per_chunk);
  ToneEvents total;
  size_t first = 0;
  for (const size_t count : per_chunk) {
    const ToneEvents events = CountToneEvents(samples.data() + first, count);
    total.events8 += events.events8;
    total.events6 += events.events6;
    first += count;
  }
  const RateDecision decision = DecideRate(total);
  result.events8 = total.events8;
  result.events6 = total.events6;
  result.rate = decision.rate;
  result.rate_hint = decision.hint;
  result.rate_confidence = decision.confidence;
  return result;
}

size_t NextCheckpoint(size_t end) { return (end + end / 2) / Block_bytes * Block_bytes; }

// Each hypothesis's reading as far as it was scored, and whether it is still in the running.
struct ReadingInRunning {
  Reading* reading = nullptr;
  bool in = true;
};
using Readings = std::array<ReadingInRunning, HypothesisCount>;

// The blocks in which the leader's decoding varies like sound (a standard deviation of 24 or more besides what
// repeats with every pair of bytes): silence, or a steady offset, reads alike under several layouts and says
// little about which one is right. A steady 16-bit sample repeats one pair of bytes, which an 8-bit reading hears
// as a half-rate oscillation and ADPCM as a cycle of four samples; long files of 16-bit PCM opening on an offset
// were once claimed as A-law and as ADPCM at 1.000 on their first 2,432 bytes that way, where the whole file is
// refused.
std::vector<size_t> SoundingBlocks(const Reading& leader, Hypothesis h, size_t analysed) {
  const size_t period = h == Hypothesis::Adpcm ? 4 : 2;  // samples from a pair of bytes
  const size_t samples_per_block = Block_bytes * period / 2;
  std::vector<size_t> blocks;
  for (size_t block = 0; block < analysed / Block_bytes; ++block) {
    std::array<double, 4> phase_sums{};
    double squares = 0;
    for (size_t i = block * samples_per_block; i < (block + 1) * samples_per_block; ++i) {
      const double x = leader.samples[i];
      phase_sums[i % period] += x;
      squares += x * x;
    }
    // What repeats with every pair of bytes is each phase's mean; the rest, about those means, is sound.
    double repeating = 0;
    const double per_phase = double(samples_per_block / period);
    for (size_t phase = 0; phase < period; ++phase) repeating += phase_sums[phase] * phase_sums[phase] / per_phase;
    if ((squares - repeating) / double(samples_per_block) >= ActiveBlockEnergy) blocks.push_back(block);
  }
  return blocks;
}

// Whether the leader beats every other reading still in the running block after block where it sounds.
bool BeatsEveryRival(const Readings& readings, size_t leader, const std::vector<size_t>& sounding) {
  if (sounding.size() < MinimumSoundingBlocks) return false;
  const Reading& lead = *readings[leader].reading;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (i == leader || !readings[i].in) continue;
    if (BlockT(lead.block_bits, readings[i].reading->block_bits, sounding) < SureT) return false;
  }
  return true;
}

// Takes out of the running every look-alike reading that costs the leader's plus a bit per byte or more where
// the leader sounds, consistently block after block (t of 6, on at least 4 such blocks), both as the model
// charges it and uncharged. The native readings stay to the end: the first bytes can mislead (the ADPCM decoder
// settles, a recording starts oddly), and one of them left out that early could no longer take the lead back.
// Says whether any left.
bool LeaveHopelessOut(Readings& readings, size_t leader, const std::vector<size_t>& blocks) {
  if (blocks.size() < MinimumSoundingBlocksToLeave) return false;
  const Reading& lead = *readings[leader].reading;
  bool left = false;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (IsNative(Hypothesis(i)) || !readings[i].in) continue;
    const Reading& other = *readings[i].reading;
    const bool charged_hopeless = MeanOver(other.block_bits, blocks) >=
                                      MeanOver(lead.block_bits, blocks) + HopelessMargin_bits_per_byte &&
                                  BlockT(lead.block_bits, other.block_bits, blocks) >= HopelessT;
    const bool uncharged_hopeless =
        MeanOver(other.uncharged_block_bits, blocks) >=
            MeanOver(lead.uncharged_block_bits, blocks) + HopelessMargin_bits_per_byte &&
        BlockT(lead.uncharged_block_bits, other.uncharged_block_bits, blocks) >= HopelessT;
    if (charged_hopeless && uncharged_hopeless) {
      readings[i].in = false;
      left = true;
    }
  }
  return left;
}

// The coding detection over the first `analysed` bytes, as scored by every reading still in the running;
// the checks on byte values and signs read the counts of all the analysed bytes. `winner` gets the cheapest
// qualified native reading.
RawVoxDetection Decide(const ByteCounts& counts, Readings& readings, size_t analysed, std::optional<size_t>* winner);

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

RawVoxDetection DetectRawVox(const uint8_t* bytes, size_t byte_count, DetectionDepth depth) {
  if (bytes == nullptr || byte_count < MinimumFile_bytes) {
    RawVoxDetection result;
    result.reason = "too short";
    return result;
  }
  const std::vector<Span> whole = AnalysedSpans(byte_count);
  size_t total = 0;
  for (const Span& span : whole) total += span.length;
  const ByteCounts counts = CountBytes(bytes, whole);
  std::vector<Scorer> scorers;
  for (size_t i = 0; i < HypothesisCount; ++i) scorers.emplace_back(Hypothesis(i), bytes, whole);
  Readings readings;
  std::optional<size_t> winner;
  if (depth == DetectionDepth::Whole) {
    for (size_t i = 0; i < HypothesisCount; ++i) {
      scorers[i].ScoreTo(total);
      readings[i].reading = &scorers[i].reading();
    }
    return WithRate(Decide(counts, readings, total, &winner), scorers);
  }

  // The analysed bytes are scored in stretches that grow by half, in whole blocks. After each, a claim stands when it
  // has a wide margin (t of 10 or more, confidence 0.99) and the claimed reading beats every other one still in the
  // running as widely on at least 16 blocks where it sounds, so that silence or a steady offset alone never settles a
  // file; otherwise readings that are hopeless beside the leader, charged and uncharged, leave the running. Short of a
  // sure claim, the readings still in the running are measured to the end and decide. Should the lead change hands,
  // the readings left out beside the old leader are no longer known to be hopeless: they all come back at once,
  // measured as far as the others, before anything is claimed or left out beside the new leader.
  size_t left_out_beside = HypothesisCount;  // the leader beside which the readings out of the running left it, if any
  for (size_t end = std::min(total, FirstStretch_bytes);;) {
    for (size_t i = 0; i < HypothesisCount; ++i) {
      if (!readings[i].in) continue;
      scorers[i].ScoreTo(end);
    }
    for (size_t i = 0; i < HypothesisCount; ++i) readings[i].reading = &scorers[i].reading();
    RawVoxDetection result = Decide(counts, readings, end, &winner);
    if (left_out_beside != HypothesisCount && winner != left_out_beside) {
      for (size_t i = 0; i < HypothesisCount; ++i) {
        if (readings[i].in) continue;
        scorers[i].ScoreTo(end);
        readings[i].in = true;
      }
      for (size_t i = 0; i < HypothesisCount; ++i) readings[i].reading = &scorers[i].reading();
      left_out_beside = HypothesisCount;
      result = Decide(counts, readings, end, &winner);
    }
    if (end == total) return WithRate(std::move(result), scorers);
    // Past a quarter of the bytes, a statistic that would stay short of a sure claim even if it kept growing
    // with the square root of the bytes will not settle early: the rest is measured in one go.
    const bool out_of_reach = 4 * end >= total && result.t * std::sqrt(double(total) / double(end)) < SureT;
    if (winner && !out_of_reach) {
      const std::vector<size_t> sounding = SoundingBlocks(*readings[*winner].reading, Hypothesis(*winner), end);
      if (result.coding && result.t >= SureT && BeatsEveryRival(readings, *winner, sounding)) {
        return WithRate(std::move(result), scorers);
      }
      if (LeaveHopelessOut(readings, *winner, sounding)) left_out_beside = *winner;
    }
    end = out_of_reach ? total : std::min(total, NextCheckpoint(end));
  }
}

namespace {

RawVoxDetection Decide(const ByteCounts& counts, Readings& readings, size_t analysed,
                       std::optional<size_t>* winner_out) {
  RawVoxDetection result;
  for (size_t i = 0; i < HypothesisCount; ++i) result.costs[i] = readings[i].reading->cost_bits_per_byte;
  result.analysed_bytes = analysed;
  const size_t block_count = analysed / Block_bytes;
  const auto in = [&readings](size_t i) { return readings[i].in; };
  const auto reading = [&readings](size_t i) -> Reading& { return *readings[i].reading; };
  const auto cost = [&readings](size_t i) { return readings[i].reading->cost_bits_per_byte; };

  // A large offset is what constant or non-audio data looks like under a reading, but real recordings carry
  // offsets too. A reading on an offset stays in when its sound varies by more than a quarter of the offset
  // and it has audio structure: the cheapest native reading (set aside, it would hand the file to a worse
  // reading), and any look-alike that is clearly audio, since it can only refuse a claim.
  std::optional<size_t> cheapest_native;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (!IsNative(Hypothesis(i)) || !in(i)) continue;
    if (!cheapest_native || cost(i) < cost(*cheapest_native)) cheapest_native = i;
  }
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (!in(i)) continue;
    Reading& reading = *readings[i].reading;
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
    if (!IsNative(Hypothesis(i)) || !in(i) || !reading(i).qualified) continue;
    if (!winner || cost(i) < cost(*winner)) winner = i;
  }
  *winner_out = winner;
  if (!winner) {
    result.reason = "every decoding sits on a large constant offset (constant or non-audio data)";
    return result;
  }
  const size_t w = *winner;
  const Hypothesis wh = Hypothesis(w);
  const Reading& wr = reading(w);
  result.best = HypothesisNames[w];

  const auto [commonest_share, commonest_byte] = CommonestByte(counts);
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
      return charged ? reading.block_bits : reading.uncharged_block_bits;
    };
    std::optional<size_t> lookalike;
    double lookalike_cost = 0;
    for (size_t i = 0; i < HypothesisCount; ++i) {
      if (IsNative(Hypothesis(i)) || !in(i) || !reading(i).qualified) continue;
      const double cost = MeanOver(lengths(reading(i)), active_blocks);
      if (!lookalike || cost < lookalike_cost) {
        lookalike = i;
        lookalike_cost = cost;
      }
    }
    if (!lookalike) break;
    const double winner_cost = MeanOver(lengths(wr), active_blocks);
    const double t = BlockT(lengths(wr), lengths(reading(*lookalike)), active_blocks);
    if (lookalike_cost < winner_cost - LookalikeMargin_bits_per_byte && t < LookalikeT &&
        lookalike_cost <= NoStructure_bits_per_byte) {
      result.reason = std::string("looks like ") + HypothesisNames[*lookalike] + ", not this format";
      return result;
    }
    // A G.711 winner with little structure of its own that a look-alike nearly matches is measured against it
    // even when it is the cheaper: both read the bytes' bits as amplitudes much alike, so beating the other
    // codings says little. Nibble-swapped ADPCM of clipped speech once passed for mu-law at 0.999 that way,
    // a seventh of a bit per byte ahead of 8-bit PCM.
    const bool near_lookalike = wh != Hypothesis::Adpcm && wr.cost_bits_per_byte > LittleStructure_bits_per_byte &&
                                lookalike_cost < winner_cost + NearLookalike_bits_per_byte;
    if (charged && (lookalike_cost < winner_cost - LookalikeTiebreak_bits_per_byte || near_lookalike)) {
      lookalike_t = t;
    }
  }

  if (wr.cost_bits_per_byte > NoStructure_bits_per_byte) {
    result.reason = "no audio structure under any coding (" + Fixed(wr.cost_bits_per_byte, 2) + " bits/byte)";
    return result;
  }
  if ((wh == Hypothesis::Alaw || wh == Hypothesis::Mulaw) && SignsLookUnnatural(wh, counts)) {
    result.reason = std::string("sample signs and sizes are too lopsided for ") + HypothesisNames[w] + " audio";
    return result;
  }

  // The rival is the cheapest other native reading that is not set aside for its offset; only when every other
  // one is set aside is it the cheapest of those (never a flat 8 bits per byte, which once let a wrong reading of
  // A-law on an offset claim mu-law at 1.00). A set-aside reading that may still be the truth is weighed below,
  // without the charge for its offset. As the rival it would hold back true claims: G.711 read from ADPCM bytes
  // sits on an offset of about half its RMS from the byte layout alone, and cut real ADPCM prompts below 0.9.
  std::optional<size_t> runner_up;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (i == w || !IsNative(Hypothesis(i)) || !in(i)) continue;
    const bool better_standing = runner_up && reading(i).qualified && !reading(*runner_up).qualified;
    const bool same_standing = runner_up && reading(i).qualified == reading(*runner_up).qualified;
    if (!runner_up || better_standing || (same_standing && cost(i) < cost(*runner_up))) runner_up = i;
  }
  double t = BlockT(wr.block_bits, reading(*runner_up).block_bits, all_blocks);
  if (lookalike_t) t = std::min(t, *lookalike_t);
  // Beating the other readings is evidence only where the winner has audio structure of its own. Bytes that are
  // no audio under any reading can still favour one reading's cells a little: nibble-swapped ADPCM of clipped
  // speech, made of a few small codes, favours mu-law's full-scale codes and once passed for mu-law at 7.7 bits
  // per byte. So a winner that is not clearly audio must also beat random bytes, which cost 8 bits per byte
  // under any reading, block after block.
  if (wr.cost_bits_per_byte > ClearAudio_bits_per_byte) {
    std::vector<double> margins;
    for (const size_t block : all_blocks) {
      margins.push_back(RandomBytes_bits_per_byte - wr.block_bits[block] / Block_bytes);
    }
    t = std::min(t, MarginT(margins));
  }
  // The model charges a local offset as noise, which keeps wrong readings of silence from looking cheap but
  // also charges the true reading of audio with hum or an offset of its own. A winner that only the charge
  // puts ahead is not beyond doubt: a native reading that varies like audio and is cheaper uncharged where the
  // winner hears sound, block after block, caps the statistic.
  for (size_t i = 0; i < HypothesisCount; ++i) {
    if (!in(i)) continue;
    const Reading& rival = reading(i);
    const bool varies_like_audio =
        rival.spread >= OffsetAudioSpread * std::abs(rival.mean) && rival.spread * rival.spread >= ActiveBlockEnergy;
    if (i == w || !IsNative(Hypothesis(i)) || !varies_like_audio) continue;
    const double uncharged_t = BlockT(wr.uncharged_block_bits, rival.uncharged_block_bits, active_blocks);
    if (uncharged_t < 0) t = std::min(t, uncharged_t);
  }

  result.coding = CodingOf(wh);
  result.t = t;
  result.confidence = 1 / (1 + std::exp(-0.6 * (std::min(t, MaximumT) - 2.34)));
  return result;
}

}  // namespace

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
