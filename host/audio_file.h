// Audio files other than VOX, through libsndfile, and the conversions kvox applies before coding: mixing
// down to mono, changing the rate with libsoxr, rounding and clipping to 16 bits.
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cstdint>
#include <string>
#include <vector>

// The libsndfile format (major type and 16-bit or natural subtype) that an output name's extension asks
// for; a name without an extension is a WAV file. Throws FileError for an extension libsndfile cannot write.
int SoundFormatForName(const std::string& path);

// "wav, flac, ogg, ..." for error messages.
std::string SoundExtensionList();

class SoundReader {
 public:
  explicit SoundReader(const std::string& path);  // throws FileError with libsndfile's reason
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

class SoundWriter {
 public:
  // `write_path` is where the file is created, `shown_path` the name errors mention.
  SoundWriter(const std::string& write_path, const std::string& shown_path, int format, int rate_hz,
              int channels);
  ~SoundWriter();
  SoundWriter(const SoundWriter&) = delete;
  SoundWriter& operator=(const SoundWriter&) = delete;

  // Throws FileError unless every frame is stored.
  void WriteShorts(const int16_t* samples, size_t frames);
  // Completes the file (libsndfile fills in its header) and reports a failure to do so.
  void Finish();

 private:
  std::string shown_path_;
  SNDFILE* file_ = nullptr;
  int channels_ = 1;
};

// Rate conversion of one mono stream at libsoxr's high quality.
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
  soxr_t soxr_ = nullptr;
  double ratio_ = 1;
};

// Averages the channels of interleaved frames into mono, in place; returns the mono samples.
size_t MixToMono(float* samples, size_t frames, int channels);

// Scales -1..1 to 16 bits, rounding to the nearest value and clipping what lies outside.
void ToPcm16(const float* input, size_t count, int16_t* output);
