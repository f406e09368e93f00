#include "host/standard_streams.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "host/errors.h"
#include "host/output_file.h"

namespace {

constexpr size_t CopyBytes = size_t{1} << 20;

// Writes all of `bytes`; false with errno set when the descriptor refuses some of them.
bool WriteAll(int descriptor, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t put = write(descriptor, bytes, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

std::string DescriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

void RefuseTerminalOutput() {
  if (isatty(STDOUT_FILENO)) {
    throw FileError(StandardOutputName, "is a terminal; send the audio to a file or a pipe (> out.wav, | ...)");
  }
}

// A private file with no name: O_TMPFILE where the file system has it, else a name unlinked at once.
int UnnamedTemporaryFile(std::string& folder) {
  const char* configured = std::getenv("TMPDIR");
  folder = configured != nullptr && *configured != '\0' ? configured : "/tmp";
  int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (descriptor >= 0) return descriptor;
  std::string pattern = folder + "/kvox-input-XXXXXX";
  const CleanupSignalsHeld held;
  descriptor = mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor >= 0) unlink(pattern.c_str());
  return descriptor;
}

void Append(std::string& bytes, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

StandardInputFile::StandardInputFile() {
  if (isatty(STDIN_FILENO))
    throw FileError(StandardInputName, "is a terminal; send the audio through a pipe or < FILE");
  struct stat info {};
  if (fstat(STDIN_FILENO, &info) != 0) throw FileError(StandardInputName, SystemReason(errno));
  // A regular file read from its start is opened again by name, with no copy.
  if (S_ISREG(info.st_mode) && lseek(STDIN_FILENO, 0, SEEK_CUR) == 0) {
    path_ = DescriptorPath(STDIN_FILENO);
    return;
  }
  std::string folder;
  copy_ = UnnamedTemporaryFile(folder);
  if (copy_ < 0)
    throw FileError(StandardInputName, "cannot make a temporary copy in " + folder + ": " + SystemReason(errno));
  std::vector<char> buffer(CopyBytes);
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileError(StandardInputName, "reading failed: " + SystemReason(errno));
    if (got == 0) break;
    if (!WriteAll(copy_, buffer.data(), static_cast<size_t>(got))) {
      throw FileError(StandardInputName, "cannot keep a temporary copy in " + folder + ": " + SystemReason(errno));
    }
  }
  path_ = DescriptorPath(copy_);
}

StandardInputFile::~StandardInputFile() {
  if (copy_ >= 0) close(copy_);
}

StandardOutputRelay::StandardOutputRelay() {
  RefuseTerminalOutput();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw FileError(StandardOutputName, "cannot make a pipe: " + SystemReason(errno));
  read_end_ = ends[0];
  write_end_ = ends[1];
  write_path_ = DescriptorPath(write_end_);
  thread_ = std::thread([this] { PassOn(); });
}

StandardOutputRelay::~StandardOutputRelay() {
  WriterOpened();
  if (thread_.joinable()) thread_.join();
  close(read_end_);
}

void StandardOutputRelay::PassOn() {
  std::vector<char> buffer(CopyBytes);
  for (;;) {
    const ssize_t got = read(read_end_, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    // After a failure the pipe is still drained, so the writer never waits on a full pipe.
    if (error_number_ == 0 && !WriteAll(STDOUT_FILENO, buffer.data(), static_cast<size_t>(got))) {
      error_number_ = errno;
    }
  }
}

void StandardOutputRelay::WriterOpened() {
  if (write_end_ >= 0) close(write_end_);
  write_end_ = -1;
}

void StandardOutputRelay::Finish() {
  WriterOpened();
  if (thread_.joinable()) thread_.join();
  if (error_number_ != 0) throw FileError(StandardOutputName, "writing failed: " + SystemReason(error_number_));
}

std::string WavHeader(int rate_hz, int channels, int64_t frames) {
  const uint64_t frame_bytes = 2 * static_cast<uint64_t>(channels);
  const uint64_t data_bytes = static_cast<uint64_t>(frames) * frame_bytes;
  const bool rf64 = frames > *LargestFrames(SF_FORMAT_WAV, channels);
  std::string header = rf64 ? "RF64" : "RIFF";
  Append(header, rf64 ? 0xFFFFFFFF : 36 + data_bytes, 4);
  header += "WAVE";
  if (rf64) {
    header += "ds64";
    Append(header, 28, 4);
    Append(header, 72 + data_bytes, 8);  // the RIFF size: all that follows it
    Append(header, data_bytes, 8);
    Append(header, static_cast<uint64_t>(frames), 8);
    Append(header, 0, 4);  // no table of other long chunks
  }
  header += "fmt ";
  Append(header, 16, 4);
  Append(header, 1, 2);  // integer PCM
  Append(header, static_cast<uint64_t>(channels), 2);
  Append(header, static_cast<uint64_t>(rate_hz), 4);
  Append(header, static_cast<uint64_t>(rate_hz) * frame_bytes, 4);
  Append(header, frame_bytes, 2);
  Append(header, 16, 2);
  header += "data";
  Append(header, rf64 ? 0xFFFFFFFF : data_bytes, 4);
  return header;
}

StandardOutputWav::StandardOutputWav(int rate_hz, int channels, int64_t expected_frames)
    : channels_(channels), expected_frames_(expected_frames) {
  RefuseTerminalOutput();
  const std::string header = WavHeader(rate_hz, channels, expected_frames);
  if (!WriteAll(STDOUT_FILENO, header.data(), header.size())) {
    throw FileError(StandardOutputName, "writing failed: " + SystemReason(errno));
  }
}

void StandardOutputWav::WriteShorts(const int16_t* samples, size_t frames) {
  if (frames_written_ + static_cast<int64_t>(frames) > expected_frames_) {
    throw FileError(StandardOutputName, "the input grew while it was read, past the " +
                                            std::to_string(expected_frames_) +
                                            " frames the WAV header on standard output promised");
  }
  frames_written_ += static_cast<int64_t>(frames);
  // 16-bit samples are stored little-endian, as this machine holds them.
  if (!WriteAll(STDOUT_FILENO, reinterpret_cast<const char*>(samples), frames * 2 * static_cast<size_t>(channels_))) {
    throw FileError(StandardOutputName, "writing failed: " + SystemReason(errno));
  }
}

void StandardOutputWav::Finish() {
  if (frames_written_ != expected_frames_) {
    throw FileError(StandardOutputName,
                    "the input shrank while it was read: it gave " + std::to_string(frames_written_) +
                        " frames where the header on standard output promised " + std::to_string(expected_frames_));
  }
}
