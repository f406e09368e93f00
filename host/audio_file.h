// Audio files other than VOX, through libsndfile, and the conversions kvox applies before coding: mixing
// down to mono, changing the rate with libsoxr, rounding and clipping to 16 bits.
#pragma once

#include <sndfile.h>
#include <kvox.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The libsndfile format (major type and 16-bit or natural subtype) that an output name's extension asks
// for; a name without an extension is a WAV file. Throws FileError for an extension libsndfile cannot write.
int SoundFormatForName(const std::string& path);

// "wav, flac, ogg, ..." for error messages.
std::string SoundExtensionList();

// The most frames of `channels` 16-bit channels that a file of `format` can describe, or nothing for
// types whose sizes never run out at any length kvox can make (W64, RF64, CAF, Ogg, MP3, headerless).
// WAV is held to its 32-bit sizes here; ForLength moves a long one to RF64.
std::optional<int64_t> LargestFrames(int format, int channels);

// The format to write `frames` frames in (when that is known before writing): `format` itself, or RF64
// for a WAV output too long for 32-bit sizes. Throws FileError, naming `shown_path` and the types that
// would take it, when another type cannot describe that many.
int FormatForLength(int format, int channels, std::optional<int64_t> frames, const std::string& shown_path);

class SoundReader {
 public:
  // `shown_path` is the name errors mention (`path` when empty). Throws FileError with libsndfile's reason.
  explicit SoundReader(const std::string& path, const std::string& shown_path = "");
  ~SoundReader();
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  int Channels() const { return info_.channels; }
  int RateHz() const { return info_.samplerate; }
  int64_t Frames() const { return info_.frames; }
  int64_t FramesRead() const { return frames_read_; }
  // True when the file's header promises more audio than the file holds (a cut-off copy); what it holds
  // still reads.
  bool Truncated() const { return truncated_; }
  // True for float and double samples, which libsndfile scales to 16 bits only when asked (it is, here).
  bool HoldsFloats() const;

  // Interleaved frames; each returns the frames read, 0 at the end. Floats are scaled to -1..1.
  size_t ReadShorts(int16_t* samples, size_t frames);
  size_t ReadFloats(float* samples, size_t frames);

 private:
  std::string path_;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  int64_t frames_read_ = 0;
  bool truncated_ = false;
};

// Where 16-bit frames go: an audio file, or a WAV stream on standard output.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  // Throws FileError unless every frame is stored.
  virtual void WriteShorts(const int16_t* samples, size_t frames) = 0;
  // Completes the output and reports a failure to do so.
  virtual void Finish() = 0;
};

class SoundWriter : public PcmSink {
 public:
  // `write_path` is where the file is created, `shown_path` the name errors mention. An RF64 `format` that
  // FormatForLength chose for a WAV name stays plain WAV should fewer frames come than it expected.
  // `largest_frames` overrides what the type can describe (LargestFrames), for tests.
  SoundWriter(const std::string& write_path, const std::string& shown_path, int format, int rate_hz, int channels,
              std::optional<int64_t> largest_frames = std::nullopt);
  ~SoundWriter() override;
  SoundWriter(const SoundWriter&) = delete;
  SoundWriter& operator=(const SoundWriter&) = delete;

  // Refuses, before storing any of them, frames that would take the file past what its type can describe.
  void WriteShorts(const int16_t* samples, size_t frames) override;
  // libsndfile fills in the header here.
  void Finish() override;

 private:
  std::string shown_path_;
  SNDFILE* file_ = nullptr;
  int channels_ = 1;
  int64_t frames_written_ = 0;
  std::optional<int64_t> largest_frames_;
  std::string extension_;
};

// Rate conversion of one mono stream, as libkvox converts (libsoxr at high quality).
class Resampler {
 public:
  Resampler(double input_rate_hz, double output_rate_hz);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts `count` samples and appends what is ready to `output`.
  void Process(const float* input, size_t count, std::vector<float>& output);
  // Appends the samples still held inside the filter, at the end of the stream.
  void Flush(std::vector<float>& output);

 private:
  kvox_resampler* resampler_ = nullptr;
};

// Averages the channels of interleaved frames into mono, in place; returns the mono samples.
size_t MixToMono(float* samples, size_t frames, int channels);

// Scales -1..1 to 16 bits, rounding to the nearest value and clipping what lies outside.
void ToPcm16(const float* input, size_t count, int16_t* output);
