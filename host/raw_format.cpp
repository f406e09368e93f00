#include "host/raw_format.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "host/codes.h"
#include "host/errors.h"

namespace {

// A detected coding, as people read it, and the options words that read it at each rate.
struct DetectedCodingRow {
  DetectedCoding coding;
  Coding catalogue_coding;
  const char* readable;
  OptionsWord word_at_8000;
  OptionsWord word_at_6000;
};

inline constexpr std::array<DetectedCodingRow, 3> DetectedCodingRows{{
    {DetectedCoding::Alaw, Coding::Alaw, "A-law", 1, 2},
    {DetectedCoding::Mulaw, Coding::Mulaw, "mu-law", 3, 4},
    {DetectedCoding::Adpcm, Coding::Adpcm, "ADPCM", 5, 6},
}};

constexpr bool RowsAgreeWithTheCatalogue() {
  for (const DetectedCodingRow& row : DetectedCodingRows) {
    if (CodingOf(row.word_at_8000) != row.catalogue_coding || SampleRate(row.word_at_8000) != 8000) return false;
    if (CodingOf(row.word_at_6000) != row.catalogue_coding || SampleRate(row.word_at_6000) != 6000) return false;
  }
  return true;
}
static_assert(RowsAgreeWithTheCatalogue());

const DetectedCodingRow& RowOf(DetectedCoding coding) {
  for (const DetectedCodingRow& row : DetectedCodingRows) {
    if (row.coding == coding) return row;
  }
  return DetectedCodingRows[0];  // every enumerator has a row
}

// The layouts the detector refuses a file for resembling, in the user's words.
struct LookalikeName {
  std::string_view detector_name;
  std::string_view readable;
};

inline constexpr std::array<LookalikeName, 9> LookalikeNames{{
    {"adpcm_lowfirst", "ADPCM with the low nibble first"},
    {"alaw_bitrev", "A-law with the bits of each byte reversed"},
    {"mulaw_bitrev", "mu-law with the bits of each byte reversed"},
    {"alaw_noinv", "A-law stored without its even-bit inversion"},
    {"mulaw_noinv", "mu-law stored without its bit inversion"},
    {"pcm_u8", "8-bit unsigned PCM"},
    {"pcm_s8", "8-bit signed PCM"},
    {"pcm_s16le", "16-bit PCM"},
    {"pcm_s16be", "16-bit big-endian PCM"},
}};
static_assert(LookalikeNames.size() == HypothesisCount - 3, "one name per layout that is not this format");

class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return descriptor_; }

 private:
  int descriptor_;
};

// Memory the size of a whole file in which only the chunks read are ever touched: its pages cost nothing
// until written, so a file of gigabytes takes only the chunks' worth. Unlike a mapping of the file itself,
// a file that shrinks meanwhile cannot make the reads fault.
class SparseBytes {
 public:
  SparseBytes(const std::string& path, size_t byte_count) : byte_count_(byte_count) {
    void* memory =
        mmap(nullptr, byte_count, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) {
      throw FileError(path, "cannot set aside memory to examine its content: " + SystemReason(errno));
    }
    bytes_ = static_cast<uint8_t*>(memory);
  }
  ~SparseBytes() { munmap(bytes_, byte_count_); }
  SparseBytes(const SparseBytes&) = delete;
  SparseBytes& operator=(const SparseBytes&) = delete;
  uint8_t* Data() { return bytes_; }

 private:
  uint8_t* bytes_ = nullptr;
  size_t byte_count_;
};

// Reads up to `length` bytes at `offset`; returns the bytes read, fewer only when the file ends sooner.
size_t ReadAt(const Descriptor& file, const std::string& path, uint8_t* into, size_t offset, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(file.Get(), into + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError(path, "reading failed: " + SystemReason(errno));
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

std::string Fixed(double number, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, number);
  return text;
}

std::string ShownTwoPlaces(double confidence) { return Fixed(ShownConfidence(confidence, 2), 2); }

std::string CodingPart(const RawVoxDetection& detection) {
  const std::optional<DetectedCoding> coding = ReportedCoding(detection);
  if (!coding) return "unknown (" + ReadableReason(detection) + ")";
  const std::string readable = RowOf(*coding).readable;
  const std::string confidence = "confidence " + ShownTwoPlaces(detection.confidence);
  if (detection.confidence >= ActOnConfidence) return readable + ", " + confidence;
  return "probably " + readable + " (unsure), " + confidence;
}

std::string RatePart(const RawVoxDetection& detection) {
  if (detection.rate) {
    return "rate " + std::to_string(*detection.rate) + " Hz from its tones, confidence " +
           ShownTwoPlaces(detection.rate_confidence);
  }
  std::string text = "rate unknown from content";
  if (detection.rate_hint) text += " (a single tone event hints at " + std::to_string(*detection.rate_hint) + " Hz)";
  return text;
}

std::string OptionValue(const std::string& option_name, OptionsWord word) {
  return option_name + " " + std::string(AliasOf(word));
}

// "A, B or C".
std::string Alternatives(const std::vector<std::string>& choices) {
  std::string text;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += i + 1 == choices.size() ? " or " : ", ";
    text += choices[i];
  }
  return text;
}

