// kvox._kvox: the compiled half of the Python package. Everything about the files and the codings is
// libkvox's; this only moves buffers between numpy and the C API, and writes other audio types with
// libsndfile as kvox does. Every loop over audio runs without the GIL, so Python threads scale; the
// arguments arrive already checked and converted by kvox/__init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kvox.h"

namespace py = pybind11;

namespace {

// A failure met without the GIL; the translator below turns it into the Python exception kvox/_errors.py
// chooses (FileNotFoundError, kvox.UnknownCodingError, ...), once the GIL is held again.
struct Failure {
  int code = KVOX_EIO;  // a KVOX_E... code
  std::string path;
  std::string reason;  // empty: kvox_strerror(code)
  std::optional<kvox_detection> detection;
};

// Raised when PyErr_CheckSignals found a pending KeyboardInterrupt (or another handler's exception): the
// Python error is already set and only has to reach the caller.
struct Interrupted {};

[[noreturn]] void Fail(int code, const std::string& path, std::string reason = "") {
  throw Failure{code, path, std::move(reason), std::nullopt};
}

// Long jobs look for Ctrl-C between steps, so that an hour of audio can be interrupted; the outputs are
// then discarded by the callers' cleanup.
void CheckSignals() {
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) throw Interrupted{};
}

// Frames per step of reading, coding and writing: what kvox moves per step, so that rate conversion sees
// its input in the same pieces.
size_t StepFrames(int channels) {
  constexpr size_t StepSamples = size_t{1} << 19;
  return std::max<size_t>(8192, StepSamples / static_cast<size_t>(std::max(channels, 1)));
}

py::dict DetectionDict(const kvox_detection& d) {
  py::dict out;
  auto alias = [](kvox_coding coding) -> py::object {
    const char* text = kvox_coding_alias(coding);
    return text ? py::object(py::str(text)) : py::object(py::none());
  };
  out["coding"] = alias(d.coding);
  out["confidence"] = d.confidence;
  out["rate"] = d.rate ? py::object(py::int_(d.rate)) : py::object(py::none());
  out["rate_confidence"] = d.rate_confidence;
  out["rate_hint"] = d.rate_hint ? py::object(py::int_(d.rate_hint)) : py::object(py::none());
  out["t"] = d.t;
  out["read_as"] = alias(d.read_as);
  out["best"] = d.best[0] ? py::object(py::str(std::string(d.best, strnlen(d.best, sizeof(d.best)))))
                          : py::object(py::none());
  out["reason"] = std::string(d.reason, strnlen(d.reason, sizeof(d.reason)));
  char summary[512];
  int length = kvox_detection_summary(&d, summary, sizeof(summary));
  std::string text = length < 0 ? "" : std::string(summary);
  if (length >= static_cast<int>(sizeof(summary))) {
    std::vector<char> longer(static_cast<size_t>(length) + 1);
    kvox_detection_summary(&d, longer.data(), longer.size());
    text = longer.data();
  }
  out["summary"] = text;
  return out;
}

const char* SourceName(kvox_source source) {
  switch (source) {
    case KVOX_FROM_TAG:
      return "tag";
    case KVOX_FROM_NAMED:
      return "named";
    case KVOX_FROM_CONTENT:
      return "content";
    case KVOX_FROM_ASSUMED:
      return "assumed";
    default:
      return nullptr;
  }
}

py::object OptionalText(const char* text) { return text ? py::object(py::str(text)) : py::object(py::none()); }

py::dict InfoDict(const kvox_info& info, const std::optional<kvox_detection>& detection) {
  py::dict out;
  out["tagged"] = info.tagged != 0;
  out["coding"] = OptionalText(kvox_coding_alias(info.coding));
  out["tag"] = info.tagged ? OptionalText(kvox_coding_tag(info.coding)) : py::object(py::none());
  out["display_name"] = OptionalText(kvox_coding_display_name(info.coding));
  out["samplerate"] = info.rate ? py::object(py::int_(info.rate)) : py::object(py::none());
  out["frames"] = info.coding ? py::object(py::int_(info.frames)) : py::object(py::none());
  out["file_bytes"] = info.file_bytes;
  out["coding_from"] = OptionalText(SourceName(info.coding_from));
  out["rate_from"] = OptionalText(SourceName(info.rate_from));
  out["detection"] = detection ? py::object(DetectionDict(*detection)) : py::object(py::none());
  return out;
}

// ---- libsndfile, as kvox uses it ---------------------------------------------------------------------

// libsndfile keeps the reason of the last failed open in one global: opens and the reading of that reason
// are taken one at a time.
std::mutex& SndOpenMutex() {
  static std::mutex mutex;
  return mutex;
}

