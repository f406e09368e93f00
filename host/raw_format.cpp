#include "host/raw_format.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "host/codes.h"

namespace {

std::string ShownTwoPlaces(double confidence) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", std::floor(confidence * 100) / 100);
  return text;
}

std::string OptionValue(const std::string& option_name, kvox_coding coding) {
  return option_name + " " + std::string(AliasOf(coding));
}

// "A, B or C".
std::string Alternatives(const std::vector<std::string>& choices) {
  std::string text;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += i + 1 == choices.size() ? " or " : ", ";
    text += choices[i];
  }
  return text;
}

std::string RatePart(const kvox_detection& detection) {
  std::string summary = DetectionSummary(detection);
  const size_t rate = summary.find("; ");
  return rate == std::string::npos ? summary : summary.substr(rate + 2);
}

}  // namespace

const char* ReadableCoding(kvox_coding coding) {
  switch (AtRate(coding, 8000)) {
    case KVOX_ALAW:
      return "A-law";
    case KVOX_ULAW:
      return "mu-law";
    case KVOX_ADPCM:
      return "ADPCM";
    default:
      return "unknown";
  }
}

kvox_coding AtRate(kvox_coding coding, int rate_hz) { return kvox_coding_at_rate(coding, rate_hz); }

std::string DetectionSummary(const kvox_detection& detection) {
  const int length = kvox_detection_summary(&detection, nullptr, 0);
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  kvox_detection_summary(&detection, text.data(), text.size());
  text.resize(static_cast<size_t>(std::max(length, 0)));
  return text;
}

std::string ContentChoiceNote(const std::string& shown_path, const kvox_info& info, const std::string& option_name) {
  const kvox_detection& detection = info.detection;
  std::string note = shown_path + ": raw; reading it as " + ReadableCoding(info.coding) +
                     " (from its content, confidence " + ShownTwoPlaces(detection.confidence) + ") at ";
  if (info.rate_from == KVOX_FROM_CONTENT) {
    note += std::to_string(info.rate) + " Hz (from its tones, confidence " +
            ShownTwoPlaces(detection.rate_confidence) + ")";
  } else {
    note += "8000 Hz: " + RatePart(detection) + "; if it runs at 6000 Hz, use " +
            OptionValue(option_name, AtRate(info.coding, 6000));
  }
  return note;
}

std::string Advice(const kvox_detection& detection, const std::string& option_name) {
  if (detection.coding != KVOX_CODING_NONE) {
    const int likely_rate = detection.rate != 0 ? detection.rate : detection.rate_hint;
    const bool slow_first = likely_rate == 6000;
    const kvox_coding first = AtRate(detection.coding, slow_first ? 6000 : 8000);
    const kvox_coding second = AtRate(detection.coding, slow_first ? 8000 : 6000);
    return "if it is " + std::string(ReadableCoding(detection.coding)) + ", try " +
           Alternatives({OptionValue(option_name, first), OptionValue(option_name, second)});
  }
  std::vector<std::string> all;
  for (kvox_coding coding : AllCodings) all.push_back(OptionValue(option_name, coding));
  return "if it is VOX audio all the same, name its coding: " + Alternatives(all);
}

std::string UndecidedReason(const kvox_detection& detection, const std::string& option_name) {
  return "a raw VOX file (no coding tag) whose content does not settle its coding: " + DetectionSummary(detection) +
         "; " + Advice(detection, option_name);
}
