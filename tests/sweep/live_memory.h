// Heap bytes the program holds right now, counted by this program's own operator new and
// delete (not available in sanitizer builds, whose allocator stands in for ours).
#pragma once

#include <cstddef>

namespace omr72::sweep {

bool LiveHeapCounted();
size_t LiveHeapBytes();

}  // namespace omr72::sweep
