// Raw VOX detection on the faults of real telephone recordings. For each fault, at 8000 and 6000 Hz, in all
// three codings and at several lengths, it counts the files claimed at confidence 0.9 or more and the claims
// that are wrong, which must be none; then it does the same for data that is not this format, none of which may
// be claimed at 0.9. Not a timing benchmark: it prints two tables (bench/README.md holds them) and exits with 1
// if any confident claim is wrong.
//
// Speech: espeak-ng in several languages and voices, examples/speech.wav and the speech-like generator, brought
// to each rate by sox. The faults come from tests/detect/signals.cpp, plus GSM before coding through sox's GSM
// codec. Options: --variants N (files per fault, rate, coding and length; default 6), --threads N (default 2),
// --seed N, --lengths a,b,c (seconds).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "detect/detect.h"
#include "tests/detect/signals.h"

namespace {

constexpr DetectedCoding AllCodings[] = {DetectedCoding::Alaw, DetectedCoding::Mulaw, DetectedCoding::Adpcm};
constexpr int Rates[] = {8000, 6000};
constexpr double ActOnConfidence = 0.9, UnsureConfidence = 0.5;

// Runs a shell command and takes its standard output as 16-bit little-endian samples.
std::vector<int16_t> SamplesFrom(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::vector<int16_t> samples;
  int16_t buffer[4096];
  for (size_t got; (got = std::fread(buffer, sizeof buffer[0], 4096, pipe)) > 0;) {
    samples.insert(samples.end(), buffer, buffer + got);
  }
  const int status = pclose(pipe);
  if (status != 0) {
    std::fprintf(stderr, "detect_faults_bench: failed (%d): %s\n", status, command.c_str());
    std::exit(2);
  }
  return samples;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RawOut(int rate_hz) {
  return "sox -V1 -R -D -t wav - -t raw -e signed-integer -b 16 -c 1 -r " + std::to_string(rate_hz) + " -";
}

// Announcements of the kind IVR systems play, each in its voice's language.
struct Utterance {
  const char* voice;
  const char* text;
};
constexpr Utterance Prompts[] = {
    {"en-gb", "Thank you for calling. All of our agents are busy at the moment. Please stay on the line."},
    {"en-us+f3", "To hear your account balance, press one. For recent transactions, press two."},
    {"en-us+m3", "Your call may be recorded for training and quality purposes. Please hold."},
    {"en-gb+f4", "We are sorry, the number you have dialled is not in service. Please check it and try again."},
    {"de",
     "Vielen Dank für Ihren Anruf. Bitte bleiben Sie am Apparat, der nächste freie Mitarbeiter ist gleich für Sie da."},
    {"de+f2", "Für Fragen zu Ihrer Rechnung drücken Sie bitte die Eins."},
    {"fr", "Merci de votre appel. Tous nos conseillers sont actuellement occupés, veuillez patienter."},
    {"fr+f3", "Pour joindre le service client, tapez un. Pour les réclamations, tapez deux."},
    {"es", "Gracias por llamar. En este momento todos nuestros agentes están ocupados. Por favor, espere."},
    {"es+m4", "Para consultar su saldo, marque uno. Para hablar con un operador, marque cero."},
    {"it+f2", "Grazie per aver chiamato. Tutti i nostri operatori sono occupati, la preghiamo di attendere."},
    {"nl", "Bedankt voor uw oproep. Al onze medewerkers zijn in gesprek. Een ogenblik geduld alstublieft."},
    {"pt+m2", "Obrigado por ligar. Todos os nossos atendentes estão ocupados. Por favor, aguarde na linha."},
    {"pl+f4", "Dziękujemy za telefon. Wszyscy konsultanci są zajęci. Prosimy o cierpliwość."},
    {"sv", "Tack för att du ringer. Alla våra handläggare är upptagna just nu. Vänligen vänta."},
    {"cs+m1", "Děkujeme za zavolání. Všichni operátoři jsou obsazeni, vydržte prosím na lince."},
};

struct SpeechPools {
  std::map<int, std::vector<int16_t>> espeak, recorded;  // by rate
};

SpeechPools MakePools() {
  SpeechPools pools;
  for (const int rate : Rates) {
    for (const Utterance& prompt : Prompts) {
      const std::vector<int16_t> speech = SamplesFrom(std::string("espeak-ng -v ") + prompt.voice +
                                                      " -s 150 --stdout " + Quoted(prompt.text) + " | " + RawOut(rate));
      pools.espeak[rate].insert(pools.espeak[rate].end(), speech.begin(), speech.end());
    }
    pools.recorded[rate] =
        SamplesFrom("sox -V1 -R -D " + Quoted(std::string(KVOX_SOURCE_DIR) + "/examples/speech.wav") +
                    " -t raw -e signed-integer -b 16 -c 1 -r " + std::to_string(rate) + " -");
  }
  return pools;
}

// `seconds` of clean speech: a stretch of the espeak-ng pool, of the example recording (repeated as needed) or
// of the generator, chosen by the variant.
std::vector<int16_t> CleanSpeech(const SpeechPools& pools, int rate_hz, double seconds, int variant, uint64_t seed) {
  const size_t count = size_t(seconds * rate_hz);
  if (variant % 4 == 3) return SpeechLike(seconds, rate_hz, seed);
  const std::vector<int16_t>& pool = variant % 4 == 2 ? pools.recorded.at(rate_hz) : pools.espeak.at(rate_hz);
  std::vector<int16_t> out(count);
  const size_t start = size_t(seed % pool.size());
  for (size_t i = 0; i < count; ++i) out[i] = pool[(start + i) % pool.size()];
  return out;
}

// Through sox's GSM 06.10 codec and back (the codec works on samples; the rate given to sox only labels them).
FaultyRecording GsmBefore(const std::vector<int16_t>& speech, uint64_t seed) {
  char path[] = "/tmp/kvox-gsm-XXXXXX";
  const int descriptor = mkstemp(path);
  if (descriptor < 0 || write(descriptor, speech.data(), speech.size() * 2) != ssize_t(speech.size() * 2)) {
    std::perror("detect_faults_bench: temporary file");
    std::exit(2);
  }
  close(descriptor);
  const std::string raw = "-t raw -e signed-integer -b 16 -c 1 -r 8000";
  std::vector<int16_t> once = SamplesFrom("sox -V1 -R -D " + raw + " " + path +
                                          " -t gsm - | sox -V1 -R -D -t gsm -r 8000 -c 1 - " + raw + " -");
  unlink(path);
  once.resize(speech.size());
  std::mt19937_64 rng(seed);
  const double gain_db = -6 + 12 * std::uniform_real_distribution<double>(0, 1)(rng);
  for (int16_t& s : once) s = int16_t(std::clamp(std::lround(s * std::pow(10, gain_db / 20)), -32768L, 32767L));
  char detail[64];
  std::snprintf(detail, sizeof detail, "GSM before, %+.1f dB between", gain_db);
  return {once, detail};
}

struct FaultRow {
  std::string name;
  std::function<FaultyRecording(const std::vector<int16_t>&, int, uint64_t)> apply;
};

std::vector<FaultRow> FaultRows() {
  std::vector<FaultRow> rows;
  for (const RecordingFault fault : AllRecordingFaults) {
    rows.push_back({FaultName(fault), [fault](const std::vector<int16_t>& speech, int rate, uint64_t seed) {
                      return WithFault(fault, speech, rate, seed);
                    }});
    if (fault == RecordingFault::TandemCoding) {
      rows.push_back({"tandem coding (GSM before, sox)",
                      [](const std::vector<int16_t>& speech, int, uint64_t seed) { return GsmBefore(speech, seed); }});
    }
  }
  return rows;
}

// Bytes that are not this format, made from faulty speech where the kind is a coding of audio.
struct ForeignKind {
  std::string name;
  std::function<std::vector<uint8_t>(const std::vector<int16_t>& faulty, uint64_t seed)> make;
};

std::vector<uint8_t> Transformed(std::vector<uint8_t> bytes, uint8_t (*transform)(uint8_t)) {
  for (uint8_t& b : bytes) b = transform(b);
  return bytes;
}

uint8_t ReverseBits(uint8_t b) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) reversed = uint8_t(reversed | (((b >> bit) & 1) << (7 - bit)));
  return reversed;
}

