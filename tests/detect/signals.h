// Test signals made at test time: speech-like harmonic sweeps with pauses, noise, near-silence, DTMF digits,
// music, the faults of real telephone recordings, and their coding into raw VOX bytes with the project's own
// codecs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "tests/support/test_seed.h"

// Voiced syllables whose pitch glides and whose harmonics follow moving formants, with pauses between them.
std::vector<int16_t> SpeechLike(double seconds, int rate_hz, uint64_t seed);
// Gaussian noise, low-passed a little as a telephone line would.
std::vector<int16_t> LineNoise(double seconds, int rate_hz, double rms, uint64_t seed);
// Digits of "0123456789*#ABCD" as tone pairs with pauses, the tones off by up to +-0.5%.
std::vector<int16_t> DtmfDigits(const std::string& digits, int rate_hz, uint64_t seed);

// Chords, a melody and a bass line of plucked harmonic notes, loud and even as music on hold is.
std::vector<int16_t> MusicLike(double seconds, int rate_hz, uint64_t seed);

// What real telephone recordings suffer. Each fault's strength is drawn from its range by the seed.
enum class RecordingFault {
  None,
  DcOffset,          // a constant offset of up to the RMS, either sign
  Clipping,          // driven 3-20 dB past full scale, or clipped early at 40-80% of it
  TelephoneBand,     // 300-3400 Hz, steep skirts
  VeryQuiet,         // -45 dBFS RMS, +-3 dB
  LoudNoise,         // white, pink, rumble or babble at 0-10 dB SNR
  TandemCoding,      // A-law, mu-law or this format's ADPCM before, with a gain change between
  MusicOnHold,       // music, alone or under an announcement
  LongSilences,      // a tenth to a quarter of speech amid digital silence or a faint line
  MainsHum,          // 50 or 60 Hz with harmonics, -12 to +6 dB against the speech
  Several,           // an offset, the telephone band and one of noise, hum or clipping together
  SilencesOnOffset,  // long silences around short speech, all on an offset of up to the file's RMS
};
inline constexpr RecordingFault AllRecordingFaults[] = {
    RecordingFault::None,          RecordingFault::DcOffset,    RecordingFault::Clipping,
    RecordingFault::TelephoneBand, RecordingFault::VeryQuiet,   RecordingFault::LoudNoise,
    RecordingFault::TandemCoding,  RecordingFault::MusicOnHold, RecordingFault::LongSilences,
    RecordingFault::MainsHum,      RecordingFault::Several,     RecordingFault::SilencesOnOffset};
const char* FaultName(RecordingFault fault);

struct FaultyRecording {
  std::vector<int16_t> samples;
  std::string detail;  // the drawn strength, e.g. "offset -0.62 RMS"
};
// `speech` at `rate_hz` with the fault applied; the result is as long as `speech`.
FaultyRecording WithFault(RecordingFault fault, const std::vector<int16_t>& speech, int rate_hz, uint64_t seed);

std::vector<uint8_t> Encode(DetectedCoding coding, const std::vector<int16_t>& samples);
std::vector<int16_t> Decode(DetectedCoding coding, const std::vector<uint8_t>& bytes);
// The samples amplified until their peak lies `drive_db` past full scale, and clipped there.
std::vector<int16_t> DrivenPastFullScale(const std::vector<int16_t>& samples, double drive_db);
// ADPCM bytes with their two codes in the other order, as a writer that puts the first code low would leave them.
std::vector<uint8_t> NibblesSwapped(std::vector<uint8_t> bytes);
// Little-endian 16-bit PCM bytes.
std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples);
