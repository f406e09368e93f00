// Standard input and standard output as IN and OUT ("-", as sox takes it) for decode and encode. The
// plug-in, libsndfile and the detector all open files by name, so standard input is handed to them as a
// file, and standard output is reached through a name as well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "host/audio_file.h"

// What messages call them.
inline constexpr char StandardInputName[] = "standard input";
inline constexpr char StandardOutputName[] = "standard output";

// Standard input as a file that can be opened by name: itself when it is a regular file read from its
// start, otherwise a copy of all it holds in a private temporary file ($TMPDIR, else /tmp) that is
// unlinked as soon as it is made, so that no way of ending the program leaves it behind. Throws FileError
// for a terminal, or when the copy cannot be made.
class StandardInputFile {
 public:
  StandardInputFile();
  ~StandardInputFile();
  StandardInputFile(const StandardInputFile&) = delete;
  StandardInputFile& operator=(const StandardInputFile&) = delete;

  const std::string& Path() const { return path_; }

 private:
  int copy_ = -1;  // the copy's descriptor; -1 when standard input is read as it is
  std::string path_;
};

// A VOX output on standard output. The plug-in creates its file by name, so it is given a pipe's name,
// and a thread passes what arrives on to standard output as it comes, whatever standard output is (a pipe,
// a file opened for appending, a device). It outlives the plug-in's handle on the pipe.
class StandardOutputRelay {
 public:
  StandardOutputRelay();  // throws FileError when standard output is a terminal
  ~StandardOutputRelay();
  StandardOutputRelay(const StandardOutputRelay&) = delete;
  StandardOutputRelay& operator=(const StandardOutputRelay&) = delete;

  const std::string& WritePath() const { return write_path_; }
  // Once the writer holds its own handle on the pipe: drops kvox's, so the relay ends when the writer's does.
  void WriterOpened();
  // Waits until everything written has reached standard output; throws FileError if any of it failed to.
  void Finish();

 private:
  void PassOn();

  int read_end_ = -1;
  int write_end_ = -1;
  std::string write_path_;
  int error_number_ = 0;  // the first failure to write to standard output
  std::thread thread_;
};

// WAV on standard output. kvox has its whole input before it writes (a pipe is copied first), so the
// header states the true sizes, and the bytes are those `kvox decode IN OUT.wav` writes for up to 4 GiB of
// audio; past that the stream is RF64 with its sizes in the ds64 chunk. Should the input deliver other
// than `expected_frames`, the run fails.
class StandardOutputWav : public PcmSink {
 public:
  StandardOutputWav(int rate_hz, int channels, int64_t expected_frames);  // throws FileError for a terminal
  void WriteShorts(const int16_t* samples, size_t frames) override;
  void Finish() override;

 private:
  int channels_;
  int64_t expected_frames_;
  int64_t frames_written_ = 0;
};

// The header of a 16-bit PCM WAV file of `frames` frames (RF64 when its sizes pass 32 bits).
std::string WavHeader(int rate_hz, int channels, int64_t frames);
