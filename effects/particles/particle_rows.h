// Pixel and row helpers of the Particles effect: brightness, the trail fade, the colour
// keep and the FX Amount mix. Pure functions of their arguments, free of the plug-in shell.
//
// Pixels are 3 or 4 bytes; bytes 0..2 are colour, byte 3 (of 4-byte pixels) is alpha.
// Every row helper has a plain form (the reference) and, where it pays, a faster form that
// tests prove byte-identical to it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace particles {

// Brightness of a pixel: (byte 0 + byte 1 + byte 2) / 3 rounded down, 0..255.
constexpr int brightness(const uint8_t* p) {
  return (p[0] + p[1] + p[2]) / 3;
}

// Scales q0..q2 (each 0..510, largest m > 255) by 255 / m: qk = qk x 255 / m rounded down.
// The largest becomes exactly 255 and the ratios between the channels are kept.
constexpr void rescaleOverRange(int& q0, int& q1, int& q2) {
  const int m = q0 > q1 ? (q0 > q2 ? q0 : q2) : (q1 > q2 ? q1 : q2);
  q0 = q0 * 255 / m;
  q1 = q1 * 255 / m;
  q2 = q2 * 255 / m;
}

// ---- Trail fade: bytes 0..2 of each pixel become (byte x trailFactor) >> 8, rescaled when
// the largest passes 255. trailFactor 1..512 (0 clears the trail and needs no row helper).
// Byte 3 of 4-byte pixels is left as it is.
template <int Bpp>
void fadeTrailRowReference(uint8_t* row, int width, int trailFactor);
template <int Bpp>
void fadeTrailRow(uint8_t* row, int width, int trailFactor);

// ---- Colour keep: fx bytes 0..2 become trail + ((trail x keepFactor) >> 8), rescaled when
// the largest passes 255. keepFactor 0..256. Byte 3 of fx is written with the trail's byte
// 3 (no step reads it); the fast form takes byte 3 from the row `alpha` instead (pass the
// trail for the same bytes as the plain form, or the input to finish a mix at FX Amount 1).
template <int Bpp>
void colorKeepRowReference(const uint8_t* trail, uint8_t* fx, int width, int keepFactor);
template <int Bpp>
void colorKeepRow(const uint8_t* trail, uint8_t* fx, int width, int keepFactor,
                  const uint8_t* alpha);

// ---- The FX Amount mix, as a constant-alpha composition of A (the input, weight alpha1 =
// 255 - fxAlpha) and B (the effect image, weight alpha2 = fxAlpha), in 32-bit float with
// k = the float nearest 1/255, every operation rounded to float (no fused multiply-add)
// and the result rounded to nearest, ties to even.

// The float nearest 1/255 (0.0039215688593685627).
constexpr float kInv255 = 1.0f / 255.0f;

// "plus" (4-byte pixels): min(255, round((float)(alpha1 A) + (float)(alpha2 B)) x k)).
int mixPlusReference(int alpha1, int alpha2, int a, int b);
// "over" (3-byte pixels): w = (float)(alpha2 (255 - alpha1)) x k, then
// round(((float)(alpha1 A) + w x (float)B) x k).
int mixOverReference(int alpha1, int alpha2, int a, int b);

// "plus" in integers: round((alpha1 A + alpha2 B) / 255), exact for alpha1 + alpha2 <= 255
// (a tie cannot occur, since 255 is odd); equal to mixPlusReference for every input.
constexpr int mixPlusInteger(int alpha1, int alpha2, int a, int b) {
  return (alpha1 * a + alpha2 * b + 127) / 255;
}

// Mixes `width` 4-byte pixels: out bytes 0..2 = plus(in, fx), byte 3 = in's byte 3.
// out may be in.
void mixPlusRowReference(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width,
                         int fxAlpha);
void mixPlusRow(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width, int fxAlpha);

// Mixes `width` 3-byte pixels: every byte = over(in, fx). out may be in. Evaluates floats:
// the caller sets round-to-nearest (ScopedRoundToNearest).
void mixOverRowReference(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width,
                         int fxAlpha);
void mixOverRow(uint8_t* out, const uint8_t* in, const uint8_t* fx, int width, int fxAlpha);

// Round-to-nearest for the calling thread while in scope, whatever rounding mode the host
// left in the SSE control register (the "over" mix is defined in that mode); the previous
// mode comes back afterwards.
class ScopedRoundToNearest {
 public:
  ScopedRoundToNearest();
  ~ScopedRoundToNearest();
  ScopedRoundToNearest(const ScopedRoundToNearest&) = delete;
  ScopedRoundToNearest& operator=(const ScopedRoundToNearest&) = delete;

 private:
  unsigned saved_ = 0;
};

}  // namespace particles
