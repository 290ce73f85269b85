#include "tests/robust/heap_counter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QEL_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QEL_SANITIZER_HEAP 1
#endif
#endif

#ifdef QEL_SANITIZER_HEAP

// The sanitizers own the allocator and count what is allocated and not yet freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();

size_t qeltest::heapBytesInUse() {
  return __sanitizer_get_current_allocated_bytes();
}

#else

#include <malloc.h>

#include <atomic>
#include <cerrno>

// Every allocation of the process passes through these, the plug-ins' (loaded later with
// dlopen) included, and is counted by its usable size.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long long> gBytes{0};

void* counted(void* block) {
  if (block)
    gBytes.fetch_add(static_cast<long long>(malloc_usable_size(block)), std::memory_order_relaxed);
  return block;
}

void uncount(void* block) {
  if (block)
    gBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)), std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
  return counted(__libc_malloc(size));
}
void* calloc(size_t count, size_t size) {
  return counted(__libc_calloc(count, size));
}
void* realloc(void* block, size_t size) {
  const size_t before = block ? malloc_usable_size(block) : 0;
  void* moved = __libc_realloc(block, size);
  if (moved || size == 0)
    gBytes.fetch_sub(static_cast<long long>(before), std::memory_order_relaxed);
  return counted(moved);
}
void free(void* block) {
  uncount(block);
  __libc_free(block);
}
void* memalign(size_t alignment, size_t size) {
  return counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(size_t alignment, size_t size) {
  return counted(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = __libc_memalign(alignment, size);
  if (!block) return ENOMEM;
  *out = counted(block);
  return 0;
}
}

size_t qeltest::heapBytesInUse() {
  return static_cast<size_t>(gBytes.load(std::memory_order_relaxed));
}

#endif