std::vector<ForeignKind> ForeignKinds() {
  return {
      {"random bytes",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         std::mt19937_64 rng(seed);
         std::vector<uint8_t> bytes(faulty.size());
         for (uint8_t& b : bytes) b = uint8_t(rng());
         return bytes;
       }},
      {"text",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         static const char* const Words[] = {"the",    "call",  "was",   "recorded", "at",   "nine",
                                             "on",     "line",  "four,", "and",      "kept", "for",
                                             "ninety", "days.", "Bitte", "warten",   "merci"};
         std::mt19937_64 rng(seed);
         std::string text;
         while (text.size() < faulty.size()) text += std::string(Words[rng() % 17]) + (rng() % 9 ? " " : "\n");
         return std::vector<uint8_t>(text.begin(), text.begin() + ptrdiff_t(faulty.size()));
       }},
      {"one byte value, 80-100%",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         std::mt19937_64 rng(seed);
         const uint8_t value = uint8_t(rng());
         const double others = 0.2 * std::uniform_real_distribution<double>(0, 1)(rng);
         std::vector<uint8_t> bytes(faulty.size(), value);
         for (uint8_t& b : bytes) {
           if (std::uniform_real_distribution<double>(0, 1)(rng) < others) b = uint8_t(rng());
         }
         return bytes;
       }},
      {"16-bit PCM, either byte order",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         std::vector<uint8_t> bytes =
             PcmBytes(std::vector<int16_t>(faulty.begin(), faulty.begin() + ptrdiff_t(faulty.size() / 2)));
         if (seed % 2) {
           for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
         }
         return bytes;
       }},
      {"8-bit PCM, signed or unsigned",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         std::vector<uint8_t> bytes(faulty.size());
         for (size_t i = 0; i < faulty.size(); ++i) bytes[i] = uint8_t((faulty[i] >> 8) + (seed % 2 ? 128 : 0));
         return bytes;
       }},
      {"G.711 bit-reversed or not inverted",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         const auto coding = seed % 2 ? DetectedCoding::Alaw : DetectedCoding::Mulaw;
         if (seed / 2 % 2) return Transformed(Encode(coding, faulty), ReverseBits);
         return Transformed(
             Encode(coding, faulty), coding == DetectedCoding::Alaw ? +[](uint8_t b) { return uint8_t(b ^ 0x55); }
                                                                    : +[](uint8_t b) { return uint8_t(b ^ 0xFF); });
       }},
      {"ADPCM, nibbles swapped", [](const std::vector<int16_t>& faulty,
                                    uint64_t) { return NibblesSwapped(Encode(DetectedCoding::Adpcm, faulty)); }},
      // Clipped speech leaves the ADPCM coder few codes, and nibble-swapped they once passed for mu-law.
      {"ADPCM of speech driven 3-20 dB into clipping, nibbles swapped",
       [](const std::vector<int16_t>& faulty, uint64_t seed) {
         std::mt19937_64 rng(seed);
         const double drive_db = 3 + 17 * std::uniform_real_distribution<double>(0, 1)(rng);
         return NibblesSwapped(Encode(DetectedCoding::Adpcm, DrivenPastFullScale(faulty, drive_db)));
       }},
  };
}