// The input checks kvox makes before it opens a file, with the codes libkvox gives for the same faults.
void CheckInputFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    Fail(errno == ENOENT || errno == ENOTDIR ? KVOX_ENOENT : errno == EACCES ? KVOX_EACCES : KVOX_ESYSTEM, path,
         errno == ENOENT || errno == ENOTDIR || errno == EACCES ? "" : std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) Fail(KVOX_EISDIR, path);
  if (!S_ISREG(info.st_mode)) Fail(KVOX_ENOTREG, path);
  if (access(path.c_str(), R_OK) != 0 && errno == EACCES) Fail(KVOX_EACCES, path);
  if (info.st_size == 0) Fail(KVOX_EEMPTY, path);
}

// The output types kvox decode writes, by extension: the same table as kvox's.
struct ExtensionFormat {
  const char* extension;
  int format;
};
constexpr ExtensionFormat CommonTypes[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},  {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},  {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},   {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    {"aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}, {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16},    {"snd", SF_FORMAT_AU | SF_FORMAT_PCM_16},
    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},  {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
};

bool Writable(int format) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = format;
  return sf_format_check(&info) != 0;
}

// 0 for a type libsndfile cannot write.
int SoundFormatFor(const std::string& type) {
  for (const ExtensionFormat& common : CommonTypes) {
    if (type == common.extension) return Writable(common.format) ? common.format : 0;
  }
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info));
    if (info.extension != nullptr && type == info.extension && Writable(info.format | SF_FORMAT_PCM_16)) {
      return info.format | SF_FORMAT_PCM_16;
    }
  }
  return 0;
}

std::vector<std::string> SoundTypes() {
  std::vector<std::string> types;
  for (const ExtensionFormat& common : CommonTypes) {
    if (Writable(common.format)) types.emplace_back(common.extension);
  }
  return types;
}

// What each type's header can describe, as kvox holds them: sizes that would wrap are never written.
// -1 for types whose sizes never run out.
int64_t LargestFrames(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_W64:
    case SF_FORMAT_RF64:
    case SF_FORMAT_CAF:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
    case SF_FORMAT_RAW:
      return -1;
    case SF_FORMAT_FLAC:
      return (int64_t{1} << 36) - 1;
    case SF_FORMAT_SDS:
      return (int64_t{1} << 21) - 1;
    case SF_FORMAT_WAV:
      return (int64_t{0xFFFFFFFF} - 36) / 2;
    default:
      return (int64_t{0x7FFFFFFF} - 4096) / 2;
  }
}

// ---- Sources of audio --------------------------------------------------------------------------------

class Source {
 public:
  virtual ~Source() = default;
  virtual int Channels() const = 0;
  virtual int Rate() const = 0;
  // Whether kvox hands this source's 16-bit samples to the coder unchanged when it is mono at the
  // coding's rate (a VOX file, an audio file, int16 data); float data always goes through rounding.
  virtual bool ShortsAsTheyAre() const = 0;
  virtual size_t ReadShorts(int16_t* out, size_t frames) = 0;
  virtual size_t ReadFloats(float* out, size_t frames) = 0;
  virtual std::optional<int64_t> Frames() const = 0;
};

// A VOX file being read; owns the handle.
class VoxFile {
 public:
  VoxFile(const std::string& path, kvox_coding coding) : path_(path) {
    int err = 0;
    file_ = kvox_open(path.c_str(), coding, &info_, &err);
    if (file_ == nullptr) {
      Failure failure{err ? err : KVOX_EIO, path, "", std::nullopt};
      if (err == KVOX_EUNDECIDED) failure.detection = info_.detection;
      throw failure;
    }
  }
  ~VoxFile() { Close(); }
  VoxFile(const VoxFile&) = delete;
  VoxFile& operator=(const VoxFile&) = delete;

  void Close() {
    if (file_ != nullptr) kvox_close(file_);
    file_ = nullptr;
  }
  bool Open() const { return file_ != nullptr; }
  const kvox_info& Info() const { return info_; }
  const std::string& Path() const { return path_; }

  // Reads up to `frames` samples; fewer only at the end.
  size_t Read(int16_t* out, size_t frames) {
    if (file_ == nullptr) Fail(KVOX_EINVAL, path_, "the file is closed");
    size_t filled = 0;
    while (filled < frames) {
      int64_t got = kvox_read(file_, out + filled, frames - filled);
      if (got < 0) Fail(static_cast<int>(got), path_, std::string("reading failed: ") + kvox_strerror(static_cast<int>(got)));
      if (got == 0) break;
      filled += static_cast<size_t>(got);
    }
    return filled;
  }

