#include "host/transcode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "host/audio_file.h"
#include "host/codes.h"
#include "host/errors.h"
#include "host/output_file.h"
#include "host/raw_format.h"
#include "host/standard_streams.h"
#include "host/vox_file.h"

namespace {

// Frames asked of a source per step. Audio files move in large steps, since the kernel's cost per call
// outweighs everything kvox itself does; the plug-in's side still moves at most one block per call.
size_t StepFrames(int channels) {
  constexpr size_t StepSamples = size_t{1} << 19;  // 1 MiB of 16-bit samples
  return std::max<size_t>(8192, StepSamples / static_cast<size_t>(std::max(channels, 1)));
}

// Where the audio comes from: a VOX file through the plug-in, or an audio file through libsndfile.
class PcmSource {
 public:
  virtual ~PcmSource() = default;
  virtual int Channels() const = 0;
  virtual int RateHz() const = 0;
  // Interleaved frames, at most `max_frames` (at least one block's worth); 0 at the end.
  virtual size_t ReadShorts(int16_t* samples, size_t max_frames) = 0;
  virtual size_t ReadFloats(float* samples, size_t max_frames) = 0;
  virtual double FractionDone() const = 0;
  // The frames the whole source holds, when that is known before reading.
  virtual std::optional<int64_t> ExpectedFrames() const = 0;
  // Float samples, which are coded from floats (scaled by 32768, rounded and clipped) like other audio.
  virtual bool HoldsFloats() const { return false; }
};

// The input as opened: its path, and its name in messages.
struct InputFile {
  std::string path;
  std::string name;
};

// convert --report: how a VOX input is read (TranscodeFacts), from what libkvox decided, also for a raw file
// whose coding was not settled.
void RecordVoxFacts(TranscodeFacts* facts, const kvox_info& info) {
  if (facts == nullptr) return;
  facts->tagged = info.tagged != 0;
  if (info.detected) facts->confidence = info.detection.confidence;
  if (info.coding == KVOX_CODING_NONE) return;  // refused: the coding is not settled
  facts->coding = info.coding;
  facts->rate_hz = info.rate;
  auto named = [](kvox_source source) -> std::string {
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
        return "";
    }
  };
  facts->coding_from = named(info.coding_from);
  facts->rate_from = named(info.rate_from);
}

class VoxSource : public PcmSource {
 public:
  VoxSource(const TranscodeRequest& request, const InputFile& input, std::vector<std::string>& notes)
      : reader_(input.path, input.name, request.raw_format, request.raw_option_name, notes,
                [&request](const kvox_info& info) { RecordVoxFacts(request.facts, info); }) {}
  int Channels() const override { return 1; }
  int RateHz() const override { return reader_.RateHz(); }
  size_t ReadShorts(int16_t* samples, size_t max_frames) override { return reader_.Read(samples, max_frames); }
  size_t ReadFloats(float* samples, size_t max_frames) override {
    shorts_.resize(max_frames);
    size_t count = ReadShorts(shorts_.data(), max_frames);
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(shorts_[i]) * (1.0f / 32768.0f);
    return count;
  }
  double FractionDone() const override {
    const int64_t frames = std::max<int64_t>(reader_.Info().frames, 1);
    return std::min(1.0, static_cast<double>(reader_.DeliveredFrames()) / static_cast<double>(frames));
  }
  std::optional<int64_t> ExpectedFrames() const override { return reader_.Info().frames; }

 private:
  VoxReader reader_;
  std::vector<int16_t> shorts_;
};

class SoundSource : public PcmSource {
 public:
  SoundSource(const InputFile& input, std::vector<std::string>& notes) : reader_(input.path, input.name) {
    if (reader_.Truncated()) {
      notes.push_back(input.name + ": cut off: its header promises more audio than it holds; using what it holds");
    }
  }
  int Channels() const override { return reader_.Channels(); }
  int RateHz() const override { return reader_.RateHz(); }
  size_t ReadShorts(int16_t* samples, size_t max_frames) override { return reader_.ReadShorts(samples, max_frames); }
  size_t ReadFloats(float* samples, size_t max_frames) override { return reader_.ReadFloats(samples, max_frames); }
  bool HoldsFloats() const override { return reader_.HoldsFloats(); }
  double FractionDone() const override {
    return reader_.Frames() > 0
               ? std::min(1.0, static_cast<double>(reader_.FramesRead()) / static_cast<double>(reader_.Frames()))
               : 0.0;
  }
  std::optional<int64_t> ExpectedFrames() const override {
    // libsndfile gives a huge count for a stream whose length it cannot learn.
    if (reader_.Frames() < 0 || reader_.Frames() >= (int64_t{1} << 48)) return std::nullopt;
    return reader_.Frames();
  }

 private:
  SoundReader reader_;
};

