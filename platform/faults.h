// Test seam of the compatibility layer: make chosen platform calls fail, and count what is left open.
// Only the native build has it; on Windows the real calls are used.
#pragma once

namespace compat {

enum class Call { Allocation, Read, Write, Open, Create, Seek };

// The call of this kind that comes after `successes_first` more successful ones fails as its Win32
// original fails: GlobalAlloc gives 0, _lread/_lwrite/_lopen/_lcreat/_llseek give -1.
void FailCall(Call call, int successes_first = 0);

// The next _lwrite stores at most `byte_limit` bytes and reports that count, as a nearly full disk does.
void LimitNextWrite(unsigned byte_limit);

// Forget every pending failure.
void ClearFaults();

// Files opened or created through this layer and not yet closed.
int OpenFileCount();

// Global memory blocks allocated and not yet freed.
int LiveAllocationCount();

}  // namespace compat
