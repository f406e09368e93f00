#include "host/batch.h"

#include <sys/stat.h>
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
#include "host/name_lists.h"
#include "host/report.h"
#include "host/transcode.h"

namespace fs = std::filesystem;

namespace {

std::string OutputName(const fs::path& relative, const BatchRequest& request) {
  fs::path name = relative;
  name.replace_extension(request.extension);
  return (fs::path(request.output_folder) / name).lexically_normal().string();
}

// A path as a shard key: lexically normal, with "/" between folders.
std::string KeyOf(const fs::path& path) { return path.lexically_normal().generic_string(); }

// One entry that cannot become an item (a folder that cannot be listed, a link to nothing): it fails as
// an item of its own, so the summary counts it and the exit status shows it.
BatchItem FailedEntry(const fs::path& path, const std::string& key, const std::string& reason) {
  return {path.string(), "", path.string() + ": " + reason, key};
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
// cannot be listed or read is reported as a failed item, with its path below `root` as its key.
void WalkFolder(const fs::path& root, const fs::path& folder, std::vector<fs::path>& files,
                std::vector<BatchItem>& failures) {
  auto fail = [&](const fs::path& path, const std::string& reason) {
    failures.push_back(FailedEntry(path, path == root ? KeyOf(root) : KeyOf(path.lexically_relative(root)), reason));
  };
  std::error_code error;
  fs::directory_iterator listing(folder, error);
  if (error) {
    fail(folder, "cannot list the folder: " + error.message());
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
    if (kind == EntryKind::Unreadable) fail(path, reason);
  }
  if (error) fail(folder, "listing the folder failed: " + error.message());
  for (const fs::path& subfolder : subfolders) WalkFolder(root, subfolder, files, failures);
}

void AddFolder(const fs::path& folder, const BatchRequest& request, std::vector<BatchItem>& items) {
  std::vector<fs::path> found;
  std::vector<BatchItem> failures;
  WalkFolder(folder, folder, found, failures);
  std::sort(found.begin(), found.end());
  for (const fs::path& path : found) {
    const fs::path relative = path.lexically_relative(folder);
    items.push_back({path.string(), OutputName(relative, request), "", KeyOf(relative)});
  }
  items.insert(items.end(), failures.begin(), failures.end());
}

// A name from a list: it keeps its folders below the output folder, without a leading "/", and may not
// climb out of it.
BatchItem ListedItem(std::string name, const BatchRequest& request) {
  const fs::path normal = fs::path(name).lexically_normal();
  const fs::path relative = normal.relative_path();
  if (relative.empty() || *relative.begin() == ".." || relative.filename().empty()) {
    std::string error = name + ": a name in a list may not climb out of its folder with \"..\" (its output would "
                               "land outside the output folder); list it from a folder above";
    return {std::move(name), "", std::move(error), KeyOf(normal)};
  }
  return {std::move(name), OutputName(relative, request), "", KeyOf(normal)};
}

// Two inputs that would make the same output, or an output that would replace its own input, make an item
// fail instead of silently overwriting. Of two, the input whose name sorts first makes the output (the
// earlier of two equal names), so every shard of a batch agrees on it, whatever order its inputs came in.
// Only a hash of each canonical output is kept for the whole batch (an archive may hold millions of files);
// the few outputs whose hashes meet are compared whole.
void MarkClashes(std::vector<BatchItem>& items) {
  auto canonical = [](const std::string& path) {
    std::error_code error;
    return fs::weakly_canonical(path, error).string();
  };
  std::vector<std::pair<uint64_t, size_t>> by_output;  // the hash of an item's canonical output, and the item
  for (size_t i = 0; i < items.size(); ++i) {
    BatchItem& item = items[i];
    if (!item.error.empty()) continue;
    const std::string output = canonical(item.output);
    if (canonical(item.input) == output) {
      item.error = item.input + ": the output would replace the input; choose another output folder";
      continue;
    }
    by_output.emplace_back(Fnv1a64(output), i);
  }
  std::sort(by_output.begin(), by_output.end());
  for (size_t start = 0, end = 0; start < by_output.size(); start = end) {
    for (end = start + 1; end < by_output.size() && by_output[end].first == by_output[start].first;) ++end;
    if (end - start == 1) continue;
    std::map<std::string, size_t> owner_of;  // a canonical output, and the item that makes it
    std::vector<std::pair<std::string, size_t>> outputs;
    for (size_t k = start; k < end; ++k) {  // in the items' order, since the pairs sort by item
      const size_t i = by_output[k].second;
      outputs.emplace_back(canonical(items[i].output), i);
      auto [place, fresh] = owner_of.emplace(outputs.back().first, i);
      if (!fresh && items[i].input < items[place->second].input) place->second = i;
    }
    for (const auto& [output, i] : outputs) {
      const size_t owner = owner_of.at(output);
      if (owner != i) {
        items[i].error = items[i].input + ": its output " + items[i].output + " is already made from " + items[owner].input;
      }
    }
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
  size_t files_total = 0;
  size_t files_done = 0;
  size_t files_failed = 0;
  size_t files_skipped = 0;
  double audio_seconds = 0;
  std::vector<double> weight_of;        // per item: its share of all input bytes
  double finished_weight = 0;           // the shares of the items finished
  std::map<size_t, double> fraction_of;  // the items under way, and how far each is, 0..1
  bool bar = false;
  bool bar_shown = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  double FractionDone() const {
    double done = finished_weight;
    for (const auto& [index, fraction] : fraction_of) done += fraction * weight_of[index];
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
               static_cast<int>(done * 100), progress.files_done, progress.files_total,
               progress.audio_seconds / 3600, eta.c_str());
  std::fflush(stderr);
  progress.bar_shown = true;
}

std::optional<int64_t> FileBytes(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<int64_t>(info.st_size);
}

// What the workers share besides the progress: the report, and whether the run has to stop.
struct BatchShared {
  BatchProgress progress;
  std::optional<ReportFile> report;
  std::atomic<bool> stopping{false};  // a report line could not be written: no more files are taken
};

void Convert(const BatchRequest& request, const BatchItem& item, size_t index, BatchShared& shared) {
  BatchProgress& progress = shared.progress;
  ReportEntry entry;
  entry.path = item.input;
  entry.output = item.output;
  entry.bytes_in = FileBytes(item.input);
  std::string failure = item.error;
  std::vector<std::string> notes;
  // With -n an existing output is a finished one: outputs take their names only once complete.
  const bool skipped = failure.empty() && request.no_clobber && FileBytes(item.output).has_value();
  if (skipped) {
    entry.status = "skipped";
    entry.reason = "the output exists (-n)";
    entry.bytes_out = FileBytes(item.output);
  } else if (failure.empty()) {
    {
      std::lock_guard lock(progress.mutex);
      progress.fraction_of[index] = 0;
    }
    try {
      std::error_code ignored;
      fs::create_directories(fs::path(item.output).parent_path(), ignored);  // a failure shows at creation
      TranscodeRequest job;
      job.input = item.input;
      job.output = item.output;
      job.vox_output = request.vox_output;
      if (!request.vox_output) job.sound_format = SoundFormatForName(item.output);
      job.raw_format = request.raw_format;
      job.raw_option_name = "--from";
      job.read_ahead = request.jobs == 1;  // more jobs keep the cores busy already
      job.progress = [&progress, index](double fraction) {
        std::lock_guard lock(progress.mutex);
        progress.fraction_of[index] = fraction;
      };
      if (shared.report) job.facts = &entry.facts;
      TranscodeOutcome outcome = Transcode(job);
      entry.duration_seconds = outcome.audio_seconds;
      entry.bytes_out = FileBytes(item.output);
      notes = std::move(outcome.notes);
    } catch (const std::exception& error) {
      failure = error.what();
    }
  }
  if (!skipped) entry.status = failure.empty() ? "converted" : "failed";
  if (!failure.empty()) {
    entry.reason = failure;
    entry.duration_seconds.reset();
    entry.bytes_out.reset();
  }
  std::string report_failure;
  if (shared.report) {
    try {
      shared.report->Write(entry);
    } catch (const std::exception& error) {
      report_failure = error.what();
    }
  }

  std::lock_guard lock(progress.mutex);
  progress.fraction_of.erase(index);
  progress.finished_weight += progress.weight_of[index];
  ++progress.files_done;
  if (entry.duration_seconds) progress.audio_seconds += *entry.duration_seconds;
  if (!notes.empty()) {
    ClearBar(progress);
    for (const std::string& note : notes) std::fprintf(stderr, "kvox: note: %s\n", note.c_str());
  }
  if (skipped) ++progress.files_skipped;
  if (!failure.empty()) {
    ++progress.files_failed;
    ClearBar(progress);
    std::fprintf(stderr, "kvox: %s\n", failure.c_str());
  }
  if (!report_failure.empty() && !shared.stopping.exchange(true)) {
    // The report must hold every file converted: the run stops taking files and fails.
    ClearBar(progress);
    std::fprintf(stderr, "kvox: %s; stopping\n", report_failure.c_str());
  }
  DrawBar(progress);
}

}  // namespace

BatchPlan PlanBatch(const BatchRequest& request, std::vector<std::string> listed) {
  BatchPlan plan;
  std::vector<BatchItem>& items = plan.items;
  for (const std::string& path : request.paths) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      AddFolder(path, request, items);
    } else {
      // Given by name, a file is always tried; a missing one fails as its own item.
      items.push_back({path, OutputName(fs::path(path).filename(), request), "", KeyOf(path)});
    }
  }
  size_t listed_folders = 0;
  for (std::string& name : listed) {
    std::error_code error;
    if (fs::is_directory(name, error)) {
      ++listed_folders;
    } else {
      items.push_back(ListedItem(std::move(name), request));
    }
  }
  if (listed_folders > 0) {
    plan.notes.push_back(std::to_string(listed_folders) + (listed_folders == 1 ? " folder" : " folders") +
                         " in the list passed over: a list names files, and their folders are not walked");
  }
  MarkClashes(items);
  return plan;
}

