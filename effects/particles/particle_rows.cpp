#include "effects/particles/particle_rows.h"

#include <cstring>

#if !defined(QEL_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#include <emmintrin.h>
#define QEL_PARTICLES_SSE2 1
#endif
#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define QEL_PARTICLES_MXCSR 1
#endif

namespace particles {

namespace {

constexpr int kMaxChannelValue = 255;

}  // namespace

// ---- Trail fade

template <int Bpp>
void fadeTrailRowReference(uint8_t* row, int width, int trailFactor) {
  for (int x = 0; x < width; ++x, row += Bpp) {
    int q0 = (row[0] * trailFactor) >> 8;
    int q1 = (row[1] * trailFactor) >> 8;
    int q2 = (row[2] * trailFactor) >> 8;
    if (q0 > kMaxChannelValue || q1 > kMaxChannelValue || q2 > kMaxChannelValue) {
      rescaleOverRange(q0, q1, q2);
    }
    row[0] = static_cast<uint8_t>(q0);
    row[1] = static_cast<uint8_t>(q1);
    row[2] = static_cast<uint8_t>(q2);
  }
}

template <int Bpp>
void fadeTrailRow(uint8_t* row, int width, int trailFactor) {
  // Above 256 a channel can pass 255 and the pixel needs the rescale: the plain form.
  if (trailFactor > 256) {
    fadeTrailRowReference<Bpp>(row, width, trailFactor);
    return;
  }
  // At most 256 every channel stays in range and is scaled on its own.
  const size_t bytes = static_cast<size_t>(width) * Bpp;
  size_t i = 0;
  if constexpr (Bpp == 3) {
    // Every byte of a 3-byte row is a colour channel.
    for (; i < bytes; ++i) row[i] = static_cast<uint8_t>((row[i] * trailFactor) >> 8);
    return;
  } else {
#ifdef QEL_PARTICLES_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(static_cast<short>(trailFactor));
    const __m128i alphaBytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 16 <= bytes; i += 16) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
      // byte x trailFactor <= 255 x 256 fits 16 unsigned bits.
      const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), factor), 8);
      const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), factor), 8);
      const __m128i q = _mm_packus_epi16(lo, hi);
      const __m128i kept =
          _mm_or_si128(_mm_andnot_si128(alphaBytes, q), _mm_and_si128(alphaBytes, t));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), kept);
    }
#endif
    for (; i < bytes; i += 4) {
      row[i] = static_cast<uint8_t>((row[i] * trailFactor) >> 8);
      row[i + 1] = static_cast<uint8_t>((row[i + 1] * trailFactor) >> 8);
      row[i + 2] = static_cast<uint8_t>((row[i + 2] * trailFactor) >> 8);
    }
  }
}

// ---- Colour keep

template <int Bpp>
void colorKeepRowReference(const uint8_t* trail, uint8_t* fx, int width, int keepFactor) {
  for (int x = 0; x < width; ++x, trail += Bpp, fx += Bpp) {
    for (int k = 0; k < Bpp; ++k) fx[k] = trail[k];
    int q0 = trail[0] + ((fx[0] * keepFactor) >> 8);
    int q1 = trail[1] + ((fx[1] * keepFactor) >> 8);
    int q2 = trail[2] + ((fx[2] * keepFactor) >> 8);
    if (q0 > kMaxChannelValue || q1 > kMaxChannelValue || q2 > kMaxChannelValue) {
      rescaleOverRange(q0, q1, q2);
    }
    fx[0] = static_cast<uint8_t>(q0);
    fx[1] = static_cast<uint8_t>(q1);
    fx[2] = static_cast<uint8_t>(q2);
  }
}

