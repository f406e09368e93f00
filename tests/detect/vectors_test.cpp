// The eleven reference files with the results the method gave when it was measured: costs under every
// reading, the statistic, the confidence, the refusal reasons and the tone events.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "detect/detect.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.good()) << "cannot open " << path;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// expected.json is an array of flat records (one nested "costs" record): enough to split it at its braces and
// read a field's raw text, quotes stripped, "null" kept.
std::vector<std::string> Records(const std::string& json) {
  std::vector<std::string> records;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < json.size(); ++i) {
    if (json[i] == '{' && depth++ == 0) start = i;
    if (json[i] == '}' && --depth == 0) records.push_back(json.substr(start, i - start + 1));
  }
  return records;
}

std::string Field(const std::string& record, const std::string& key) {
  const size_t at = record.find("\"" + key + "\":");
  if (at == std::string::npos) throw std::runtime_error("no field " + key);
  size_t begin = record.find_first_not_of(' ', at + key.size() + 3);
  if (record[begin] == '"') return record.substr(begin + 1, record.find('"', begin + 1) - begin - 1);
  return record.substr(begin, record.find_first_of(",}\n", begin) - begin);
}

double Number(const std::string& record, const std::string& key) { return std::stod(Field(record, key)); }
std::string NameOrEmpty(const std::string& text) { return text == "null" ? "" : text; }

TEST(DetectVectors, AgreeWithTheMeasuredResults) {
  const std::vector<std::string> vectors = Records(ReadText(std::string(KVOX_DETECT_VECTORS_DIR) + "/expected.json"));
  ASSERT_EQ(vectors.size(), 11u);
  for (const std::string& vector : vectors) {
    const std::string name = Field(vector, "file");
    SCOPED_TRACE(name);
    const std::string bytes = ReadText(std::string(KVOX_DETECT_VECTORS_DIR) + "/" + name);
    ASSERT_EQ(double(bytes.size()), Number(vector, "nbytes"));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const RawVoxDetection result = DetectRawVox(data, bytes.size(), DetectionDepth::Whole);
    // Stopping once sure may measure fewer bytes, but never changes what is claimed or refused, nor why.
    const RawVoxDetection until_sure = DetectRawVox(data, bytes.size());
    EXPECT_EQ(until_sure.coding, result.coding);
    EXPECT_EQ(until_sure.reason, result.reason);
    EXPECT_EQ(until_sure.best, result.best);
    EXPECT_EQ(until_sure.confidence >= 0.9, result.confidence >= 0.9);

    const std::string costs = vector.substr(vector.find("\"costs\""));
    for (size_t i = 0; i < HypothesisCount; ++i) {
      EXPECT_NEAR(result.costs[i], Number(costs, HypothesisName(i)), 1e-3) << HypothesisName(i);
    }
    EXPECT_EQ(result.best, NameOrEmpty(Field(vector, "best")));
    EXPECT_EQ(result.coding ? CodingName(*result.coding) : "", NameOrEmpty(Field(vector, "coding")));
    EXPECT_EQ(result.reason, Field(vector, "reason"));
    // t and the confidence are given rounded to 3 and 4 decimals.
    const double t = Number(vector, "t");
    EXPECT_NEAR(result.t, t, 1e-3 + 2e-5 * std::abs(t));
    EXPECT_NEAR(result.confidence, Number(vector, "confidence"), 1e-4);
    EXPECT_EQ(result.events8, Number(vector, "events8"));
    EXPECT_EQ(result.events6, Number(vector, "events6"));
    EXPECT_EQ(result.rate.value_or(0), Field(vector, "rate") == "null" ? 0 : Number(vector, "rate"));
    EXPECT_DOUBLE_EQ(result.rate_confidence, Number(vector, "rate_confidence"));
  }
}

}  // namespace