struct Outcome {
  size_t row = 0;
  int rate = 0;
  DetectedCoding coding = DetectedCoding::Alaw;  // the truth, for a genuine file
  double seconds = 0;
  std::string detail;
  RawVoxDetection result;  // as kvox detects: until sure
  RawVoxDetection whole;   // every analysed byte measured
};

// Whether stopping once sure changed what a file gets: a different coding claimed at 0.9 or more, or a claim
// at 0.9 on one side only.
bool ActsDifferently(const RawVoxDetection& a, const RawVoxDetection& b) {
  const bool a_acts = a.coding && a.confidence >= ActOnConfidence;
  const bool b_acts = b.coding && b.confidence >= ActOnConfidence;
  return a_acts != b_acts || (a_acts && *a.coding != *b.coding);
}

struct Job {
  size_t row;
  int rate;
  DetectedCoding coding;
  double seconds;
  int variant;
  uint64_t seed;
};

std::vector<double> ParseList(const char* text) {
  std::vector<double> values;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) values.push_back(std::stod(item));
  return values;
}

template <typename Work>
void RunAll(size_t count, unsigned threads, Work work) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      for (size_t i; (i = next++) < count;) work(i);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

std::string Percent(size_t part, size_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f%%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

// The claim with the cost under every reading, for looking into a wrong one.
std::string Claim(const RawVoxDetection& result) {
  char text[160];
  std::snprintf(text, sizeof text, "%s at %.3f (t %.1f)%s%s; bits/byte",
                result.coding ? CodingName(*result.coding) : "nothing", result.confidence, result.t,
                result.reason.empty() ? "" : ": ", result.reason.c_str());
  std::string claim = text;
  for (size_t i = 0; i < HypothesisCount; ++i) {
    std::snprintf(text, sizeof text, " %s %.2f", HypothesisName(i), result.costs[i]);
    claim += text;
  }
  return claim;
}

}  // namespace

