// Bytes the process holds on the heap, the plug-ins' included, counted exactly: a freed
// block counts as freed at once (glibc's own statistics keep freed blocks of its per-thread
// caches as in use).
#pragma once

#include <cstddef>

namespace qeltest {

size_t heapBytesInUse();

}  // namespace qeltest
