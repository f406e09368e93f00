/* What the npm package's module needs beyond libkvox's own calls: the detection handed over as plain
 * numbers and texts, so that JavaScript never depends on the layout of struct kvox_detection. One result at
 * a time, which is all a module instance (one thread) ever needs. */
#include <emscripten/emscripten.h>

#include "libkvox/kvox.h"

static kvox_detection last;
static char summary[512];

/* Looks at `bytes` bytes at `data`; 0, or a negative KVOX_E code. */
EMSCRIPTEN_KEEPALIVE int kvw_detect(const uint8_t* data, size_t bytes) {
  summary[0] = '\0';
  int status = kvox_detect(data, bytes, &last);
  if (status != KVOX_OK) return status;
  if (kvox_detection_summary(&last, summary, sizeof summary) < 0) summary[0] = '\0';
  return KVOX_OK;
}

/* The last detection's numbers, in this order: coding, confidence, rate, rate_confidence, rate_hint, t,
 * read_as; NaN past the end. */
EMSCRIPTEN_KEEPALIVE double kvw_detection_number(int which) {
  switch (which) {
    case 0: return last.coding;
    case 1: return last.confidence;
    case 2: return last.rate;
    case 3: return last.rate_confidence;
    case 4: return last.rate_hint;
    case 5: return last.t;
    case 6: return last.read_as;
    default: return __builtin_nan("");
  }
}

/* The last detection's texts: 0 the reason, 1 the cheapest reading ("best"), 2 the summary kvox info
 * prints ("coding mu-law, confidence 0.99; rate unknown from content"). */
EMSCRIPTEN_KEEPALIVE const char* kvw_detection_text(int which) {
  switch (which) {
    case 0: return last.reason;
    case 1: return last.best;
    case 2: return summary;
    default: return "";
  }
}