 private:
  std::string path_;
  kvox_file* file_ = nullptr;
  kvox_info info_{};
};

class VoxSource : public Source {
 public:
  VoxSource(const std::string& path, kvox_coding coding) : file_(path, coding) {}
  int Channels() const override { return 1; }
  int Rate() const override { return file_.Info().rate; }
  bool ShortsAsTheyAre() const override { return true; }
  size_t ReadShorts(int16_t* out, size_t frames) override { return file_.Read(out, frames); }
  size_t ReadFloats(float* out, size_t frames) override {
    shorts_.resize(frames);
    size_t count = file_.Read(shorts_.data(), frames);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(shorts_[i]) * (1.0f / 32768.0f);
    return count;
  }
  std::optional<int64_t> Frames() const override { return file_.Info().frames; }
  const kvox_info& Info() const { return file_.Info(); }

 private:
  VoxFile file_;
  std::vector<int16_t> shorts_;
};

class SoundSource : public Source {
 public:
  explicit SoundSource(const std::string& path) : path_(path) {
    std::unique_lock lock(SndOpenMutex());
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (file_ == nullptr) Fail(KVOX_EIO, path, std::string("not an audio file kvox can read: ") + sf_strerror(nullptr));
    lock.unlock();
    if (info_.channels < 1 || info_.samplerate < 1) {
      sf_close(file_);
      file_ = nullptr;
      Fail(KVOX_EIO, path, "the file announces no channels or no sample rate");
    }
  }
  ~SoundSource() override {
    if (file_ != nullptr) sf_close(file_);
  }
  int Channels() const override { return info_.channels; }
  int Rate() const override { return info_.samplerate; }
  // libsndfile hands float and double samples to a 16-bit read unscaled (0.5 becomes 0), which would
  // code a float file as silence: those go through the float path, scaled by 32768 like float data.
  bool ShortsAsTheyAre() const override {
    const int subtype = info_.format & SF_FORMAT_SUBMASK;
    return subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE;
  }
  size_t ReadShorts(int16_t* out, size_t frames) override {
    return Checked(sf_readf_short(file_, out, static_cast<sf_count_t>(frames)));
  }
  size_t ReadFloats(float* out, size_t frames) override {
    return Checked(sf_readf_float(file_, out, static_cast<sf_count_t>(frames)));
  }
  std::optional<int64_t> Frames() const override {
    if (info_.frames < 0 || info_.frames >= (int64_t{1} << 48)) return std::nullopt;
    return info_.frames;
  }

 private:
  size_t Checked(sf_count_t got) {
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
      Fail(KVOX_EIO, path_, std::string("reading failed: ") + sf_strerror(file_));
    }
    return static_cast<size_t>(got);
  }
  std::string path_;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
};

// Interleaved int16 or float32 frames in memory, read the way libsndfile reads a file of that type.
class ArraySource : public Source {
 public:
  ArraySource(const void* data, bool is_float, size_t frames, int channels, int rate)
      : data_(data), float_(is_float), frames_(frames), channels_(channels), rate_(rate) {}
  int Channels() const override { return channels_; }
  int Rate() const override { return rate_; }
  bool ShortsAsTheyAre() const override { return !float_; }
  size_t ReadShorts(int16_t* out, size_t frames) override {
    size_t count = Take(frames);
    std::memcpy(out, static_cast<const int16_t*>(data_) + position_ * channels_, count * channels_ * sizeof(int16_t));
    position_ += count;
    return count;
  }
  size_t ReadFloats(float* out, size_t frames) override {
    size_t count = Take(frames);
    const size_t samples = count * static_cast<size_t>(channels_);
    if (float_) {
      std::memcpy(out, static_cast<const float*>(data_) + position_ * channels_, samples * sizeof(float));
    } else {
      const int16_t* in = static_cast<const int16_t*>(data_) + position_ * channels_;
      for (size_t i = 0; i < samples; ++i) out[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
    }
    position_ += count;
    return count;
  }
  std::optional<int64_t> Frames() const override { return static_cast<int64_t>(frames_); }

 private:
  size_t Take(size_t frames) const { return std::min(frames, frames_ - position_); }
  const void* data_;
  bool float_;
  size_t frames_, position_ = 0;
  int channels_, rate_;
};

// ---- Coding into a VOX file --------------------------------------------------------------------------

struct ResamplerHandle {
  kvox_resampler* handle = nullptr;
  ~ResamplerHandle() {
    if (handle) kvox_resampler_free(handle);
  }
};

// A VOX file being written; discarded unless Commit succeeds.
class VoxOutput {
 public:
  VoxOutput(const std::string& path, kvox_coding coding, unsigned flags) : path_(path) {
    int err = 0;
    file_ = kvox_create(path.c_str(), coding, flags, &err);
    if (file_ == nullptr) Fail(err ? err : KVOX_EIO, path);
  }
  ~VoxOutput() {
    if (file_ != nullptr) kvox_discard(file_);
  }
  VoxOutput(const VoxOutput&) = delete;
  VoxOutput& operator=(const VoxOutput&) = delete;
  void Write(const int16_t* pcm, size_t frames) {
    if (frames == 0) return;
    int64_t put = kvox_write(file_, pcm, frames);
    if (put < 0) Fail(static_cast<int>(put), path_, std::string("writing failed: ") + kvox_strerror(static_cast<int>(put)));
  }
  void Commit() {
    int result = kvox_close(file_);
    file_ = nullptr;
    if (result != 0) Fail(result, path_, std::string("writing failed: ") + kvox_strerror(result));
  }

