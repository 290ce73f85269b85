// Floating-point mode for frame work: flush-to-zero (MXCSR bit 0x8000) and
// denormals-are-zero (bit 0x40, where the processor has it) on the calling thread for
// the guard's lifetime, and the thread's own mode back afterwards. Effects that do float work
// inside a parallel region open one guard per worker so that every thread computes alike.
#pragma once

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define QEL_HAVE_MXCSR 1
#endif

#include <cstdint>
#include <cstring>

constexpr unsigned kFlushToZeroBit = 0x8000;
constexpr unsigned kDenormalsAreZeroBit = 0x40;
constexpr unsigned kFlushDenormalsMask = kFlushToZeroBit | kDenormalsAreZeroBit;

#ifdef QEL_HAVE_MXCSR
// The bits of kFlushDenormalsMask that this processor accepts. Every SSE processor has
// flush-to-zero; denormals-are-zero is missing on some early ones, where setting it
// faults. FXSAVE stores the processor's MXCSR_MASK at byte 28 of its 512-byte area; zero
// there means the architectural default 0xFFBF, which lacks denormals-are-zero.
__attribute__((target("fxsr"))) inline unsigned supportedFlushDenormalsMask() {
  constexpr size_t kFxsaveBytes = 512;
  constexpr size_t kMxcsrMaskOffset = 28;
  constexpr uint32_t kDefaultMxcsrMask = 0xFFBF;
  alignas(16) unsigned char area[kFxsaveBytes];
  _fxsave(area);
  uint32_t mxcsrMask;
  std::memcpy(&mxcsrMask, area + kMxcsrMaskOffset, sizeof mxcsrMask);
  if (mxcsrMask == 0) mxcsrMask = kDefaultMxcsrMask;
  return kFlushDenormalsMask & (kFlushToZeroBit | mxcsrMask);
}

// Sets flush-to-zero and, where supported, denormals-are-zero on the calling thread for
// good (the library entry routine does this for every thread that passes through it).
inline void enableFlushDenormalsOnThisThread() {
  _mm_setcsr(_mm_getcsr() | supportedFlushDenormalsMask());
}
#else
inline void enableFlushDenormalsOnThisThread() {}
#endif

class ScopedFlushDenormals {
 public:
#ifdef QEL_HAVE_MXCSR
  ScopedFlushDenormals() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | supportedFlushDenormalsMask());
  }
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
