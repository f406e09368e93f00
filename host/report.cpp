#include "host/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "host/codes.h"
#include "host/errors.h"
#include "host/json_text.h"
#include "host/raw_format.h"

namespace {

std::string TextOrNull(const std::string& text) { return text.empty() ? "null" : JsonQuoted(text); }

std::string Number(double number, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, number);
  return text;
}

// Writes all of `bytes`, or throws.
void WriteAll(int descriptor, const std::string& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw FileError(path, "writing the report failed: " + SystemReason(put < 0 ? errno : EIO));
    done += static_cast<size_t>(put);
  }
}

// The length of the file up to and with its last newline: what stays of a file whose last line was cut off.
off_t WholeLinesLength(int descriptor, off_t size, const std::string& path) {
  char chunk[4096];
  for (off_t end = size; end > 0;) {
    const off_t start = end > static_cast<off_t>(sizeof(chunk)) ? end - static_cast<off_t>(sizeof(chunk)) : 0;
    const ssize_t got = pread(descriptor, chunk, static_cast<size_t>(end - start), start);
    if (got < 0 && errno == EINTR) continue;
    if (got != end - start) throw FileError(path, "reading the report failed: " + SystemReason(got < 0 ? errno : EIO));
    for (ssize_t i = got; i > 0; --i) {
      if (chunk[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return 0;
}

}  // namespace

std::string ReportLine(const ReportEntry& entry) {
  const TranscodeFacts& facts = entry.facts;
  std::string line = "{\"path\": " + JsonQuoted(entry.path);
  line += ", \"output\": " + TextOrNull(entry.output);
  line += ", \"status\": " + JsonQuoted(entry.status);
  line += ", \"reason\": " + TextOrNull(entry.reason);
  line += ", \"tagged\": " + std::string(facts.tagged ? (*facts.tagged ? "true" : "false") : "null");
  line += ", \"coding\": " + (facts.coding != KVOX_CODING_NONE ? JsonQuoted(std::string(AliasOf(facts.coding))) : "null");
  line += ", \"coding_from\": " + TextOrNull(facts.coding_from);
  line += ", \"confidence\": " + (facts.confidence ? Number(*facts.confidence, 6) : "null");
  line += ", \"rate\": " + (facts.rate_hz > 0 ? std::to_string(facts.rate_hz) : "null");
  line += ", \"rate_from\": " + TextOrNull(facts.rate_from);
  line += ", \"duration\": " + (entry.duration_seconds ? Number(*entry.duration_seconds, 6) : "null");
  line += ", \"bytes_in\": " + (entry.bytes_in ? std::to_string(*entry.bytes_in) : "null");
  line += ", \"bytes_out\": " + (entry.bytes_out ? std::to_string(*entry.bytes_out) : "null");
  return line + "}\n";
}

ReportFile::ReportFile(const std::string& path) : path_(path) {
  descriptor_ = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (descriptor_ < 0) descriptor_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (descriptor_ < 0) throw FileError(path, "cannot open the report: " + SystemReason(errno));
  struct stat info {};
  if (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) return;
  char last = '\n';
  if (pread(descriptor_, &last, 1, info.st_size - 1) != 1 || last == '\n') return;  // whole, or not readable
  // A run killed while it wrote its last line: that line goes, the whole ones before it stay.
  const off_t keep = WholeLinesLength(descriptor_, info.st_size, path);
  if (ftruncate(descriptor_, keep) != 0) {
    const int error_number = errno;
    close(descriptor_);
    throw FileError(path, "cannot remove the cut-off last line of the report: " + SystemReason(error_number));
  }
  repaired_ = true;
}

ReportFile::~ReportFile() {
  if (descriptor_ >= 0) close(descriptor_);
}

void ReportFile::Write(const ReportEntry& entry) {
  const std::string line = ReportLine(entry);
  std::lock_guard lock(mutex_);
  WriteAll(descriptor_, line, path_);
}