std::unique_ptr<PcmSource> OpenSource(const TranscodeRequest& request, const InputFile& input, bool standard_input,
                                      std::vector<std::string>& notes) {
  // Standard input has no name to tell a raw VOX file by: decode takes it as VOX, and encode takes what is
  // neither tagged nor an audio file libsndfile reads as raw VOX, which detection or --from then settles.
  if (PluginTakes(input.path) || (standard_input && request.vox_input_only)) {
    return std::make_unique<VoxSource>(request, input, notes);
  }
  if (request.vox_input_only) {
    throw FileError(input.name, "not a VOX file: it has no coding tag and its name does not end in .vox");
  }
  if (standard_input) {
    try {
      return std::make_unique<SoundSource>(input, notes);
    } catch (const FileError&) {
      return std::make_unique<VoxSource>(request, input, notes);
    }
  }
  return std::make_unique<SoundSource>(input, notes);
}

// Reads a source one step ahead on a thread of its own, so that reading the next step overlaps with the
// coding and writing of this one: on two cores a file takes about the longer of the two instead of both
// together. From construction on, only that thread uses the source. Without `ahead` (a batch already
// keeps every core busy with files of its own) each step is read when asked for, on the caller's thread.
template <typename Sample>
class ReadAhead {
 public:
  ReadAhead(PcmSource& source, size_t step_frames, bool ahead) : source_(source), step_frames_(step_frames) {
    mine_.resize(step_frames * static_cast<size_t>(source.Channels()));
    theirs_.resize(mine_.size());
    asked_ = true;
    if (ahead) worker_ = std::thread([this] { Work(); });
  }
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Waits for the next step and returns its frame count, 0 at the end; Frames() holds them, the caller's
  // to change, until the next call. Rethrows what reading threw.
  size_t Next() {
    if (!worker_.joinable()) {
      const size_t count = Read(mine_.data());
      fraction_done_ = source_.FractionDone();
      return count;
    }
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return done_; });
    done_ = false;
    if (failure_) std::rethrow_exception(failure_);
    std::swap(mine_, theirs_);
    fraction_done_ = their_fraction_done_;
    asked_ = count_ > 0;
    wake_.notify_all();
    return count_;
  }
  Sample* Frames() { return mine_.data(); }
  double FractionDone() const { return fraction_done_; }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return asked_ || stopping_; });
      if (stopping_) return;
      asked_ = false;
      lock.unlock();
      size_t count = 0;
      double fraction_done = 0;
      std::exception_ptr failure;
      try {
        count = Read(theirs_.data());
        fraction_done = source_.FractionDone();
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      count_ = count;
      their_fraction_done_ = fraction_done;
      failure_ = failure;
      done_ = true;
      wake_.notify_all();
    }
  }

  size_t Read(Sample* into) {
    if constexpr (std::is_same_v<Sample, float>) {
      return source_.ReadFloats(into, step_frames_);
    } else {
      return source_.ReadShorts(into, step_frames_);
    }
  }

  PcmSource& source_;
  const size_t step_frames_;
  std::vector<Sample> mine_, theirs_;  // the caller's step, and the one being read
  double fraction_done_ = 0;
  std::mutex mutex_;  // guards what follows, and the hand-over of theirs_
  std::condition_variable wake_;
  bool asked_ = false, done_ = false, stopping_ = false;
  size_t count_ = 0;
  double their_fraction_done_ = 0;
  std::exception_ptr failure_;
  std::thread worker_;
};

void Report(const TranscodeRequest& request, double fraction_done) {
  if (request.progress) request.progress(fraction_done);
}

// Mono integer samples at the coding's rate go to the plug-in untouched; anything else is mixed down,
// converted in rate and rounded back to 16 bits first.
int64_t CodeIntoVox(const TranscodeRequest& request, PcmSource& source, VoxWriter& writer) {
  if (source.Channels() == 1 && source.RateHz() == writer.RateHz() && !source.HoldsFloats()) {
    ReadAhead<int16_t> reader(source, StepFrames(1), request.read_ahead);
    while (size_t count = reader.Next()) {
      writer.Append(reader.Frames(), count);
      Report(request, reader.FractionDone());
    }
  } else {
    ReadAhead<float> reader(source, StepFrames(source.Channels()), request.read_ahead);
    std::vector<float> converted;
    std::vector<int16_t> samples;
    std::optional<Resampler> resampler;
    if (source.RateHz() != writer.RateHz()) resampler.emplace(source.RateHz(), writer.RateHz());
    auto hand_over = [&](const float* mono, size_t count) {
      samples.resize(count);
      ToPcm16(mono, count, samples.data());
      writer.Append(samples.data(), count);
    };
    while (size_t count = reader.Next()) {
      float* frames = reader.Frames();
      size_t mono_count = MixToMono(frames, count, source.Channels());
      if (resampler) {
        converted.clear();
        resampler->Process(frames, mono_count, converted);
        hand_over(converted.data(), converted.size());
      } else {
        hand_over(frames, mono_count);
      }
      Report(request, reader.FractionDone());
    }
    if (resampler) {
      converted.clear();
      resampler->Flush(converted);
      hand_over(converted.data(), converted.size());
    }
  }
  writer.Finish();
  return writer.WrittenSamples();
}

