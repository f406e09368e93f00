// Many inputs and outputs open at once on several threads: each file read or written gives exactly the bytes
// of the same work done one file at a time, since open files share nothing but constant tables.
// Natively this suite also runs under ThreadSanitizer (`make tsan`).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/soak/soak_support.h"
#include "tests/support/temp_files.h"

namespace {

// One file's work: reading a prepared file to the end, or saving a signal.
struct Job {
  bool reads;
  OptionsWord word;
  int32_t rate;
  int32_t transfer_bytes;    // the request of each read, or the size of each written block
  std::string source;        // the file a reading job reads
  std::vector<uint8_t> pcm;  // the samples a writing job saves
};

// A job under way: its handle, how far it has come, what it has produced.
struct JobRun {
  const Job* job = nullptr;
  std::string path;  // the file a writing job writes
  FilterHandle handle = nullptr;
  size_t done_bytes = 0;
  bool finished = false;
  std::vector<uint8_t> read_pcm;
};

JobRun StartOf(const Job& job) {
  JobRun run;
  run.job = &job;
  run.path = testing_files::NewPath(".vox");
  return run;
}

void Open(JobRun& run) {
  const FilterExports& e = SoakExports();
  int32_t rate = 0, block_size = 0;
  int16_t bits = 0, channels = 0;
  if (run.job->reads) {
    run.handle = e.OpenFilterInput(run.job->source.c_str(), &rate, &bits, &channels, 0, &block_size);
    if (run.handle != nullptr && e.FilterOptions(run.handle) == 0)
      e.FilterSetOptions(run.handle, run.job->word, 0, 0, 0);
  } else {
    run.handle = e.OpenFilterOutput(run.path.c_str(), run.job->rate, 16, 1, 0, &block_size, run.job->word);
  }
  run.finished = run.handle == nullptr;
}

// One read or one write.
void Step(JobRun& run) {
  const FilterExports& e = SoakExports();
  const auto transfer = static_cast<size_t>(run.job->transfer_bytes);
  if (run.job->reads) {
    std::vector<uint8_t> block(transfer);
    int32_t got = e.ReadFilterInput(run.handle, block.data(), run.job->transfer_bytes);
    if (got <= 0) {
      run.finished = true;
      return;
    }
    run.read_pcm.insert(run.read_pcm.end(), block.begin(), block.begin() + got);
  } else {
    size_t count = std::min(transfer, run.job->pcm.size() - run.done_bytes);
    std::vector<uint8_t> block(run.job->pcm.begin() + static_cast<ptrdiff_t>(run.done_bytes),
                               run.job->pcm.begin() + static_cast<ptrdiff_t>(run.done_bytes + count));
    e.WriteFilterOutput(run.handle, block.data(), static_cast<int32_t>(count));
    run.done_bytes += count;
    run.finished = run.done_bytes == run.job->pcm.size();
  }
}

void Close(JobRun& run) {
  if (run.handle == nullptr) return;
  if (run.job->reads) {
    SoakExports().CloseFilterInput(run.handle);
  } else {
    SoakExports().CloseFilterOutput(run.handle);
  }
  run.handle = nullptr;
}

// What the job produced: the PCM it read, or the file it wrote.
std::vector<uint8_t> Outcome(const JobRun& run) {
  return run.job->reads ? run.read_pcm : testing_files::ReadFile(run.path);
}

std::vector<Job> MakeJobs() {
  struct Format {
    OptionsWord word;
    int32_t rate;
  };
  constexpr Format Formats[] = {{1, 8000},    {2, 6000},    {3, 8000},    {4, 6000},    {5, 8000},    {6, 6000},
                                {0x15, 8000}, {0x16, 6000}, {0x11, 8000}, {0x14, 6000}, {0x25, 8000}, {5, 8000}};
  constexpr int32_t Transfers[] = {BlockSize, 4096, 1000, 16383, 6, 8192};
  std::vector<Job> jobs;
  uint32_t seed = 1;
  for (const Format& format : Formats) {
    for (bool reads : {true, false}) {
      Job job{reads, format.word, format.rate, Transfers[seed % std::size(Transfers)], {}, {}};
      // Tiny requests on a long file would only make the test slow.
      const size_t samples = job.transfer_bytes < 100 ? 3000 : 40000 + seed * 7;
      std::vector<int16_t> signal = SoakSignal(samples, seed++);
      if (reads) {
        job.source = testing_files::NewPath(".vox");
        SaveSamples(job.source, format.word, format.rate, signal, BlockSize);
      } else {
        job.pcm.resize(signal.size() * 2);
        std::memcpy(job.pcm.data(), signal.data(), job.pcm.size());
      }
      jobs.push_back(std::move(job));
    }
  }
  return jobs;
}

}  // namespace

TEST(Concurrency, ManyHandlesOnSeveralThreadsGiveTheBytesOfOneAtATime) {
  const std::vector<Job> jobs = MakeJobs();

  std::vector<std::vector<uint8_t>> alone;
  for (const Job& job : jobs) {
    JobRun run = StartOf(job);
    Open(run);
    ASSERT_NE(run.handle, nullptr);
    while (!run.finished) Step(run);
    Close(run);
    alone.push_back(Outcome(run));
    ASSERT_FALSE(alone.back().empty());
  }

  constexpr size_t Threads = 4;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<JobRun> runs;
    for (const Job& job : jobs) runs.push_back(StartOf(job));
    std::atomic<size_t> ready{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < Threads; ++t) {
      threads.emplace_back([&runs, &ready, t] {
        // Each thread holds all its files open at once and moves them forward in turn.
        std::vector<JobRun*> mine;
        for (size_t k = t; k < runs.size(); k += Threads) mine.push_back(&runs[k]);
        for (JobRun* run : mine) Open(*run);
        ++ready;
        while (ready.load() < Threads) std::this_thread::yield();
        for (bool busy = true; busy;) {
          busy = false;
          for (JobRun* run : mine) {
            if (run->finished) continue;
            Step(*run);
            busy = true;
          }
        }
        for (JobRun* run : mine) Close(*run);
      });
    }
    for (std::thread& thread : threads) thread.join();

    for (size_t k = 0; k < runs.size(); ++k) {
      EXPECT_EQ(Outcome(runs[k]), alone[k])
          << "attempt " << attempt << ", job " << k << " (" << (jobs[k].reads ? "reading" : "writing") << " word "
          << jobs[k].word << ")";
      if (!jobs[k].reads) RemoveFile(runs[k].path);
    }
  }
}
