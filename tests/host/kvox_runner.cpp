#include "tests/host/kvox_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_files.h"

namespace {

struct ToneFit {
  double amplitude = 0;
  double signal_power = 0;
  double residual_power = 0;
};

ToneFit FitTone(const std::vector<int16_t>& samples, int rate_hz, double frequency_hz, size_t skip) {
  // Least squares over a sin + b cos: the 2x2 normal equations.
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  const double step = 2 * M_PI * frequency_hz / rate_hz;
  for (size_t i = skip; i < samples.size(); ++i) {
    double s = std::sin(step * static_cast<double>(i));
    double c = std::cos(step * static_cast<double>(i));
    ss += s * s, cc += c * c, sc += s * c;
    ys += samples[i] * s, yc += samples[i] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det;
  const double b = (yc * ss - ys * sc) / det;
  ToneFit fit;
  fit.amplitude = std::hypot(a, b);
  for (size_t i = skip; i < samples.size(); ++i) {
    double model = a * std::sin(step * static_cast<double>(i)) + b * std::cos(step * static_cast<double>(i));
    fit.signal_power += model * model;
    fit.residual_power += (samples[i] - model) * (samples[i] - model);
  }
  return fit;
}

}  // namespace

namespace {

[[noreturn]] void ExecKvox(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string program = KVOX_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

// Starts kvox with `standard_input` as its standard input and its output and errors going to files;
// `in_child` runs in the child just before kvox replaces it.
StartedKvox SpawnKvox(const std::vector<std::string>& arguments, int standard_input,
                      const std::function<void()>& in_child) {
  StartedKvox started;
  started.out_path = testing_files::NewPath(".out");
  started.err_path = testing_files::NewPath(".err");
  started.pid = fork();
  if (started.pid < 0) throw std::runtime_error("fork failed");
  if (started.pid == 0) {
    int out = open(started.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(started.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || standard_input < 0) _exit(126);
    dup2(standard_input, 0);
    dup2(out, 1);
    dup2(err, 2);
    in_child();
    ExecKvox(arguments);
  }
  return started;
}

}  // namespace

StartedKvox StartKvox(const std::vector<std::string>& arguments, bool unprivileged) {
  const int nothing = open("/dev/null", O_RDONLY);
  StartedKvox started = SpawnKvox(arguments, nothing, [unprivileged] {
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
  });
  if (nothing >= 0) close(nothing);
  return started;
}

KvoxRun FinishKvox(const StartedKvox& started) {
  int wait_status = 0;
  waitpid(started.pid, &wait_status, 0);
  KvoxRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  run.out = Slurp(started.out_path);
  run.err = Slurp(started.err_path);
  return run;
}

KvoxRun RunKvox(const std::vector<std::string>& arguments, bool unprivileged) {
  return FinishKvox(StartKvox(arguments, unprivileged));
}

KvoxRun RunKvoxPiped(const std::vector<std::string>& arguments, const std::string& standard_input,
                     const std::string& temporary_folder, const std::function<void(int pid)>& on_start) {
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
  const StartedKvox started = SpawnKvox(arguments, ends[0], [&] {
    close(ends[1]);
    if (!temporary_folder.empty()) setenv("TMPDIR", temporary_folder.c_str(), 1);
  });
  close(ends[0]);
  if (on_start) on_start(started.pid);
  // kvox may stop reading early (a refused command); its pipe then closes, which must not end this program.
  signal(SIGPIPE, SIG_IGN);
  for (size_t done = 0; done < standard_input.size();) {
    ssize_t put = write(ends[1], standard_input.data() + done, standard_input.size() - done);
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  close(ends[1]);
  return FinishKvox(started);
}

KvoxRun RunKvoxOnTerminal(const std::vector<std::string>& arguments) {
  int terminal = -1;
  pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) throw std::runtime_error("forkpty failed");
  if (child == 0) {
    int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, 0);
    dup2(nothing, 1);
    ExecKvox(arguments);
  }
  KvoxRun run;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(terminal, buffer, sizeof(buffer));
    if (got <= 0) break;  // EIO once the child has closed its side
    run.err.append(buffer, static_cast<size_t>(got));
  }
  close(terminal);
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return run;
}

std::string NewFolder() {
  std::string path = testing_files::NewPath(".d");
  std::filesystem::create_directories(path);
  chmod(path.c_str(), 0755);
  chmod(testing_files::ScratchFolder().c_str(), 0755);
  return path;
}

void WriteSound(const std::string& path, const Sound& sound) {
  SF_INFO info{};
  info.samplerate = sound.rate_hz;
  info.channels = sound.channels;
  std::string extension = std::filesystem::path(path).extension().string();
  info.format = (extension == ".flac" ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  sf_write_short(file, sound.samples.data(), static_cast<sf_count_t>(sound.samples.size()));
  sf_close(file);
  chmod(path.c_str(), 0644);
}

Sound ReadSound(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
  Sound sound;
  sound.rate_hz = info.samplerate;
  sound.channels = info.channels;
  sound.samples.resize(static_cast<size_t>(info.frames * info.channels));
  sf_readf_short(file, sound.samples.data(), info.frames);
  sf_close(file);
  return sound;
}

std::vector<int16_t> Tone(size_t count, int rate_hz, double frequency_hz, double amplitude, double phase) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(
        std::lrint(amplitude * std::sin(2 * M_PI * frequency_hz * static_cast<double>(i) / rate_hz + phase)));
  }
  return samples;
}

double ToneSnrDb(const std::vector<int16_t>& samples, int rate_hz, double frequency_hz, size_t skip) {
  ToneFit fit = FitTone(samples, rate_hz, frequency_hz, skip);
  return 10 * std::log10(fit.signal_power / std::max(fit.residual_power, 1e-9));
}

double ToneAmplitude(const std::vector<int16_t>& samples, int rate_hz, double frequency_hz, size_t skip) {
  return FitTone(samples, rate_hz, frequency_hz, skip).amplitude;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}