namespace {

// The plain per-pixel keep, shared by the reference and by the tails of the fast form.
template <int Bpp>
void colorKeepPixels(const uint8_t* trail, uint8_t* fx, int width, int keepFactor,
                     const uint8_t* alpha) {
  for (int x = 0; x < width; ++x, trail += Bpp, fx += Bpp, alpha += Bpp) {
    int q0 = trail[0] + ((trail[0] * keepFactor) >> 8);
    int q1 = trail[1] + ((trail[1] * keepFactor) >> 8);
    int q2 = trail[2] + ((trail[2] * keepFactor) >> 8);
    if (q0 > kMaxChannelValue || q1 > kMaxChannelValue || q2 > kMaxChannelValue) {
      rescaleOverRange(q0, q1, q2);
    }
    fx[0] = static_cast<uint8_t>(q0);
    fx[1] = static_cast<uint8_t>(q1);
    fx[2] = static_cast<uint8_t>(q2);
    if constexpr (Bpp == 4) fx[3] = alpha[3];
  }
}

#ifdef QEL_PARTICLES_SSE2
// q = t + ((t x keepFactor) >> 8) on eight 16-bit lanes; t x keepFactor <= 255 x 256 fits
// 16 unsigned bits, q <= 510.
inline __m128i keepLanes(__m128i t, __m128i factor) {
  return _mm_add_epi16(t, _mm_srli_epi16(_mm_mullo_epi16(t, factor), 8));
}

// Rescales two 4-byte pixels held as eight 16-bit lanes (q0 q1 q2 q3 per pixel, each
// 0..510): the colour lanes of a pixel whose largest colour m exceeds 255 become
// floor(q x 255 / m). The quotient is formed in float: q x 255 <= 130050 is exact, and a
// quotient that is not a whole number lies at least 1/510 from one, far more than the
// division's rounding error, so truncation gives the exact floor in any rounding mode.
inline __m128i rescaleTwoPixels(__m128i q) {
  // Largest of lanes 0..2 in each of them (lane 3 sees only itself, and is not used).
  const __m128i rot1 =
      _mm_shufflehi_epi16(_mm_shufflelo_epi16(q, _MM_SHUFFLE(3, 0, 2, 1)), _MM_SHUFFLE(3, 0, 2, 1));
  const __m128i rot2 =
      _mm_shufflehi_epi16(_mm_shufflelo_epi16(q, _MM_SHUFFLE(3, 1, 0, 2)), _MM_SHUFFLE(3, 1, 0, 2));
  const __m128i m = _mm_max_epi16(q, _mm_max_epi16(rot1, rot2));
  const __m128i limit = _mm_set1_epi16(kMaxChannelValue);
  const __m128i needs = _mm_cmpgt_epi16(m, limit);
  // Divisors below 256 belong to pixels that keep q; 256 keeps their division harmless.
  const __m128i divisor = _mm_max_epi16(m, _mm_set1_epi16(256));
  const __m128i zero = _mm_setzero_si128();
  const __m128 scale = _mm_set1_ps(255.0f);
  const __m128i lo =
      _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(q, zero)), scale),
                                  _mm_cvtepi32_ps(_mm_unpacklo_epi16(divisor, zero))));
  const __m128i hi =
      _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(q, zero)), scale),
                                  _mm_cvtepi32_ps(_mm_unpackhi_epi16(divisor, zero))));
  const __m128i scaled = _mm_packs_epi32(lo, hi);
  return _mm_or_si128(_mm_and_si128(needs, scaled), _mm_andnot_si128(needs, q));
}
#endif

}  // namespace

template <int Bpp>
void colorKeepRow(const uint8_t* trail, uint8_t* fx, int width, int keepFactor,
                  const uint8_t* alpha) {
  int x = 0;
#ifdef QEL_PARTICLES_SSE2
  const __m128i zero = _mm_setzero_si128();
  const __m128i factor = _mm_set1_epi16(static_cast<short>(keepFactor));
  const __m128i limit = _mm_set1_epi16(kMaxChannelValue);
  if constexpr (Bpp == 4) {
    // Four pixels per step; the alpha lanes are computed along and replaced at the end.
    const __m128i alphaBytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    for (; x + 4 <= width; x += 4) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(trail + x * 4));
      __m128i lo = keepLanes(_mm_unpacklo_epi8(t, zero), factor);
      __m128i hi = keepLanes(_mm_unpackhi_epi8(t, zero), factor);
      const __m128i over = _mm_and_si128(
          _mm_or_si128(_mm_cmpgt_epi16(lo, limit), _mm_cmpgt_epi16(hi, limit)), colourLanes);
      if (_mm_movemask_epi8(over) != 0) {
        lo = rescaleTwoPixels(lo);
        hi = rescaleTwoPixels(hi);
      }
      const __m128i q = _mm_packus_epi16(lo, hi);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + x * 4));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(fx + x * 4),
                       _mm_or_si128(_mm_andnot_si128(alphaBytes, q), _mm_and_si128(alphaBytes, a)));
    }
  } else {
    // Five pixels (15 bytes) per step from a 16-byte load; a step in which any channel
    // passes 255 is done pixel by pixel. The 16th byte stored is the next step's first.
    for (; (x + 5) * 3 + 1 <= width * 3; x += 5) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(trail + x * 3));
      const __m128i lo = keepLanes(_mm_unpacklo_epi8(t, zero), factor);
      const __m128i hi = keepLanes(_mm_unpackhi_epi8(t, zero), factor);
      // Lanes 0..7 of lo and 0..6 of hi (the 16th byte is not part of this step).
      const int over = _mm_movemask_epi8(_mm_cmpgt_epi16(lo, limit)) |
                       (_mm_movemask_epi8(_mm_cmpgt_epi16(hi, limit)) & 0x3FFF);
      if (over != 0) {
        colorKeepPixels<3>(trail + x * 3, fx + x * 3, 5, keepFactor, alpha + x * 3);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(fx + x * 3), _mm_packus_epi16(lo, hi));
      }
    }
  }