// The option values that would read the file, the likeliest first.
std::string Advice(const RawVoxDetection& detection, const std::string& option_name) {
  if (const std::optional<DetectedCoding> coding = ReportedCoding(detection)) {
    const DetectedCodingRow& row = RowOf(*coding);
    const std::optional<int> likely_rate = detection.rate ? detection.rate : detection.rate_hint;
    const bool slow_first = likely_rate == 6000;
    const OptionsWord first = slow_first ? row.word_at_6000 : row.word_at_8000;
    const OptionsWord second = slow_first ? row.word_at_8000 : row.word_at_6000;
    return "if it is " + std::string(row.readable) + ", try " +
           Alternatives({OptionValue(option_name, first), OptionValue(option_name, second)});
  }
  std::vector<std::string> all;
  for (const CodingSpelling& name : CodingNames) all.push_back(OptionValue(option_name, name.word));
  return "if it is VOX audio all the same, name its coding: " + Alternatives(all);
}

}  // namespace

OptionsWord WordFor(DetectedCoding coding, int rate_hz) {
  const DetectedCodingRow& row = RowOf(coding);
  return rate_hz == 6000 ? row.word_at_6000 : row.word_at_8000;
}

double ShownConfidence(double confidence, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::floor(confidence * scale) / scale;
}

std::optional<DetectedCoding> ReportedCoding(const RawVoxDetection& detection) {
  if (detection.confidence < UnsureConfidence) return std::nullopt;
  return detection.coding;
}

std::string ReadableReason(const RawVoxDetection& detection) {
  if (detection.coding && detection.confidence < UnsureConfidence) {
    return "no coding fits consistently better than the others; the closest is " +
           std::string(RowOf(*detection.coding).readable) + ", confidence " + ShownTwoPlaces(detection.confidence);
  }
  if (ReportedCoding(detection)) return "";
  constexpr std::string_view Prefix = "looks like ", Suffix = ", not this format";
  const std::string& reason = detection.reason;
  if (reason.starts_with(Prefix) && reason.ends_with(Suffix) && reason.size() > Prefix.size() + Suffix.size()) {
    const std::string_view name =
        std::string_view(reason).substr(Prefix.size(), reason.size() - Prefix.size() - Suffix.size());
    for (const LookalikeName& lookalike : LookalikeNames) {
      if (lookalike.detector_name == name) {
        return std::string(Prefix) + std::string(lookalike.readable) + std::string(Suffix);
      }
    }
  }
  return reason;
}

std::string DetectionSummary(const RawVoxDetection& detection) {
  return "coding " + CodingPart(detection) + "; " + RatePart(detection);
}

RawVoxDetection DetectRawFile(const std::string& file_path, const std::string& shown_path) {
  const std::string& path = shown_path.empty() ? file_path : shown_path;
  const Descriptor file(open(file_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) throw FileError(path, SystemReason(errno));
  struct stat info {};
  if (fstat(file.Get(), &info) != 0) throw FileError(path, SystemReason(errno));
  const size_t byte_count = static_cast<size_t>(std::max<off_t>(info.st_size, 0));
  const std::vector<ByteSpan> spans = AnalysedSpans(byte_count);
  if (spans.size() == 1) {
    std::vector<uint8_t> bytes(byte_count);
    const size_t read = ReadAt(file, path, bytes.data(), 0, byte_count);
    return DetectRawVox(bytes.data(), read);
  }
  // Only the spans the detector looks at are read into a buffer the size of the whole file.
  SparseBytes bytes(path, byte_count);
  for (const ByteSpan& chunk : spans) {
    ReadAt(file, path, bytes.Data() + chunk.offset, chunk.offset, chunk.length);
  }
  return DetectRawVox(bytes.Data(), byte_count);
}

RawFormatChoice ChooseRawFormat(const std::string& file_path, std::optional<OptionsWord> requested,
                                const std::string& option_name, const std::string& shown_path) {
  const std::string& path = shown_path.empty() ? file_path : shown_path;
  RawFormatChoice choice;
  if (requested) {
    choice.word = requested;
    choice.source = option_name;
    return choice;
  }
  choice.detection = DetectRawFile(file_path, path);
  const RawVoxDetection& detection = *choice.detection;
  if (!detection.coding || detection.confidence < ActOnConfidence) {
    choice.advice = Advice(detection, option_name);
    choice.reason =
        "a raw VOX file (no coding tag) whose content does not settle its coding: " + DetectionSummary(detection) +
        "; " + choice.advice;
    return choice;
  }
  const DetectedCodingRow& row = RowOf(*detection.coding);
  const bool rate_decided = detection.rate && detection.rate_confidence >= ActOnConfidence;
  choice.word = WordFor(*detection.coding, rate_decided ? *detection.rate : 8000);
  choice.source = "content";
  std::string note = path + ": raw; reading it as " + row.readable + " (from its content, confidence " +
                     ShownTwoPlaces(detection.confidence) + ") at ";
  if (rate_decided) {
    note += std::to_string(*detection.rate) + " Hz (from its tones, confidence " +
            ShownTwoPlaces(detection.rate_confidence) + ")";
  } else {
    note += "8000 Hz: " + RatePart(detection) + "; if it runs at 6000 Hz, use " +
            OptionValue(option_name, row.word_at_6000);
  }
  choice.notes.push_back(note);
  return choice;
}
