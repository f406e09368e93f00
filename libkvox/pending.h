// Outputs that take their names only when complete, for the library's own writers.
#pragma once

#include <string>

#include "libkvox/kvox.h"

namespace kvox_internal {

kvox_pending* NewPending(const char* final_path, int* err);
// The path to write to: the temporary name, or the final one for a device or pipe.
const std::string& WritePath(const kvox_pending& pending);
// Both free the record.
int CommitPending(kvox_pending* pending);
void DiscardPending(kvox_pending* pending);

}  // namespace kvox_internal