#endif
  colorKeepPixels<Bpp>(trail + x * Bpp, fx + x * Bpp, width - x, keepFactor, alpha + x * Bpp);
}

// ---- FX Amount mix

namespace {

// Round half to even of 0 <= x < 2^22, whatever rounding mode the host left set on the
// SSE or the x87 unit: x - trunc(x) is exact, so the halfway test is exact too.
int roundHalfEven(float x) {
  const int whole = static_cast<int>(x);
  const float fraction = x - static_cast<float>(whole);
  return whole + (fraction > 0.5f || (fraction == 0.5f && (whole & 1)) ? 1 : 0);
}

}  // namespace

int mixPlusReference(int alpha1, int alpha2, int a, int b) {
  const float sum = static_cast<float>(alpha1 * a) + static_cast<float>(alpha2 * b);
  const int rounded = roundHalfEven(sum * kInv255);
  return rounded < kMaxChannelValue ? rounded : kMaxChannelValue;
}

int mixOverReference(int alpha1, int alpha2, int a, int b) {
  const float w = static_cast<float>(alpha2 * (255 - alpha1)) * kInv255;
  const float sum = static_cast<float>(alpha1 * a) + w * static_cast<float>(b);
  return roundHalfEven(sum * kInv255);
}

void mixPlusRowReference(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width,
                         int fxAlpha) {
  const int alpha1 = 255 - fxAlpha;
  for (int x = 0; x < width; ++x, out += 4, in += 4, fx += 4) {
    const uint8_t alpha = in[3];
    for (int k = 0; k < 3; ++k) {
      out[k] = static_cast<uint8_t>(mixPlusReference(alpha1, fxAlpha, in[k], fx[k]));
    }
    out[3] = alpha;
  }
}

void mixPlusRow(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width, int fxAlpha) {
  const int alpha1 = 255 - fxAlpha;
  const size_t bytes = static_cast<size_t>(width) * 4;
  size_t i = 0;
  // FX Amount 0 gives the input and FX Amount 1 the effect image's colour bytes exactly
  // (round(255 x A / 255) = A).
  if (fxAlpha == 0) {
    if (out != in) std::memcpy(out, in, bytes);
    return;
  }
#ifdef QEL_PARTICLES_SSE2
  const __m128i zero = _mm_setzero_si128();
  const __m128i weightA = _mm_set1_epi16(static_cast<short>(alpha1));
  const __m128i weightB = _mm_set1_epi16(static_cast<short>(fxAlpha));
  const __m128i half = _mm_set1_epi16(128);
  const __m128i alphaBytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  // round(x / 255) for x = alpha1 A + alpha2 B <= 65025 as (t + (t >> 8)) >> 8 with
  // t = x + 128 (all in 16 unsigned bits), the same value as mixPlusInteger.
  const auto mixHalf = [&](__m128i a, __m128i b) {
    const __m128i t = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(a, weightA), _mm_mullo_epi16(b, weightB)), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  if (fxAlpha == 255) {
    for (; i + 16 <= bytes; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fx + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_or_si128(_mm_andnot_si128(alphaBytes, b), _mm_and_si128(alphaBytes, a)));
    }
  }
  for (; i + 16 <= bytes; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fx + i));
    const __m128i lo = mixHalf(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi = mixHalf(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    const __m128i mixed = _mm_packus_epi16(lo, hi);
    const __m128i result =
        _mm_or_si128(_mm_andnot_si128(alphaBytes, mixed), _mm_and_si128(alphaBytes, a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), result);
  }
#endif
  for (; i < bytes; i += 4) {
    const uint8_t alpha = in[i + 3];
    for (int k = 0; k < 3; ++k) {
      out[i + k] = static_cast<uint8_t>(mixPlusInteger(alpha1, fxAlpha, in[i + k], fx[i + k]));
    }
    out[i + 3] = alpha;
  }
}