 private:
  std::string path_;
  kvox_file* file_ = nullptr;
};

// Refuses, before the output is made, a VOX file longer than the plug-in can measure.
void CheckVoxLength(const Source& source, kvox_coding coding, unsigned flags, const std::string& path) {
  const std::optional<int64_t> frames = source.Frames();
  if (!frames) return;
  const int64_t samples = *frames * kvox_coding_rate(coding) / std::max(source.Rate(), 1);
  const int64_t bytes = kvox_file_bytes(coding, flags, samples);
  if (bytes > KVOX_LARGEST_FILE_BYTES) {
    Fail(KVOX_ETOOLONG, path, "too long for a VOX file: it would take " + std::to_string(bytes) +
                                  " bytes, and the plug-in cannot measure one of 4 GiB or more (split the input)");
  }
}

// What kvox encode does: mono 16-bit at the coding's rate goes to the coder untouched; anything else is
// mixed to mono, converted in rate when it differs, and rounded and clipped to 16 bits.
void CodeInto(Source& source, const std::string& path, kvox_coding coding, unsigned flags) {
  CheckVoxLength(source, coding, flags, path);
  const int rate = kvox_coding_rate(coding);
  VoxOutput output(path, coding, flags);
  if (source.Channels() == 1 && source.Rate() == rate && source.ShortsAsTheyAre()) {
    std::vector<int16_t> step(StepFrames(1));
    while (size_t count = source.ReadShorts(step.data(), step.size())) {
      output.Write(step.data(), count);
      CheckSignals();
    }
  } else {
    const int channels = source.Channels();
    const size_t step_frames = StepFrames(channels);
    std::vector<float> frames(step_frames * static_cast<size_t>(channels));
    std::vector<float> converted;
    std::vector<int16_t> samples;
    ResamplerHandle resampler;
    if (source.Rate() != rate) {
      int err = 0;
      resampler.handle = kvox_resampler_new(source.Rate(), rate, &err);
      if (resampler.handle == nullptr) Fail(err ? err : KVOX_ENOMEM, path, "rate conversion cannot start");
    }
    auto hand_over = [&](const float* mono, size_t count) {
      samples.resize(count);
      kvox_float_to_pcm16(mono, count, samples.data());
      output.Write(samples.data(), count);
    };
    while (size_t count = source.ReadFloats(frames.data(), step_frames)) {
      const size_t mono = kvox_mix_to_mono(frames.data(), count, channels);
      if (resampler.handle) {
        converted.resize(kvox_resample_room(resampler.handle, mono));
        size_t made = kvox_resample(resampler.handle, frames.data(), mono, converted.data());
        hand_over(converted.data(), made);
      } else {
        hand_over(frames.data(), mono);
      }
      CheckSignals();
    }
    if (resampler.handle) {
      converted.resize(kvox_resample_room(resampler.handle, 0));
      while (size_t made = kvox_resample_flush(resampler.handle, converted.data())) hand_over(converted.data(), made);
    }
  }
  output.Commit();
}

// ---- Decoding into another audio type ----------------------------------------------------------------

struct PendingHandle {
  kvox_pending* handle = nullptr;
  ~PendingHandle() {
    if (handle) kvox_pending_discard(handle);
  }
};

// What kvox decode does: the VOX file's samples, unchanged, in a 16-bit file of the type `format` names,
// made under a temporary name and renamed when complete.
void DecodeInto(VoxSource& source, const std::string& path, int format, const std::string& type) {
  const int64_t frames = *source.Frames();
  int64_t largest = LargestFrames(format);
  if (largest >= 0 && frames > largest) {
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
      format = SF_FORMAT_RF64 | (format & SF_FORMAT_SUBMASK);
      largest = -1;
    } else {
      Fail(KVOX_ETOOLONG, path, "too long for a ." + type + " file, which describes at most " +
                                    std::to_string(largest) + " frames; this audio has " + std::to_string(frames) +
                                    " (write .wav, which becomes RF64 past 4 GiB, or .w64, .caf or .flac)");
    }
  }
  int err = 0;
  PendingHandle pending;
  pending.handle = kvox_pending_new(path.c_str(), &err);
  if (pending.handle == nullptr) Fail(err ? err : KVOX_EIO, path);
  SF_INFO info{};
  info.samplerate = source.Rate();
  info.channels = 1;
  info.format = format;
  std::unique_lock lock(SndOpenMutex());
  SNDFILE* file = sf_open(kvox_pending_path(pending.handle), SFM_WRITE, &info);
  if (file == nullptr) Fail(KVOX_EIO, path, std::string("cannot create it: ") + sf_strerror(nullptr));
  lock.unlock();
  struct Closer {
    SNDFILE*& file;
    ~Closer() {
      if (file) sf_close(file);
    }
  } closer{file};
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64 && type != "rf64") {
    sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
  std::vector<int16_t> step(StepFrames(1));
  int64_t written = 0;
  while (size_t count = source.ReadShorts(step.data(), step.size())) {
    written += static_cast<int64_t>(count);
    if (largest >= 0 && written > largest) Fail(KVOX_ETOOLONG, path, "too long for a ." + type + " file");
    if (sf_writef_short(file, step.data(), static_cast<sf_count_t>(count)) != static_cast<sf_count_t>(count)) {
      Fail(KVOX_EIO, path, std::string("writing failed: ") + sf_strerror(file));
    }
    CheckSignals();
  }
  // libsndfile writes the header's sizes at close; a failure there would leave a file that lies.
  int error = sf_error(file);
  int closed = sf_close(file);
  file = nullptr;
  if (error != SF_ERR_NO_ERROR || closed != 0) {
    Fail(KVOX_EIO, path, std::string("completing the file failed: ") +
                             sf_error_number(error != SF_ERR_NO_ERROR ? error : closed));
  }
  int committed = kvox_pending_commit(pending.handle);
  pending.handle = nullptr;
  if (committed != 0) Fail(committed, path);
}