int RunConvert(const BatchRequest& request) {
  std::vector<std::string> listed;
  if (!request.files_from.empty()) {
    try {
      listed = ReadNameList(request.files_from, request.nul_separated);
    } catch (const ListError& error) {
      std::fprintf(stderr, "kvox: %s\n", error.what());
      return error.usage_error ? 2 : 1;
    }
  }
  BatchPlan plan = PlanBatch(request, std::move(listed));
  for (const std::string& note : plan.notes) std::fprintf(stderr, "kvox: note: %s\n", note.c_str());
  const size_t input_count = plan.items.size();
  std::vector<BatchItem> items = std::move(plan.items);
  if (request.shard) {
    std::erase_if(items, [&](const BatchItem& item) { return !InShard(item.key, *request.shard); });
    items.shrink_to_fit();
  }

  std::error_code error;
  fs::create_directories(request.output_folder, error);
  if (error) {
    std::fprintf(stderr, "kvox: %s: cannot create the output folder: %s\n", request.output_folder.c_str(),
                 error.message().c_str());
    return 1;
  }

  BatchShared shared;
  if (!request.report_path.empty()) {
    try {
      shared.report.emplace(request.report_path);
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "kvox: %s\n", failure.what());
      return 1;
    }
    if (shared.report->Repaired()) {
      std::fprintf(stderr, "kvox: note: %s: its last line was cut off (by a killed run); removed it before appending\n",
                   request.report_path.c_str());
    }
  }

  BatchProgress& progress = shared.progress;
  progress.bar = request.progress_bar;
  progress.files_total = items.size();
  double total_bytes = 0;
  for (const BatchItem& item : items) {
    progress.weight_of.push_back(static_cast<double>(FileBytes(item.input).value_or(0)));
    total_bytes += progress.weight_of.back();
  }
  for (double& weight : progress.weight_of) {
    weight = total_bytes > 0 ? weight / total_bytes : 1.0 / static_cast<double>(items.size());
  }

  // Each worker takes the next item; every file has its own handles, so files share nothing.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < items.size() && !shared.stopping; index = next++) {
      Convert(request, items[index], index, shared);
    }
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
  if (input_count == 0) std::fprintf(stderr, "kvox: no files to convert\n");
  if (input_count > 0 && items.empty()) {
    std::fprintf(stderr, "kvox: none of the %zu inputs falls to shard %llu/%llu\n", input_count,
                 static_cast<unsigned long long>(request.shard->index),
                 static_cast<unsigned long long>(request.shard->count));
  }
  const size_t converted = progress.files_done - progress.files_failed - progress.files_skipped;
  std::printf("converted %zu of %zu files (%.2f h of audio) in %.1f s; %zu skipped, %zu failed", converted,
              items.size(), progress.audio_seconds / 3600, elapsed, progress.files_skipped, progress.files_failed);
  if (request.shard) {
    std::printf("; shard %llu/%llu of %zu inputs", static_cast<unsigned long long>(request.shard->index),
                static_cast<unsigned long long>(request.shard->count), input_count);
  }
  if (progress.files_done < items.size()) std::printf("; %zu not begun", items.size() - progress.files_done);
  std::printf("\n");
  return progress.files_failed > 0 || shared.stopping || input_count == 0 ? 1 : 0;
}