int main(int argc, char** argv) {
  int variants = 6;
  unsigned threads = 2;
  uint64_t base_seed = 20261208;
  std::vector<double> lengths = {0.5, 1, 3, 10, 30};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--variants"))
      variants = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--threads"))
      threads = unsigned(std::max(1, std::atoi(argv[i + 1])));
    else if (!std::strcmp(argv[i], "--seed"))
      base_seed = std::strtoull(argv[i + 1], nullptr, 0);
    else if (!std::strcmp(argv[i], "--lengths"))
      lengths = ParseList(argv[i + 1]);
  }
  const auto started = std::chrono::steady_clock::now();
  const SpeechPools pools = MakePools();
  const std::vector<FaultRow> rows = FaultRows();

  std::vector<Job> jobs;
  for (size_t row = 0; row < rows.size(); ++row) {
    for (const int rate : Rates) {
      for (const DetectedCoding coding : AllCodings) {
        for (const double seconds : lengths) {
          for (int variant = 0; variant < variants; ++variant) {
            const uint64_t seed = base_seed + 1000003 * jobs.size();
            jobs.push_back({row, rate, coding, seconds, variant, seed});
          }
        }
      }
    }
  }
  std::vector<Outcome> outcomes(jobs.size());
  std::atomic<double> detect_seconds{0}, whole_seconds{0}, audio_seconds{0};
  RunAll(jobs.size(), threads, [&](size_t i) {
    const Job& job = jobs[i];
    const std::vector<int16_t> speech = CleanSpeech(pools, job.rate, job.seconds, job.variant, job.seed);
    const FaultyRecording faulty = rows[job.row].apply(speech, job.rate, job.seed + 1);
    const std::vector<uint8_t> bytes = Encode(job.coding, faulty.samples);
    const auto before = std::chrono::steady_clock::now();
    outcomes[i] = {job.row, job.rate, job.coding, job.seconds, faulty.detail, DetectRawVox(bytes.data(), bytes.size()),
                   {}};
    const auto between = std::chrono::steady_clock::now();
    outcomes[i].whole = DetectRawVox(bytes.data(), bytes.size(), DetectionDepth::Whole);
    const std::chrono::duration<double> spent = between - before;
    const std::chrono::duration<double> whole_spent = std::chrono::steady_clock::now() - between;
    detect_seconds = detect_seconds + spent.count();
    whole_seconds = whole_seconds + whole_spent.count();
    audio_seconds = audio_seconds + job.seconds;
  });

  std::printf("Genuine files: %zu (%d per fault, rate, coding and length; lengths", jobs.size(), variants);
  for (const double seconds : lengths) std::printf(" %g", seconds);
  std::printf(" s)\n\n");
  std::printf(
      "| Fault | Files | A-law at >= 0.9 | mu-law at >= 0.9 | ADPCM at >= 0.9 | All at >= 0.9 | Wrong at >= 0.9 "
      "| Wrong at 0.5-0.9 | Rate decided (wrong) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  size_t wrong_confident_total = 0;
  std::vector<std::string> wrong_lines;
  for (size_t row = 0; row < rows.size(); ++row) {
    size_t files = 0, claimed = 0, wrong = 0, wrong_unsure = 0, rate_decided = 0, rate_wrong = 0;
    std::map<DetectedCoding, std::pair<size_t, size_t>> by_coding;  // claimed, files
    for (const Outcome& outcome : outcomes) {
      if (outcome.row != row) continue;
      const RawVoxDetection& r = outcome.result;
      files++;
      by_coding[outcome.coding].second++;
      const bool right = r.coding == outcome.coding;
      if (r.coding && r.confidence >= ActOnConfidence) {
        if (right) {
          claimed++;
          by_coding[outcome.coding].first++;
        } else {
          wrong++;
        }
      } else if (r.coding && r.confidence >= UnsureConfidence && !right) {
        wrong_unsure++;
      }
      if (r.rate && r.rate_confidence >= ActOnConfidence) {
        rate_decided++;
        rate_wrong += *r.rate != outcome.rate;
      }
      if (r.coding && !right && r.confidence >= UnsureConfidence) {
        char line[512];
        std::snprintf(line, sizeof line, "  %s, %d Hz, %s, %g s, %s: %s", rows[row].name.c_str(), outcome.rate,
                      CodingName(outcome.coding), outcome.seconds, outcome.detail.c_str(), Claim(r).c_str());
        wrong_lines.push_back(line);
      }
    }
    wrong_confident_total += wrong;
    std::printf("| %s | %zu | %s | %s | %s | %s | %zu | %zu | %zu (%zu) |\n", rows[row].name.c_str(), files,
                Percent(by_coding[DetectedCoding::Alaw].first, by_coding[DetectedCoding::Alaw].second).c_str(),
                Percent(by_coding[DetectedCoding::Mulaw].first, by_coding[DetectedCoding::Mulaw].second).c_str(),
                Percent(by_coding[DetectedCoding::Adpcm].first, by_coding[DetectedCoding::Adpcm].second).c_str(),
                Percent(claimed, files).c_str(), wrong, wrong_unsure, rate_decided, rate_wrong);
  }

  // Why the files not claimed at 0.9 were not: each fault's reasons, commonest first.
  std::printf("\nGenuine files not claimed at >= 0.9, by reason:\n\n");
  for (size_t row = 0; row < rows.size(); ++row) {
    std::map<std::string, size_t> reasons;
    for (const Outcome& outcome : outcomes) {
      const RawVoxDetection& r = outcome.result;
      if (outcome.row != row || (r.coding == outcome.coding && r.confidence >= ActOnConfidence)) continue;
      std::string reason = r.reason;
      if (reason.empty()) reason = r.coding == outcome.coding ? "right coding below 0.9" : "wrong coding below 0.9";
      reason = reason.substr(0, reason.find(" ("));  // without the figures
      reasons[reason]++;
    }
    if (reasons.empty()) continue;
    std::vector<std::pair<size_t, std::string>> sorted;
    for (const auto& [reason, count] : reasons) sorted.emplace_back(count, reason);
    std::sort(sorted.rbegin(), sorted.rend());
    std::printf("- %s:", rows[row].name.c_str());
    for (const auto& [count, reason] : sorted) std::printf(" %zu %s;", count, reason.c_str());
    std::printf("\n");
  }

  std::printf("\nCoverage at >= 0.9 by length, all faults together:\n\n| Seconds |");
  for (const DetectedCoding coding : AllCodings) std::printf(" %s |", CodingName(coding));
  std::printf("\n|---:|---:|---:|---:|\n");
  for (const double seconds : lengths) {
    std::printf("| %g |", seconds);
    for (const DetectedCoding coding : AllCodings) {
      size_t files = 0, claimed = 0;
      for (const Outcome& outcome : outcomes) {
        if (outcome.seconds != seconds || outcome.coding != coding) continue;
        files++;
        claimed += outcome.result.coding == coding && outcome.result.confidence >= ActOnConfidence;
      }
      std::printf(" %s |", Percent(claimed, files).c_str());
    }
    std::printf("\n");
  }

  // Data that is not this format, from the same faulty speech where it is a coding of audio.
  const std::vector<ForeignKind> kinds = ForeignKinds();
  std::vector<std::pair<size_t, Job>> foreign_jobs;
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    for (const int rate : Rates) {
      for (const double seconds : lengths) {
        for (int variant = 0; variant < 3 * variants; ++variant) {
          const uint64_t seed = base_seed + 7 + 1000003 * (jobs.size() + foreign_jobs.size());
          foreign_jobs.push_back(
              {kind, {size_t(variant) % rows.size(), rate, DetectedCoding::Alaw, seconds, variant, seed}});
        }
      }
    }
  }
  std::vector<RawVoxDetection> foreign_results(foreign_jobs.size()), foreign_whole(foreign_jobs.size());
  std::vector<std::string> foreign_details(foreign_jobs.size());
  // A claim on a file that decodes to silence under the claimed coding loses nothing: nibble-swapped ADPCM
  // silence, for one, is the same silence read either way. Counted apart.
  std::vector<bool> foreign_silent(foreign_jobs.size());
  RunAll(foreign_jobs.size(), threads, [&](size_t i) {
    const auto& [kind, job] = foreign_jobs[i];
    const std::vector<int16_t> speech = CleanSpeech(pools, job.rate, job.seconds, job.variant, job.seed);
    const FaultyRecording faulty = rows[job.row].apply(speech, job.rate, job.seed + 1);
    const std::vector<uint8_t> bytes = kinds[kind].make(faulty.samples, job.seed + 2);
    foreign_results[i] = DetectRawVox(bytes.data(), bytes.size());
    foreign_whole[i] = DetectRawVox(bytes.data(), bytes.size(), DetectionDepth::Whole);
    foreign_details[i] = rows[job.row].name + ", " + faulty.detail;
    if (foreign_results[i].coding) {
      double squares = 0;
      const std::vector<int16_t> decoded = Decode(*foreign_results[i].coding, bytes);
      for (const int16_t s : decoded) squares += double(s) * s;
      foreign_silent[i] = std::sqrt(squares / double(std::max<size_t>(decoded.size(), 1))) < 24;
    }
  });
  std::printf("\nNot this format: %zu files (audio kinds made from the faulty speech above, every fault in turn)\n\n",
              foreign_jobs.size());
  std::printf(
      "| Kind | Files | Claimed at >= 0.9 | Claimed at 0.5-0.9 | Claims of silence (harmless) |\n"
      "|---|---:|---:|---:|---:|\n");
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    size_t files = 0, confident = 0, unsure = 0, silent = 0;
    for (size_t i = 0; i < foreign_jobs.size(); ++i) {
      if (foreign_jobs[i].first != kind) continue;
      const RawVoxDetection& r = foreign_results[i];
      files++;
      if (r.coding && r.confidence >= UnsureConfidence && foreign_silent[i])
        silent++;
      else if (r.coding && r.confidence >= ActOnConfidence)
        confident++;
      else if (r.coding && r.confidence >= UnsureConfidence)
        unsure++;
      if (r.coding && r.confidence >= UnsureConfidence) {
        char line[512];
        std::snprintf(line, sizeof line, "  %s (%s%s), %d Hz, %g s: %s", kinds[kind].name.c_str(),
                      foreign_silent[i] ? "decodes to silence, " : "", foreign_details[i].c_str(),
                      foreign_jobs[i].second.rate, foreign_jobs[i].second.seconds, Claim(r).c_str());
        wrong_lines.push_back(line);
      }
    }
    wrong_confident_total += confident;
    std::printf("| %s | %zu | %zu | %zu | %zu |\n", kinds[kind].name.c_str(), files, confident, unsure, silent);
  }

  // Stopping once sure against measuring every analysed byte, on all of the files above. Every difference is
  // listed; the wrong claims of either are counted above (the table is the one kvox acts on, until sure).
  size_t differing = 0;
  const auto compare = [&](const RawVoxDetection& until_sure, const RawVoxDetection& whole, const std::string& what) {
    if (!ActsDifferently(until_sure, whole)) return;
    differing++;
    wrong_lines.push_back("  until sure / whole differ: " + what + ": " + Claim(until_sure).substr(0, 40) + " / " +
                          Claim(whole).substr(0, 40));
  };
  for (const Outcome& o : outcomes) {
    if (o.whole.coding && o.whole.confidence >= ActOnConfidence && *o.whole.coding != o.coding) {
      wrong_confident_total++;
      wrong_lines.push_back("  wrong when every byte is measured: " + rows[o.row].name + ", " + o.detail);
    }
    compare(o.result, o.whole,
            rows[o.row].name + ", " + std::to_string(o.rate) + " Hz, " + CodingName(o.coding) + ", " + o.detail);
  }
  for (size_t i = 0; i < foreign_jobs.size(); ++i) {
    if (foreign_whole[i].coding && foreign_whole[i].confidence >= ActOnConfidence && !foreign_silent[i]) {
      wrong_confident_total += !(foreign_results[i].coding && foreign_results[i].confidence >= ActOnConfidence);
    }
    compare(foreign_results[i], foreign_whole[i], kinds[foreign_jobs[i].first].name + " (" + foreign_details[i] + ")");
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  std::printf("\nStopping once sure against measuring every analysed byte: %zu of %zu files acted on differently.\n",
              differing, outcomes.size() + foreign_jobs.size());
  std::printf("Genuine files, detection until sure: %.2f ms per file, %.2f ms per second of audio\n",
              1000 * detect_seconds / double(jobs.size()), 1000 * detect_seconds / audio_seconds);
  std::printf(
      "Genuine files, every analysed byte: %.2f ms per file, %.2f ms per second of audio (%u threads; %.0f s)\n",
      1000 * whole_seconds / double(jobs.size()), 1000 * whole_seconds / audio_seconds, threads, elapsed.count());
  if (!wrong_lines.empty()) {
    std::printf("\nWrong claims at 0.5 or more:\n");
    for (const std::string& line : wrong_lines) std::printf("%s\n", line.c_str());
  }
  return wrong_confident_total == 0 ? 0 : 1;
}
