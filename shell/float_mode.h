// Floating-point mode for frame work: flush-to-zero (MXCSR bit 0x8000) and
// denormals-are-zero (bit 0x40) on the calling thread for the guard's lifetime, and the
// thread's own mode back afterwards. Effects that do float work inside a parallel
// region open one guard per worker so that every thread computes alike.
#pragma once

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define QEL_HAVE_MXCSR 1
#endif

constexpr unsigned kFlushDenormalsMask = 0x8040;

class ScopedFlushDenormals {
 public:
#ifdef QEL_HAVE_MXCSR
  ScopedFlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushDenormalsMask); }
  ~ScopedFlushDenormals() { _mm_setcsr(saved_); }
#else
  ScopedFlushDenormals() = default;
#endif
  ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
  ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

 private:
#ifdef QEL_HAVE_MXCSR
  unsigned saved_;
#endif
};
