// Bookkeeping shared by the compatibility layer's calls: open files, pending faults.
#pragma once

#include "platform/faults.h"
#include "platform/platform.h"

namespace compat::detail {

// True when a pending fault says this call must fail; consumes the fault.
bool ShouldFail(Call call);

// How many of `byte_count` bytes the next write may store.
UINT TakeWriteLimit(UINT byte_count);

void FileOpened(int descriptor);
bool IsOpenFile(int descriptor);
// False when the descriptor was not open through this layer.
bool FileClosed(int descriptor);

}  // namespace compat::detail