// Whether libsndfile reads the file as audio of its own (a WAV renamed .raw, say).
bool SoundFileReads(const std::string& path) {
  SF_INFO info{};
  std::lock_guard lock(SndOpenMutex());
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return false;
  sf_close(file);
  return true;
}

// kvox's rule for what is a VOX input: its tag or its name; with a coding named, also any file that is no
// audio file libsndfile reads (raw files are often called .raw or .bin).
bool TakenAsVox(const std::string& path, kvox_coding named) {
  if (kvox_is_vox(path.c_str())) return true;
  return named != KVOX_CODING_NONE && !SoundFileReads(path);
}

[[noreturn]] void NotVox(const std::string& path, kvox_coding named) {
  Fail(KVOX_EINVAL, path,
       named ? "an audio file of another type, not a VOX file"
             : "not a VOX file: it has no coding tag and its name does not end in .vox (name its coding to read it "
               "as raw VOX)");
}

// ---- What Python sees --------------------------------------------------------------------------------

kvox_coding CodingArg(int coding) {
  if (coding < 0 || coding > KVOX_CODING_COUNT) throw py::value_error("not a coding: " + std::to_string(coding));
  return static_cast<kvox_coding>(coding);
}

// Paths travel as the file system's bytes, so names that are not UTF-8 still open (and show in errors as
// os.fsdecode shows them).
std::string PathArg(const py::object& path) {
  return py::bytes(py::module_::import("os").attr("fsencode")(path)).cast<std::string>();
}

py::buffer_info ContiguousBytes(const py::buffer& data) {
  py::buffer_info view = data.request();
  if (view.ndim > 1) {
    ssize_t expected = view.itemsize;
    for (ssize_t i = view.ndim - 1; i >= 0; --i) {
      if (view.strides[i] != expected) throw py::value_error("the buffer is not contiguous");
      expected *= view.shape[i];
    }
  } else if (view.ndim == 1 && view.strides[0] != view.itemsize && view.shape[0] > 1) {
    throw py::value_error("the buffer is not contiguous");
  }
  return view;
}

