// libkvox's buffer entry points on any bytes: detection, the stream codecs cut anywhere, and files opened
// and read in pieces. Cutting a stream must never change its bytes, and no answer may break its contract.
//
// Input: a byte for the coding (any value, the six and others), a byte of cut lengths' scale, then the data.
#include <kvox.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzing::InputBytes;

#define REQUIRE(condition) \
  if (!(condition)) fuzzing::Fail(__FILE__, __LINE__, #condition)

// Lengths to cut a stream into, taken from the data itself so the fuzzer steers them.
std::vector<size_t> Cuts(const std::vector<uint8_t>& data, size_t total, uint8_t scale) {
  std::vector<size_t> cuts;
  size_t at = 0;
  for (size_t done = 0; done < total; ++at) {
    const size_t piece = std::min(total - done, at < data.size() ? size_t{data[at]} * (scale % 64 + 1) : total);
    cuts.push_back(piece);
    done += piece;
  }
  return cuts;
}

void CheckDetection(const std::vector<uint8_t>& data) {
  kvox_detection detection{};
  REQUIRE(kvox_detect(data.data(), data.size(), &detection) == KVOX_OK);
  REQUIRE(detection.confidence >= 0 && detection.confidence <= 1);
  REQUIRE(std::memchr(detection.reason, 0, sizeof(detection.reason)) != nullptr);
  REQUIRE(std::memchr(detection.best, 0, sizeof(detection.best)) != nullptr);
  REQUIRE(detection.coding == KVOX_CODING_NONE || detection.coding == KVOX_ALAW || detection.coding == KVOX_ULAW ||
          detection.coding == KVOX_ADPCM);
  REQUIRE(detection.read_as == KVOX_CODING_NONE || detection.confidence >= 0.9);
  REQUIRE(detection.rate == 0 || detection.rate == 6000 || detection.rate == 8000);
  char summary[8];
  const int length = kvox_detection_summary(&detection, summary, sizeof(summary));
  REQUIRE(length > 0 && std::strlen(summary) == std::min<size_t>(static_cast<size_t>(length), sizeof(summary) - 1));
}

void CheckCodecs(kvox_coding coding, const std::vector<uint8_t>& data, uint8_t scale) {
  kvox_decoder* whole = kvox_decoder_new(coding);
  kvox_decoder* cut = kvox_decoder_new(coding);
  REQUIRE((whole == nullptr) == (kvox_coding_rate(coding) == 0));
  if (whole == nullptr) {
    kvox_decoder_free(cut);
    return;
  }
  std::vector<int16_t> once(data.size() * 2 + 1), pieces(data.size() * 2 + 1);
  const size_t once_count = kvox_decode(whole, data.data(), data.size(), once.data());
  size_t pieces_count = 0, done = 0;
  for (size_t piece : Cuts(data, data.size(), scale)) {
    pieces_count += kvox_decode(cut, data.data() + done, piece, pieces.data() + pieces_count);
    done += piece;
  }
  REQUIRE(once_count == pieces_count && std::equal(once.begin(), once.begin() + once_count, pieces.begin()));
  kvox_decoder_free(whole);
  kvox_decoder_free(cut);

  // The data as samples, coded at once and in pieces.
  std::vector<int16_t> samples(data.size() / 2);
  std::memcpy(samples.data(), data.data(), samples.size() * 2);
  kvox_encoder* encoder = kvox_encoder_new(coding);
  std::vector<uint8_t> coded_once(samples.size() + 1), coded_pieces(samples.size() + 1);
  size_t once_bytes = kvox_encode(encoder, samples.data(), samples.size(), coded_once.data());
  once_bytes += kvox_encoder_flush(encoder, coded_once.data() + once_bytes);
  REQUIRE(once_bytes == static_cast<size_t>(kvox_file_bytes(coding, KVOX_NO_TAG, static_cast<int64_t>(samples.size()))));
  size_t pieces_bytes = 0;
  done = 0;
  for (size_t piece : Cuts(data, samples.size(), static_cast<uint8_t>(scale + 1))) {
    pieces_bytes += kvox_encode(encoder, samples.data() + done, piece, coded_pieces.data() + pieces_bytes);
    done += piece;
  }
  pieces_bytes += kvox_encoder_flush(encoder, coded_pieces.data() + pieces_bytes);
  kvox_encoder_free(encoder);
  REQUIRE(once_bytes == pieces_bytes && std::equal(coded_once.begin(), coded_once.begin() + once_bytes,
                                                   coded_pieces.begin()));
}

void CheckFile(kvox_coding coding, const std::vector<uint8_t>& data, uint8_t scale) {
  const std::string path = fuzzing::ScratchFolder() + "/library.vox";
  fuzzing::WriteWholeFile(path, data);
  kvox_info info{};
  int error = 0;
  kvox_file* file = kvox_open(path.c_str(), coding, &info, &error);
  REQUIRE((file == nullptr) == (error != KVOX_OK));
  if (file == nullptr) {
    REQUIRE(error < 0 && std::strlen(kvox_strerror(error)) > 0);
    return;
  }
  REQUIRE(info.rate == 8000 || info.rate == 6000);
  std::vector<int16_t> samples(70000);
  int64_t total = 0;
  for (size_t piece : Cuts(data, samples.size(), scale)) {
    const int64_t got = kvox_read(file, samples.data(), piece);
    REQUIRE(got >= 0 && static_cast<size_t>(got) <= piece);
    total += got;
    if (got == 0 && piece > 0) break;
  }
  REQUIRE(total == std::min<int64_t>(info.frames, static_cast<int64_t>(samples.size())) || total < info.frames);
  REQUIRE(kvox_close(file) == KVOX_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  InputBytes input(bytes, size);
  const auto coding = static_cast<kvox_coding>(input.Byte() % 9);
  const uint8_t scale = input.Byte();
  const std::vector<uint8_t> data = input.Bytes(input.Left());
  CheckDetection(data);
  CheckCodecs(coding, data, scale);
  CheckFile(coding, data, scale);
  fuzzing::CheckNothingLeftOpen("libkvox");
  return 0;
}
