// Running the built kvox program and making and reading the audio files it works on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct KvoxRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs kvox with these arguments. `unprivileged`: as the user nobody, so that folder permissions hold even
// when the tests run as root.
KvoxRun RunKvox(const std::vector<std::string>& arguments, bool unprivileged = false);

// Starts kvox without waiting; FinishKvox waits for it. The status is -1 when a signal ended it.
struct StartedKvox {
  int pid = -1;
  std::string out_path, err_path;
};
StartedKvox StartKvox(const std::vector<std::string>& arguments, bool unprivileged = false);
KvoxRun FinishKvox(const StartedKvox& started);

// Runs kvox with `standard_input` fed through a pipe and TMPDIR set to `temporary_folder` (when given).
// `on_start`, when set, runs once kvox has started, before the input is fed.
KvoxRun RunKvoxPiped(const std::vector<std::string>& arguments, const std::string& standard_input,
                     const std::string& temporary_folder = "", const std::function<void(int pid)>& on_start = {});

// Runs kvox with its standard error on a terminal (a pseudo-terminal) and returns what that terminal
// showed; standard output goes to /dev/null.
KvoxRun RunKvoxOnTerminal(const std::vector<std::string>& arguments);

// A fresh, empty folder below the test program's scratch folder (readable by everyone).
std::string NewFolder();

struct Sound {
  int rate_hz = 0;
  int channels = 1;
  std::vector<int16_t> samples;  // interleaved
};

void WriteSound(const std::string& path, const Sound& sound);  // type from the extension
Sound ReadSound(const std::string& path);

// amplitude * sin(2 pi f t + phase), rounded.
std::vector<int16_t> Tone(size_t count, int rate_hz, double frequency_hz, double amplitude, double phase = 0);

// How far `samples` are from the best-fitting sine of `frequency_hz` (least squares over amplitude and
// phase), from `skip` samples on: the ratio of the fitted tone's power to the rest's, in dB.
double ToneSnrDb(const std::vector<int16_t>& samples, int rate_hz, double frequency_hz, size_t skip);
// The amplitude of that best-fitting sine.
double ToneAmplitude(const std::vector<int16_t>& samples, int rate_hz, double frequency_hz, size_t skip);

std::string Slurp(const std::string& path);
bool Exists(const std::string& path);
// The names in a folder (not recursive), sorted.
std::vector<std::string> Listing(const std::string& folder);
