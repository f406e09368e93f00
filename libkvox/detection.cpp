// What a raw file's content says of its coding and rate, and the rule that acts on it: a coding claimed
// at a confidence of 0.9 or more is read, at the rate tones decide at 0.9 or more, else at 8000 Hz.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "detect/detect.h"
#include "libkvox/detection.h"
#include "libkvox/internal.h"

namespace {

using kvox_internal::ErrorFromErrno;

// A detected coding as people read it, and the codings that read it at each rate.
struct DetectedCodingRow {
  DetectedCoding coding;
  const char* readable;
  kvox_coding at_8000;
  kvox_coding at_6000;
};

constexpr std::array<DetectedCodingRow, 3> DetectedCodingRows{{
    {DetectedCoding::Alaw, "A-law", KVOX_ALAW, KVOX_ALAW48},
    {DetectedCoding::Mulaw, "mu-law", KVOX_ULAW, KVOX_ULAW48},
    {DetectedCoding::Adpcm, "ADPCM", KVOX_ADPCM, KVOX_ADPCM24},
}};

constexpr bool RowsAgreeWithTheCatalogue() {
  constexpr Coding Catalogued[] = {Coding::Alaw, Coding::Mulaw, Coding::Adpcm};
  for (size_t i = 0; i < DetectedCodingRows.size(); ++i) {
    const DetectedCodingRow& row = DetectedCodingRows[i];
    if (CodingOf(row.at_8000) != Catalogued[i] || SampleRate(row.at_8000) != 8000) return false;
    if (CodingOf(row.at_6000) != Catalogued[i] || SampleRate(row.at_6000) != 6000) return false;
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

const DetectedCodingRow* RowOf(kvox_coding coding) {
  for (const DetectedCodingRow& row : DetectedCodingRows) {
    if (row.at_8000 == coding || row.at_6000 == coding) return &row;
  }
  return nullptr;
}

// The layouts the detector refuses a file for resembling, in the user's words.
struct LookalikeName {
  std::string_view detector_name;
  std::string_view readable;
};

constexpr std::array<LookalikeName, 9> LookalikeNames{{
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

double ShownConfidence(double confidence, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::floor(confidence * scale) / scale;
}

std::string ShownTwoPlaces(double confidence) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", ShownConfidence(confidence, 2));
  return text;
}

// Why the coding is unknown, in the user's words; "" when a coding is reported.
std::string ReadableReason(const RawVoxDetection& detection) {
  if (detection.coding && detection.confidence < kvox_internal::UnsureConfidence) {
    return "no coding fits consistently better than the others; the closest is " +
           std::string(RowOf(*detection.coding).readable) + ", confidence " + ShownTwoPlaces(detection.confidence);
  }
  if (detection.coding) return "";
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

void CopyText(const std::string& text, char* into, size_t size) {
  const size_t length = std::min(text.size(), size - 1);
  std::memcpy(into, text.data(), length);
  into[length] = '\0';
}

kvox_detection Answer(const RawVoxDetection& found) {
  kvox_detection answer{};
  const bool reported = found.coding && found.confidence >= kvox_internal::UnsureConfidence;
  if (reported) {
    const DetectedCodingRow& row = RowOf(*found.coding);
    answer.coding = row.at_8000;
    if (found.confidence >= kvox_internal::ActOnConfidence) {
      const bool rate_decided = found.rate && found.rate_confidence >= kvox_internal::ActOnConfidence;
      answer.read_as = rate_decided && *found.rate == 6000 ? row.at_6000 : row.at_8000;
    }
  }
  answer.confidence = ShownConfidence(found.confidence, 6);
  answer.rate = found.rate.value_or(0);
  answer.rate_confidence = found.rate_confidence;
  answer.rate_hint = found.rate_hint.value_or(0);
  answer.t = found.t;
  CopyText(found.best, answer.best, sizeof(answer.best));
  CopyText(ReadableReason(found), answer.reason, sizeof(answer.reason));
  return answer;
}

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

// Reads up to `length` bytes at `offset`; returns the bytes read (fewer only when the file ends sooner),
// or -1 with errno set.
ssize_t ReadAt(int descriptor, uint8_t* into, size_t offset, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(descriptor, into + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

namespace kvox_internal {

int DetectFile(const char* path, RawVoxDetection& found) {
  const Descriptor file(open(path, O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return ErrorFromErrno(errno, KVOX_EIO);
  struct stat info {};
  if (fstat(file.Get(), &info) != 0) return ErrorFromErrno(errno, KVOX_EIO);
  if (S_ISDIR(info.st_mode)) return KVOX_EISDIR;
  if (!S_ISREG(info.st_mode)) return KVOX_ENOTREG;
  const size_t byte_count = static_cast<size_t>(std::max<off_t>(info.st_size, 0));
  const std::vector<ByteSpan> spans = AnalysedSpans(byte_count);
  if (spans.size() == 1) {
    std::vector<uint8_t> bytes(byte_count);
    const ssize_t read = ReadAt(file.Get(), bytes.data(), 0, byte_count);
    if (read < 0) return ErrorFromErrno(errno, KVOX_EIO);
    found = DetectRawVox(bytes.data(), static_cast<size_t>(read));
    return KVOX_OK;
  }
  // Only the spans the detector looks at are read, into memory the size of the whole file whose pages cost
  // nothing until written; unlike a mapping of the file, a file that shrinks meanwhile cannot fault.
  void* memory =
      mmap(nullptr, byte_count, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return KVOX_ENOMEM;
  auto* bytes = static_cast<uint8_t*>(memory);
  int status = KVOX_OK;
  for (const ByteSpan& chunk : spans) {
    if (ReadAt(file.Get(), bytes + chunk.offset, chunk.offset, chunk.length) < 0) {
      status = ErrorFromErrno(errno, KVOX_EIO);
      break;
    }
  }
  if (status == KVOX_OK) found = DetectRawVox(bytes, byte_count);
  munmap(memory, byte_count);
  return status;
}

int DetectFile(const char* path, kvox_detection& answer) {
  RawVoxDetection found;
  const int status = DetectFile(path, found);
  if (status == KVOX_OK) answer = Answer(found);
  return status;
}

}  // namespace kvox_internal

extern "C" {

int kvox_detect(const uint8_t* data, size_t bytes, kvox_detection* out) {
  if (out == nullptr || (data == nullptr && bytes > 0)) return KVOX_EINVAL;
  static const uint8_t nothing = 0;
  *out = Answer(DetectRawVox(data != nullptr ? data : &nothing, bytes));
  return KVOX_OK;
}

int kvox_detect_file(const char* path, kvox_detection* out) {
  if (path == nullptr || out == nullptr) return KVOX_EINVAL;
  return kvox_internal::DetectFile(path, *out);
}

int kvox_detection_summary(const kvox_detection* detection, char* text, size_t size) {
  if (detection == nullptr || (text == nullptr && size > 0)) return KVOX_EINVAL;
  std::string summary = "coding ";
  const DetectedCodingRow* row = RowOf(detection->coding);
  if (row == nullptr) {
    summary += "unknown (" + std::string(detection->reason) + ")";
  } else {
    const std::string confidence = "confidence " + ShownTwoPlaces(detection->confidence);
    if (detection->confidence >= kvox_internal::ActOnConfidence) {
      summary += std::string(row->readable) + ", " + confidence;
    } else {
      summary += "probably " + std::string(row->readable) + " (unsure), " + confidence;
    }
  }
  summary += "; ";
  if (detection->rate != 0) {
    summary += "rate " + std::to_string(detection->rate) + " Hz from its tones, confidence " +
               ShownTwoPlaces(detection->rate_confidence);
  } else {
    summary += "rate unknown from content";
    if (detection->rate_hint != 0) {
      summary += " (a single tone event hints at " + std::to_string(detection->rate_hint) + " Hz)";
    }
  }
  if (size > 0) CopyText(summary, text, size);
  return static_cast<int>(summary.size());
}

}  // extern "C"
