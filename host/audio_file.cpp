#include "host/audio_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string_view>

#include "host/errors.h"

namespace {

struct ExtensionFormat {
  const char* extension;
  int format;
};

// Types whose usual extension is not libsndfile's own name for them, or that need a subtype other than
// 16-bit PCM. Anything else is looked up in libsndfile's list of major types.
constexpr ExtensionFormat CommonTypes[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},   {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},   {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    {"aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},  {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16},     {"snd", SF_FORMAT_AU | SF_FORMAT_PCM_16},
    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},   {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
};

std::string LowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// libsndfile notes in its log when the audio chunk's length in the header exceeds what the file holds:
// "data : 73568 (should be 19956)" (WAV and its kin), "SSND : ... (should be ...)" (AIFF).
bool LogShowsCutOffAudio(SNDFILE* file) {
  char log[8192] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof(log));
  for (const char* line = log; *line != '\0';) {
    long long declared = 0;
    long long present = 0;
    char chunk[8] = {};
    if (std::sscanf(line, "%4s : %lld (should be %lld)", chunk, &declared, &present) == 3 &&
        (std::string_view(chunk) == "data" || std::string_view(chunk) == "SSND") && present < declared) {
      return true;
    }
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

bool Writable(int format) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = format;
  return sf_format_check(&info) != 0;
}

int MajorTypeNamed(const std::string& extension) {
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info));
    if (info.extension != nullptr && extension == info.extension) return info.format;
  }
  return 0;
}

// Sizes in the header: the most bytes of 16-bit audio each type can describe. Past these, libsndfile wraps
// the sizes (WAV, AIFF, SDS) or writes files that readers misjudge or refuse (HTK, SD2), so nothing may be
// written past them. Types not named keep 32-bit sizes that some readers take as signed: 2 GiB for the
// whole file, less room for any header.
constexpr int64_t SignedSizeAudioBytes = 0x7FFFFFFF - 4096;
// A WAV file's RIFF size counts its 36 bytes of header after the size field as well as the audio.
constexpr int64_t WavAudioBytes = 0xFFFFFFFF - 36;
constexpr int64_t FlacFrames = (int64_t{1} << 36) - 1;  // its 36-bit count of frames
constexpr int64_t SdsFrames = (int64_t{1} << 21) - 1;   // MIDI sample dumps count words in 21 bits

bool SizesNeverRunOut(int major) {
  switch (major) {
    case SF_FORMAT_W64:
    case SF_FORMAT_RF64:
    case SF_FORMAT_CAF:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
    case SF_FORMAT_RAW:
      return true;
    default:
      return false;
  }
}

// libsndfile keeps the reason of the last failed open in one global, so opens that may fail and the
// reading of that reason are taken one at a time across jobs.
std::mutex& OpenMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

int SoundFormatForName(const std::string& path) {
  const std::string extension = LowerExtension(path);
  if (extension.empty()) return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  for (const ExtensionFormat& type : CommonTypes) {
    if (extension == type.extension && Writable(type.format)) return type.format;
  }
  if (int major = MajorTypeNamed(extension); major != 0 && Writable(major | SF_FORMAT_PCM_16)) {
    return major | SF_FORMAT_PCM_16;
  }
  throw FileError(path, "cannot write a ." + extension + " file; use one of: " + SoundExtensionList());
}

std::string SoundExtensionList() {
  std::string list;
  for (const ExtensionFormat& type : CommonTypes) {
    if (!Writable(type.format)) continue;
    if (!list.empty()) list += ", ";
    list += type.extension;
  }
  return list;
}

std::optional<int64_t> LargestFrames(int format, int channels) {
  const int major = format & SF_FORMAT_TYPEMASK;
  const int64_t frame_bytes = 2 * int64_t{std::max(channels, 1)};
  if (SizesNeverRunOut(major)) return std::nullopt;
  if (major == SF_FORMAT_FLAC) return FlacFrames;
  if (major == SF_FORMAT_SDS) return SdsFrames;
  if (major == SF_FORMAT_WAV) return WavAudioBytes / frame_bytes;
  return SignedSizeAudioBytes / frame_bytes;
}

int FormatForLength(int format, int channels, std::optional<int64_t> frames, const std::string& shown_path) {
  const std::optional<int64_t> largest = LargestFrames(format, channels);
  if (!frames || !largest || *frames <= *largest) return format;
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) return SF_FORMAT_RF64 | (format & SF_FORMAT_SUBMASK);
  throw FileError(shown_path, "too long for a ." + LowerExtension(shown_path) + " file, which describes at most " +
                                  std::to_string(*largest) + " frames; this audio has " + std::to_string(*frames) +
                                  " (write .wav, which becomes RF64 past 4 GiB, or .w64, .caf or .flac)");
}