py::array_t<int16_t> EmptyShorts(size_t count) { return py::array_t<int16_t>(static_cast<py::ssize_t>(count)); }

// A reader of one VOX file: kvox.read, kvox.blocks and kvox.info go through it.
class Reader {
 public:
  Reader(const py::object& path_object, int coding) {
    path_ = PathArg(path_object);
    const kvox_coding named = CodingArg(coding);
    py::gil_scoped_release nogil;
    if (!TakenAsVox(path_, named)) {
      CheckInputFile(path_);
      NotVox(path_, named);
    }
    file_ = std::make_unique<VoxFile>(path_, named);
  }

  int Rate() const { return file_->Info().rate; }

  py::dict Info() {
    std::optional<kvox_detection> detection;
    const kvox_info& info = file_->Info();
    if (info.detected) {
      detection = info.detection;
    } else if (!info.tagged) {
      // A raw file read with a named coding: what the content says all the same, as kvox info reports it.
      kvox_detection d{};
      int result;
      {
        py::gil_scoped_release nogil;
        result = kvox_detect_file(path_.c_str(), &d);
      }
      if (result == 0) detection = d;
    }
    return InfoDict(info, detection);
  }

  // Up to `frames` samples (all that remain when negative) as int16, float32 or float64 (kind 0, 1, 2).
  py::array Read(int64_t frames, int kind) {
    std::unique_lock lock = Lock();
    if (!file_->Open()) throw py::value_error(path_ + ": the file is closed");
    const bool all = frames < 0;
    // No more room than the file holds, whatever was asked for (blocks of a huge size on a short file).
    const int64_t remaining = std::max<int64_t>(file_->Info().frames - delivered_, 0);
    size_t want = static_cast<size_t>(all ? remaining : std::min(frames, remaining));
    py::array out = Allocate(kind, want);
    size_t got = Fill(out, 0, want, kind);
    if (all && got == want) {
      // The count at open is exact; should the file have grown since, the rest is read too.
      std::vector<py::array> pieces{out};
      for (;;) {
        py::array more = Allocate(kind, StepFrames(1));
        size_t extra = Fill(more, 0, StepFrames(1), kind);
        if (extra == 0) break;
        pieces.push_back(more[py::slice(0, static_cast<py::ssize_t>(extra), 1)]);
        if (extra < StepFrames(1)) break;
      }
      if (pieces.size() > 1) return py::module_::import("numpy").attr("concatenate")(pieces);
    }
    if (got < want) return out[py::slice(0, static_cast<py::ssize_t>(got), 1)].attr("copy")();
    return out;
  }

  void Close() {
    std::unique_lock lock = Lock();
    file_->Close();
  }

 private:
  // The handle's lock is taken without the GIL: its holder may be waiting for the GIL (to look for
  // Ctrl-C) while this thread waits for the lock.
  std::unique_lock<std::mutex> Lock() {
    std::unique_lock lock(mutex_, std::defer_lock);
    py::gil_scoped_release nogil;
    lock.lock();
    return lock;
  }

  static py::array Allocate(int kind, size_t count) {
    const auto n = static_cast<py::ssize_t>(count);
    if (kind == 1) return py::array_t<float>(n);
    if (kind == 2) return py::array_t<double>(n);
    return py::array_t<int16_t>(n);
  }

  size_t Fill(py::array& out, size_t offset, size_t count, int kind) {
    void* base = out.mutable_data();
    py::gil_scoped_release nogil;
    size_t done = 0;
    std::vector<int16_t> shorts(kind == 0 ? 0 : std::min(count, size_t{1} << 16));
    const size_t step = kind == 0 ? StepFrames(1) : shorts.size();
    while (done < count) {
      const size_t ask = std::min(step, count - done);
      size_t got;
      if (kind == 0) {
        got = file_->Read(static_cast<int16_t*>(base) + offset + done, ask);
      } else {
        got = file_->Read(shorts.data(), ask);
        if (kind == 1) {
          float* to = static_cast<float*>(base) + offset + done;
          for (size_t i = 0; i < got; ++i) to[i] = static_cast<float>(shorts[i]) * (1.0f / 32768.0f);
        } else {
          double* to = static_cast<double*>(base) + offset + done;
          for (size_t i = 0; i < got; ++i) to[i] = static_cast<double>(shorts[i]) * (1.0 / 32768.0);
        }
      }
      done += got;
      delivered_ += static_cast<int64_t>(got);
      if (got < ask) break;
      CheckSignals();
    }
    return done;
  }

  std::string path_;
  std::unique_ptr<VoxFile> file_;
  std::mutex mutex_;  // one thread at a time on the handle, as libkvox asks
  int64_t delivered_ = 0;
};

