#include "host/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "host/audio_file.h"
#include "host/errors.h"
#include "host/transcode.h"

namespace fs = std::filesystem;

namespace {

std::string OutputName(const fs::path& relative, const BatchRequest& request, const fs::path& folder) {
  fs::path name = relative;
  name.replace_extension(request.vox_output ? ".vox" : ".wav");
  return (folder / name).lexically_normal().string();
}

// One entry that cannot become an item (a folder that cannot be listed, a link to nothing): it fails as
// an item of its own, so the summary counts it and the exit status shows it.
BatchItem FailedEntry(const fs::path& path, const std::string& reason) {
  return {path.string(), "", path.string() + ": " + reason};
}

enum class EntryKind { File, Folder, Skipped, Unreadable };

// What the walk does with an entry: a regular file, or a link to one, is converted (one that then cannot be
// opened fails with the system's reason); a folder is walked; a link to a folder is not followed, so no loop
// of links is ever walked. Anything else cannot be read as a file and gets `reason`.
EntryKind KindOf(const fs::path& path, const fs::file_status& own_status, std::string& reason) {
  if (fs::is_directory(own_status)) return EntryKind::Folder;
  if (fs::is_regular_file(own_status)) return EntryKind::File;
  fs::file_status target = own_status;
  if (fs::is_symlink(own_status)) {
    std::error_code error;
    target = fs::status(path, error);
    if (error) {
      reason = error == std::errc::no_such_file_or_directory
                   ? "a symbolic link to nothing"
                   : "a symbolic link that cannot be followed: " + error.message();
      return EntryKind::Unreadable;
    }
    if (fs::is_directory(target)) return EntryKind::Skipped;
    if (fs::is_regular_file(target)) return EntryKind::File;
  }
  reason = "not a regular file (a pipe, a socket or a device)";
  return EntryKind::Unreadable;
}

// Walks `folder` and the folders below it, skipping names that begin with a full stop. Every entry that
// cannot be listed or read is reported as a failed item.
void WalkFolder(const fs::path& folder, std::vector<fs::path>& files, std::vector<BatchItem>& failures) {
  std::error_code error;
  fs::directory_iterator listing(folder, error);
  if (error) {
    failures.push_back(FailedEntry(folder, "cannot list the folder: " + error.message()));
    return;
  }
  std::vector<fs::path> subfolders;
  for (; listing != fs::directory_iterator(); listing.increment(error)) {
    const fs::path path = listing->path();
    if (path.filename().string().starts_with(".")) continue;
    std::error_code status_error;
    const fs::file_status own_status = listing->symlink_status(status_error);
    std::string reason = status_error.message();  // it vanished since it was listed, or cannot be looked at
    const EntryKind kind = status_error ? EntryKind::Unreadable : KindOf(path, own_status, reason);
    if (kind == EntryKind::File) files.push_back(path);
    if (kind == EntryKind::Folder) subfolders.push_back(path);
    if (kind == EntryKind::Unreadable) failures.push_back(FailedEntry(path, reason));
  }
  if (error) failures.push_back(FailedEntry(folder, "listing the folder failed: " + error.message()));
  for (const fs::path& subfolder : subfolders) WalkFolder(subfolder, files, failures);
}

void AddFolder(const fs::path& folder, const BatchRequest& request, std::vector<BatchItem>& items) {
  std::vector<fs::path> found;
  std::vector<BatchItem> failures;
  WalkFolder(folder, found, failures);
  std::sort(found.begin(), found.end());
  for (const fs::path& path : found) {
    items.push_back({path.string(), OutputName(path.lexically_relative(folder), request, request.output_folder), ""});
  }
  items.insert(items.end(), failures.begin(), failures.end());
}

// Two inputs that would make the same output, or an output that would replace its own input, make the
// later item fail instead of silently overwriting.
void MarkClashes(std::vector<BatchItem>& items) {
  std::map<std::string, std::string> owner_of;
  for (BatchItem& item : items) {
    if (!item.error.empty()) continue;
    std::error_code error;
    fs::path input = fs::weakly_canonical(item.input, error);
    fs::path output = fs::weakly_canonical(item.output, error);
    if (input == output) {
      item.error = item.input + ": the output would replace the input; choose another output folder";
      continue;
    }
    auto [place, fresh] = owner_of.emplace(output.string(), item.input);
    if (!fresh) item.error = item.input + ": its output " + item.output + " is already made from " + place->second;
  }
}

std::string Clock(double seconds) {
  long whole = std::lround(std::max(0.0, seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof(text), "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

// Shared by the workers: what is done so far, and the terminal line that shows it.
struct BatchProgress {
  std::mutex mutex;  // guards the counters below and the terminal
  size_t files_done = 0;
  size_t files_failed = 0;
  double audio_seconds = 0;
  std::vector<double> fraction_of;  // per item, 0..1
  std::vector<double> weight_of;    // per item: its share of all input bytes
  bool bar = false;
  bool bar_shown = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  double FractionDone() const {
    double done = 0;
    for (size_t i = 0; i < fraction_of.size(); ++i) done += fraction_of[i] * weight_of[i];
    return std::min(1.0, done);
  }
};

void ClearBar(BatchProgress& progress) {
  if (progress.bar_shown) std::fprintf(stderr, "\r\033[K");
  progress.bar_shown = false;
}

void DrawBar(BatchProgress& progress) {
  if (!progress.bar) return;
  const double done = progress.FractionDone();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
  constexpr int width = 24;
  const int filled = static_cast<int>(done * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(width, '-');
  std::string eta = done > 0.01 ? Clock(elapsed * (1 - done) / done) : "?";
  std::fprintf(stderr, "\r\033[K[%s] %3d%%  %zu/%zu files  %.2f h audio  ETA %s", bar.c_str(),
               static_cast<int>(done * 100), progress.files_done, progress.fraction_of.size(),
               progress.audio_seconds / 3600, eta.c_str());
  std::fflush(stderr);
  progress.bar_shown = true;
}

void Convert(const BatchRequest& request, const BatchItem& item, size_t index, BatchProgress& progress) {
  std::string failure = item.error;
  double seconds = 0;
  std::vector<std::string> notes;
  if (failure.empty()) {
    try {
      std::error_code ignored;
      fs::create_directories(fs::path(item.output).parent_path(), ignored);  // a failure shows at creation
      TranscodeRequest job;
      job.input = item.input;
      job.output = item.output;
      job.vox_output = request.vox_output;
      if (!request.vox_output) job.sound_format = SoundFormatForName(item.output);  // a .wav name
      job.raw_format = request.raw_format;
      job.raw_option_name = "--from";
      job.read_ahead = request.jobs == 1;  // more jobs keep the cores busy already
      job.progress = [&progress, index](double fraction) {
        std::lock_guard lock(progress.mutex);
        progress.fraction_of[index] = fraction;
      };
      TranscodeOutcome outcome = Transcode(job);
      seconds = outcome.audio_seconds;
      notes = std::move(outcome.notes);
    } catch (const std::exception& error) {
      failure = error.what();
    }
  }
  std::lock_guard lock(progress.mutex);
  progress.fraction_of[index] = 1;
  ++progress.files_done;
  progress.audio_seconds += seconds;
  if (!notes.empty()) {
    ClearBar(progress);
    for (const std::string& note : notes) std::fprintf(stderr, "kvox: note: %s\n", note.c_str());
  }
  if (!failure.empty()) {
    ++progress.files_failed;
    ClearBar(progress);
    std::fprintf(stderr, "kvox: %s\n", failure.c_str());
  }
  DrawBar(progress);
}

}  // namespace

std::vector<BatchItem> PlanBatch(const BatchRequest& request) {
  std::vector<BatchItem> items;
  for (const std::string& path : request.paths) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      AddFolder(path, request, items);
    } else {
      // Given by name, a file is always tried; a missing one fails as its own item.
      items.push_back({path, OutputName(fs::path(path).filename(), request, request.output_folder), ""});
    }
  }
  MarkClashes(items);
  return items;
}

int RunConvert(const BatchRequest& request) {
  std::vector<BatchItem> items = PlanBatch(request);

  std::error_code error;
  fs::create_directories(request.output_folder, error);
  if (error) {
    std::fprintf(stderr, "kvox: %s: cannot create the output folder: %s\n", request.output_folder.c_str(),
                 error.message().c_str());
    return 1;
  }

  BatchProgress progress;
  progress.bar = request.progress_bar;
  progress.fraction_of.assign(items.size(), 0.0);
  double total_bytes = 0;
  for (const BatchItem& item : items) {
    std::error_code ignored;
    uintmax_t size = fs::file_size(item.input, ignored);
    progress.weight_of.push_back(ignored ? 0.0 : static_cast<double>(size));
    total_bytes += progress.weight_of.back();
  }
  for (double& weight : progress.weight_of) {
    weight = total_bytes > 0 ? weight / total_bytes : 1.0 / static_cast<double>(items.size());
  }

  // Each worker takes the next item; every file has its own handles, so files share nothing.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < items.size(); index = next++) Convert(request, items[index], index, progress);
  };

  std::mutex redraw_mutex;
  std::condition_variable redraw_wake;
  bool finished = false;
  std::thread redraw;
  if (progress.bar) {
    // Long files move the bar between completions too.
    redraw = std::thread([&] {
      std::unique_lock lock(redraw_mutex);
      while (!redraw_wake.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; })) {
        std::lock_guard progress_lock(progress.mutex);
        DrawBar(progress);
      }
    });
  }

  const size_t worker_count =
      std::min<size_t>(static_cast<size_t>(std::max(1, request.jobs)), std::max<size_t>(items.size(), 1));
  std::vector<std::thread> workers;
  for (size_t i = 1; i < worker_count; ++i) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();

  if (redraw.joinable()) {
    {
      std::lock_guard lock(redraw_mutex);
      finished = true;
    }
    redraw_wake.notify_all();
    redraw.join();
  }
  ClearBar(progress);

  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
  if (items.empty()) std::fprintf(stderr, "kvox: no files to convert\n");
  const size_t converted = items.size() - progress.files_failed;
  std::printf("converted %zu of %zu files (%.2f h of audio) in %.1f s", converted, items.size(),
              progress.audio_seconds / 3600, elapsed);
  if (progress.files_failed > 0) std::printf("; %zu failed", progress.files_failed);
  std::printf("\n");
  return progress.files_failed > 0 || items.empty() ? 1 : 0;
}