SoundReader::SoundReader(const std::string& path, const std::string& shown_path)
    : path_(shown_path.empty() ? path : shown_path) {
  std::unique_lock lock(OpenMutex());
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
  if (file_ == nullptr) throw FileError(path_, std::string("not an audio file kvox can read: ") + sf_strerror(nullptr));
  lock.unlock();
  if (info_.channels < 1 || info_.samplerate < 1) {
    sf_close(file_);
    file_ = nullptr;
    throw FileError(path_, "the file announces no channels or no sample rate");
  }
  truncated_ = LogShowsCutOffAudio(file_);
  // Unscaled, a float file of -1..1 would read as 16-bit samples of -1..1: near silence.
  if (HoldsFloats()) sf_command(file_, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
}

bool SoundReader::HoldsFloats() const {
  const int subtype = info_.format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

SoundReader::~SoundReader() {
  if (file_ != nullptr) sf_close(file_);
}

size_t SoundReader::ReadShorts(int16_t* samples, size_t frames) {
  sf_count_t got = sf_readf_short(file_, samples, static_cast<sf_count_t>(frames));
  if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR)
    throw FileError(path_, std::string("reading failed: ") + sf_strerror(file_));
  frames_read_ += got;
  return static_cast<size_t>(got);
}

size_t SoundReader::ReadFloats(float* samples, size_t frames) {
  sf_count_t got = sf_readf_float(file_, samples, static_cast<sf_count_t>(frames));
  if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR)
    throw FileError(path_, std::string("reading failed: ") + sf_strerror(file_));
  frames_read_ += got;
  return static_cast<size_t>(got);
}

SoundWriter::SoundWriter(const std::string& write_path, const std::string& shown_path, int format, int rate_hz,
                         int channels, std::optional<int64_t> largest_frames)
    : shown_path_(shown_path),
      channels_(channels),
      largest_frames_(largest_frames ? largest_frames : LargestFrames(format, channels)),
      extension_(LowerExtension(shown_path)) {
  SF_INFO info{};
  info.samplerate = rate_hz;
  info.channels = channels;
  info.format = format;
  std::unique_lock lock(OpenMutex());
  file_ = sf_open(write_path.c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) throw FileError(shown_path, std::string("cannot create it: ") + sf_strerror(nullptr));
  lock.unlock();
  // RF64 chosen for a .wav name: should the audio end up short enough after all, the file is plain WAV.
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64 && extension_ != "rf64") {
    sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
}

SoundWriter::~SoundWriter() {
  if (file_ != nullptr) sf_close(file_);
}

void SoundWriter::WriteShorts(const int16_t* samples, size_t frames) {
  if (largest_frames_ && frames_written_ + static_cast<int64_t>(frames) > *largest_frames_) {
    throw FileError(shown_path_, "too long for a ." + extension_ + " file, which describes at most " +
                                     std::to_string(*largest_frames_) +
                                     " frames; stopped there rather than write sizes that wrap (write .w64, "
                                     ".caf or .flac instead)");
  }
  frames_written_ += static_cast<int64_t>(frames);
  sf_count_t put = sf_writef_short(file_, samples, static_cast<sf_count_t>(frames));
  if (put != static_cast<sf_count_t>(frames)) {
    throw FileError(shown_path_, std::string("writing failed: ") + sf_strerror(file_));
  }
}

void SoundWriter::Finish() {
  // libsndfile writes the header's sizes at close; a failure there leaves a file that lies about its length.
  int error = sf_error(file_);
  int closed = sf_close(file_);
  file_ = nullptr;
  if (error != SF_ERR_NO_ERROR || closed != 0) {
    throw FileError(shown_path_, std::string("completing the file failed: ") +
                                     sf_error_number(error != SF_ERR_NO_ERROR ? error : closed));
  }
}

Resampler::Resampler(double input_rate_hz, double output_rate_hz) {
  int error = KVOX_OK;
  resampler_ = kvox_resampler_new(input_rate_hz, output_rate_hz, &error);
  if (resampler_ == nullptr) {
    throw std::runtime_error(std::string("rate conversion cannot start: ") + kvox_strerror(error));
  }
}

Resampler::~Resampler() { kvox_resampler_free(resampler_); }

void Resampler::Process(const float* input, size_t count, std::vector<float>& output) {
  const size_t start = output.size();
  output.resize(start + kvox_resample_room(resampler_, count));
  output.resize(start + kvox_resample(resampler_, input, count, output.data() + start));
}

void Resampler::Flush(std::vector<float>& output) {
  for (;;) {
    const size_t start = output.size();
    output.resize(start + kvox_resample_room(resampler_, 0));
    const size_t made = kvox_resample_flush(resampler_, output.data() + start);
    output.resize(start + made);
    if (made == 0) return;
  }
}

size_t MixToMono(float* samples, size_t frames, int channels) { return kvox_mix_to_mono(samples, frames, channels); }

void ToPcm16(const float* input, size_t count, int16_t* output) { kvox_float_to_pcm16(input, count, output); }