// Stream codecs: one handle each, used by one thread at a time.
class Decoder {
 public:
  explicit Decoder(int coding) : coding_(CodingArg(coding)), handle_(kvox_decoder_new(coding_)) {
    if (handle_ == nullptr) throw py::value_error("not a coding: " + std::to_string(coding));
  }
  ~Decoder() { kvox_decoder_free(handle_); }
  py::array_t<int16_t> Decode(const py::buffer& data) {
    py::buffer_info view = ContiguousBytes(data);
    const size_t bytes = static_cast<size_t>(view.size * view.itemsize);
    py::array_t<int16_t> out = EmptyShorts(kvox_coding_bits(coding_) == 4 ? 2 * bytes : bytes);
    int16_t* samples = out.mutable_data();
    {
      py::gil_scoped_release nogil;
      std::lock_guard lock(mutex_);
      kvox_decode(handle_, static_cast<const uint8_t*>(view.ptr), bytes, samples);
    }
    return out;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    kvox_decoder_reset(handle_);
  }

 private:
  kvox_coding coding_;
  kvox_decoder* handle_;
  std::mutex mutex_;
};

py::bytes NewBytes(size_t size) {
  PyObject* raw = PyBytes_FromStringAndSize(nullptr, static_cast<py::ssize_t>(size));
  if (raw == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(raw);
}

py::bytes Shrunk(py::bytes bytes, size_t size) {
  PyObject* raw = bytes.release().ptr();
  if (_PyBytes_Resize(&raw, static_cast<py::ssize_t>(size)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(raw);
}

class Encoder {
 public:
  explicit Encoder(int coding) : coding_(CodingArg(coding)), handle_(kvox_encoder_new(coding_)) {
    if (handle_ == nullptr) throw py::value_error("not a coding: " + std::to_string(coding));
  }
  ~Encoder() { kvox_encoder_free(handle_); }
  // `samples`: contiguous int16. `flush` ends the stream after them.
  py::bytes Encode(const py::array_t<int16_t, py::array::c_style>& samples, bool flush) {
    const size_t count = static_cast<size_t>(samples.size());
    const bool half = kvox_coding_bits(coding_) == 4;
    // G.711 keeps nothing back, so its room is exact and the bytes need no shrinking afterwards.
    const size_t room = half ? (count + 1) / 2 + 1 : count;
    py::bytes out = NewBytes(room);
    auto* into = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out.ptr()));
    const int16_t* from = samples.data();
    size_t made = 0;
    {
      py::gil_scoped_release nogil;
      std::lock_guard lock(mutex_);
      made = kvox_encode(handle_, from, count, into);
      if (flush) made += kvox_encoder_flush(handle_, into + made);
    }
    return made == room ? out : Shrunk(std::move(out), made);
  }

 private:
  kvox_coding coding_;
  kvox_encoder* handle_;
  std::mutex mutex_;
};

py::dict Detect(const py::buffer& data) {
  py::buffer_info view = ContiguousBytes(data);
  kvox_detection d{};
  int result;
  {
    py::gil_scoped_release nogil;
    result = kvox_detect(static_cast<const uint8_t*>(view.ptr), static_cast<size_t>(view.size * view.itemsize), &d);
  }
  if (result != 0) Fail(result, "", "detection failed");
  return DetectionDict(d);
}

py::dict DetectFile(const py::object& path_object) {
  const std::string path = PathArg(path_object);
  kvox_detection d{};
  {
    py::gil_scoped_release nogil;
    CheckInputFile(path);
    int result = kvox_detect_file(path.c_str(), &d);
    if (result != 0) Fail(result, path);
  }
  return DetectionDict(d);
}

// `data`: C-contiguous int16 or float32 frames, (frames,) or (frames, channels).
void Write(const py::object& path_object, const py::array& data, int coding, int rate, unsigned flags) {
  const std::string path = PathArg(path_object);
  const kvox_coding target = CodingArg(coding);
  const bool is_float = data.dtype().kind() == 'f';
  const size_t frames = data.ndim() == 0 ? 0 : static_cast<size_t>(data.shape(0));
  const int channels = data.ndim() == 2 ? static_cast<int>(data.shape(1)) : 1;
  ArraySource source(data.data(), is_float, frames, channels, rate);
  py::gil_scoped_release nogil;
  CodeInto(source, path, target, flags);
}

// One file: to a VOX coding (`coding_out`), or else to the audio type `type` (wav, flac, ...).
void Convert(const py::object& src_object, const py::object& dst_object, int coding_out, const std::string& type,
             int coding_in, unsigned flags) {
  const std::string src = PathArg(src_object);
  const std::string dst = PathArg(dst_object);
  const kvox_coding target = CodingArg(coding_out);
  const kvox_coding named = CodingArg(coding_in);
  const int format = target ? 0 : SoundFormatFor(type);
  if (!target && format == 0) {
    std::string list;
    for (const std::string& each : SoundTypes()) list += (list.empty() ? "" : ", ") + each;
    throw py::value_error("cannot write a ." + type + " file; use a coding or one of: " + list);
  }
  py::gil_scoped_release nogil;
  CheckInputFile(src);
  struct stat in {}, out {};
  if (stat(dst.c_str(), &out) == 0 && stat(src.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
    Fail(KVOX_EINVAL, dst, "the output would replace the input");
  }
  const bool vox = TakenAsVox(src, named);
  if (target) {
    std::unique_ptr<Source> source;
    if (vox) {
      source = std::make_unique<VoxSource>(src, named);
    } else {
      source = std::make_unique<SoundSource>(src);
    }
    CodeInto(*source, dst, target, flags);
  } else {
    if (!vox) NotVox(src, named);
    VoxSource source(src, named);
    DecodeInto(source, dst, format, type);
  }
}

py::array_t<int16_t> FloatToPcm16(const py::array_t<float, py::array::c_style>& samples) {
  const size_t count = static_cast<size_t>(samples.size());
  py::array_t<int16_t> out = EmptyShorts(count);
  const float* from = samples.data();
  int16_t* into = out.mutable_data();
  py::gil_scoped_release nogil;
  kvox_float_to_pcm16(from, count, into);
  return out;
}

int CodingFromName(const std::string& name) {
  kvox_coding coding = KVOX_CODING_NONE;
  if (kvox_coding_from_name(name.c_str(), &coding) != 0) return 0;
  return coding;
}

}  // namespace

PYBIND11_MODULE(_kvox, m) {
  m.attr("__version__") = KVOX_PACKAGE_VERSION;
  m.doc() = "The compiled half of kvox: libkvox's C API on numpy buffers. Use the kvox package instead.";

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const Interrupted&) {
      // The Python error PyErr_CheckSignals set is already in place.
    } catch (const Failure& failure) {
      py::object detection = failure.detection ? py::object(DetectionDict(*failure.detection)) : py::object(py::none());
      std::string reason = failure.reason.empty() ? kvox_strerror(failure.code) : failure.reason;
      py::object error = py::module_::import("kvox._errors")
                             .attr("make_error")(failure.code, py::bytes(failure.path),
                                                 py::bytes(reason).attr("decode")("utf-8", "replace"), detection);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    }
  });

  m.def("library_version", [] { return std::string(kvox_version()); });
  m.def("coding_from_name", &CodingFromName, "The coding a tag or alias names (1..6), or 0.");
  m.def("coding_tag", [](int c) { return OptionalText(kvox_coding_tag(static_cast<kvox_coding>(c))); });
  m.def("coding_alias", [](int c) { return OptionalText(kvox_coding_alias(static_cast<kvox_coding>(c))); });
  m.def("coding_display_name",
        [](int c) { return OptionalText(kvox_coding_display_name(static_cast<kvox_coding>(c))); });
  m.def("coding_rate", [](int c) { return kvox_coding_rate(static_cast<kvox_coding>(c)); });
  m.def("coding_bits", [](int c) { return kvox_coding_bits(static_cast<kvox_coding>(c)); });
  m.def("strerror", [](int code) { return std::string(kvox_strerror(code)); });
  m.def("sound_types", &SoundTypes, "The audio types convert writes besides VOX.");
  m.def("sound_type_writable", [](const std::string& type) { return SoundFormatFor(type) != 0; });
  m.attr("NO_TAG") = KVOX_NO_TAG;

  py::class_<Reader>(m, "Reader")
      .def(py::init<const py::object&, int>())
      .def("info", &Reader::Info)
      .def("rate", &Reader::Rate)
      .def("read", &Reader::Read)
      .def("close", &Reader::Close);
  py::class_<Decoder>(m, "Decoder").def(py::init<int>()).def("decode", &Decoder::Decode).def("reset", &Decoder::Reset);
  py::class_<Encoder>(m, "Encoder").def(py::init<int>()).def("encode", &Encoder::Encode);
  m.def("detect", &Detect);
  m.def("detect_file", &DetectFile);
  m.def("write", &Write);
  m.def("convert", &Convert);
  m.def("float_to_pcm16", &FloatToPcm16);
}