void mixOverRowReference(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width,
                         int fxAlpha) {
  const int alpha1 = 255 - fxAlpha;
  const size_t bytes = static_cast<size_t>(width) * 3;
  for (size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<uint8_t>(mixOverReference(alpha1, fxAlpha, in[i], fx[i]));
  }
}

void mixOverRow(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width, int fxAlpha) {
  const int alpha1 = 255 - fxAlpha;
  const size_t bytes = static_cast<size_t>(width) * 3;
  size_t i = 0;
  // FX Amount 0 gives the input and FX Amount 1 the effect image exactly: the weights
  // become 1 and 0 (w = 65025 x k rounds to 255.0f, and 255 B x k rounds to B).
  if (fxAlpha == 0 || fxAlpha == 255) {
    const uint8_t* source = fxAlpha == 0 ? in : fx;
    if (out != source) std::memcpy(out, source, bytes);
    return;
  }
#ifdef QEL_PARTICLES_SSE2
  // The same float operations as mixOverReference, four channels at a time; the
  // conversion back rounds by the control register's mode, nearest-even under
  // ScopedRoundToNearest, as roundHalfEven does.
  const float w = static_cast<float>(fxAlpha * (255 - alpha1)) * kInv255;
  const __m128 weightA = _mm_set1_ps(static_cast<float>(alpha1));
  const __m128 weightB = _mm_set1_ps(w);
  const __m128 inv255 = _mm_set1_ps(kInv255);
  const __m128i zero = _mm_setzero_si128();
  // alpha1 x A < 2^24 is exact in float, so (float)alpha1 x (float)A equals (float)(alpha1 A).
  const auto mixQuarter = [&](__m128i a32, __m128i b32) {
    const __m128 sum = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(a32), weightA),
                                  _mm_mul_ps(weightB, _mm_cvtepi32_ps(b32)));
    return _mm_cvtps_epi32(_mm_mul_ps(sum, inv255));
  };
  for (; i + 16 <= bytes; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fx + i));
    const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
    const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
    const __m128i r0 = mixQuarter(_mm_unpacklo_epi16(aLo, zero), _mm_unpacklo_epi16(bLo, zero));
    const __m128i r1 = mixQuarter(_mm_unpackhi_epi16(aLo, zero), _mm_unpackhi_epi16(bLo, zero));
    const __m128i r2 = mixQuarter(_mm_unpacklo_epi16(aHi, zero), _mm_unpacklo_epi16(bHi, zero));
    const __m128i r3 = mixQuarter(_mm_unpackhi_epi16(aHi, zero), _mm_unpackhi_epi16(bHi, zero));
    const __m128i result = _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), result);
  }
#endif
  for (; i < bytes; ++i) {
    out[i] = static_cast<uint8_t>(mixOverReference(alpha1, fxAlpha, in[i], fx[i]));
  }
}

// ---- Rounding mode

#ifdef QEL_PARTICLES_MXCSR
constexpr unsigned kRoundingControlBits = 0x6000;  // MXCSR bits 13..14; 00 = to nearest

ScopedRoundToNearest::ScopedRoundToNearest() : saved_(_mm_getcsr()) {
  if (saved_ & kRoundingControlBits) _mm_setcsr(saved_ & ~kRoundingControlBits);
}
ScopedRoundToNearest::~ScopedRoundToNearest() {
  if (saved_ & kRoundingControlBits) _mm_setcsr(saved_);
}
#else
ScopedRoundToNearest::ScopedRoundToNearest() = default;
ScopedRoundToNearest::~ScopedRoundToNearest() = default;
#endif

template void fadeTrailRowReference<3>(uint8_t*, int, int);
template void fadeTrailRowReference<4>(uint8_t*, int, int);
template void fadeTrailRow<3>(uint8_t*, int, int);
template void fadeTrailRow<4>(uint8_t*, int, int);
template void colorKeepRowReference<3>(const uint8_t*, uint8_t*, int, int);
template void colorKeepRowReference<4>(const uint8_t*, uint8_t*, int, int);
template void colorKeepRow<3>(const uint8_t*, uint8_t*, int, int, const uint8_t*);
template void colorKeepRow<4>(const uint8_t*, uint8_t*, int, int, const uint8_t*);

}  // namespace particles
