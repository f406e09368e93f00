// The library's own use of detection: a file sampled as the detector asks, and the thresholds kvox acts on.
#pragma once

#include "detect/detect.h"
#include "libkvox/kvox.h"

namespace kvox_internal {

// Claims at or above this confidence are acted on, for the coding and for the rate alike.
inline constexpr double ActOnConfidence = 0.9;
// Below this a claimed coding is reported as unknown.
inline constexpr double UnsureConfidence = 0.5;

// What the content of the file at `path` says, reading only the bytes the detector looks at. Returns
// KVOX_OK or an error.
int DetectFile(const char* path, kvox_detection& answer);

}  // namespace kvox_internal