int64_t CopyIntoSoundFile(const TranscodeRequest& request, PcmSource& source, PcmSink& writer) {
  ReadAhead<int16_t> reader(source, StepFrames(source.Channels()), request.read_ahead);
  int64_t total = 0;
  while (size_t count = reader.Next()) {
    writer.WriteShorts(reader.Frames(), count);
    total += static_cast<int64_t>(count);
    Report(request, reader.FractionDone());
  }
  writer.Finish();
  return total;
}

// Refuses, before the output is created, a VOX output longer than the plug-in can measure.
void CheckVoxLength(const PcmSource& source, VoxOutputKind kind, const std::string& output_name) {
  const std::optional<int64_t> frames = source.ExpectedFrames();
  if (!frames) return;
  // At another rate the count is what rate conversion will make of it, give or take a sample.
  const int64_t samples = *frames * kvox_coding_rate(kind.coding) / std::max(source.RateHz(), 1);
  const int64_t bytes = kvox_file_bytes(kind.coding, kind.tag ? 0 : KVOX_NO_TAG, samples);
  if (bytes > KVOX_LARGEST_FILE_BYTES) {
    throw FileError(output_name, "too long for a VOX file: it would take " + std::to_string(bytes) +
                                     " bytes, and the plug-in cannot measure one of 4 GiB or more (split the input)");
  }
}

}  // namespace

void CheckInputFile(const std::string& path, const std::string& shown_path) {
  const std::string& name = shown_path.empty() ? path : shown_path;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) throw FileError(name, SystemReason(errno));
  if (S_ISDIR(info.st_mode)) throw FileError(name, "is a folder, not a file");
  // The plug-in reads a file's first bytes to recognise it and then opens it again, which a pipe or a
  // device cannot replay.
  if (!S_ISREG(info.st_mode)) throw FileError(name, "not a regular file (a pipe or a device cannot be read twice)");
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) throw FileError(name, SystemReason(errno));
  close(descriptor);
  if (info.st_size == 0) throw FileError(name, "is empty: it holds no audio");
}

TranscodeOutcome Transcode(const TranscodeRequest& request) {
  TranscodeOutcome outcome;
  const bool standard_input = request.standard_streams && request.input == "-";
  const bool standard_output = request.standard_streams && request.output == "-";
  std::optional<StandardInputFile> copied_input;
  if (standard_input) copied_input.emplace();
  const InputFile input =
      standard_input ? InputFile{copied_input->Path(), StandardInputName} : InputFile{request.input, request.input};
  CheckInputFile(input.path, input.name);
  std::unique_ptr<PcmSource> source = OpenSource(request, input, standard_input, outcome.notes);
  if (request.facts != nullptr && !request.facts->tagged) {  // convert --report: an audio file's own rate
    request.facts->rate_hz = source->RateHz();
    request.facts->rate_from = "header";
  }
  const std::string output_name = standard_output ? StandardOutputName : request.output;

  // The output is created only once the input has proved readable and its length fits the output's type.
  if (request.vox_output) {
    CheckVoxLength(*source, *request.vox_output, output_name);
    int64_t samples = 0;
    int rate_hz = 0;
    if (standard_output) {
      StandardOutputRelay relay;  // outlives the writer's handle on its pipe
      VoxWriter writer(relay.WritePath(), output_name, *request.vox_output);
      relay.WriterOpened();
      samples = CodeIntoVox(request, *source, writer);
      rate_hz = writer.RateHz();
      relay.Finish();
    } else {
      VoxWriter writer(request.output, request.output, *request.vox_output);
      samples = CodeIntoVox(request, *source, writer);
      rate_hz = writer.RateHz();
    }
    outcome.audio_seconds = static_cast<double>(samples) / rate_hz;
    return outcome;
  }

  const std::optional<int64_t> expected_frames = source->ExpectedFrames();
  int64_t frames = 0;
  if (standard_output) {
    StandardOutputWav writer(source->RateHz(), source->Channels(), expected_frames.value_or(0));
    frames = CopyIntoSoundFile(request, *source, writer);
  } else {
    const int format = FormatForLength(request.sound_format, source->Channels(), expected_frames, request.output);
    PendingOutput output(request.output);
    SoundWriter writer(output.WritePath(), request.output, format, source->RateHz(), source->Channels());
    frames = CopyIntoSoundFile(request, *source, writer);
    output.Commit();
  }
  outcome.audio_seconds = static_cast<double>(frames) / source->RateHz();
  return outcome;
}
