#include "effects/stains/stains_geometry.h"

namespace stains {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Beyond this a screen coordinate cannot land in any frame (sides are at most 32767),
// and below it its truncation to int32 is defined.
constexpr float kScreenLimit = 1073741824.0f;  // 2^30

constexpr float kMinDepthFactor = 0.01f;

}  // namespace

FrameQuantities deriveFrameQuantities(int width, int height, float dotScale) {
  FrameQuantities q;
  const float twoW = 2.0f * float(width);
  const float twoH = 2.0f * float(height);
  q.cubeSize = twoW > twoH ? twoW : twoH;
  q.half = q.cubeSize * 0.5f;
  // 384 and 1536 set the scale: a 384-pixel-wide frame with a 768-pixel cube and
  // "Dot Scale" 1 draws dots of 144 x 384 x 768 / (384 x 1536) = 72 pixels.
  q.baseDiameter = ((float(width) / 384.0f) * q.cubeSize * (128.0f * dotScale + 16.0f)) / 1536.0f;
  return q;
}

float updateAngle(float angle, float rotAngle) {
  float a = static_cast<float>(static_cast<double>(rotAngle - 0.5f) * kTwoPi +
                               static_cast<double>(angle));
  if (static_cast<double>(a) > kTwoPi) a = static_cast<float>(static_cast<double>(a) - kTwoPi);
  if (a < 0.0f) a = static_cast<float>(static_cast<double>(a) + kTwoPi);
  return a;
}

void sinCosf(float a, float& sine, float& cosine) {
  if (!(a >= -65536.0f && a <= 65536.0f)) {
    sine = 0.0f;
    cosine = 1.0f;
    return;
  }
  // Quadrant j = round(|a| x 2/pi), then r = |a| - j x pi/2 with pi/2 split into three
  // floats whose products with j (below 2^16) are exact or nearly so.
  constexpr float kTwoOverPi = 0.636619772367581343f;
  constexpr float kHalfPi1 = 1.5703125f;
  constexpr float kHalfPi2 = 4.837512969970703125e-4f;
  constexpr float kHalfPi3 = 7.54978995489188216e-8f;
  const bool negative = a < 0.0f;
  const float x = negative ? -a : a;
  const int j = static_cast<int>(x * kTwoOverPi + 0.5f);
  const float fj = float(j);
  const float r = ((x - fj * kHalfPi1) - fj * kHalfPi2) - fj * kHalfPi3;
  const float z = r * r;
  // Minimax polynomials for sin r and cos r on -pi/4 .. pi/4 (relative error about 1e-8).
  const float s = ((-1.9515295891e-4f * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
  const float c =
      ((2.443315711809948e-5f * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
      0.5f * z + 1.0f;
  float sx, cx;
  switch (j & 3) {
    case 0:
      sx = s;
      cx = c;
      break;
    case 1:
      sx = c;
      cx = -s;
      break;
    case 2:
      sx = -s;
      cx = -c;
      break;
    default:
      sx = -c;
      cx = s;
      break;
  }
  sine = negative ? -sx : sx;
  cosine = cx;
}

Rotation rotationFor(float angleX, float angleY, float angleZ) {
  Rotation r;
  sinCosf(angleX, r.sX, r.cX);
  sinCosf(angleY, r.sY, r.cY);
  sinCosf(angleZ, r.sZ, r.cZ);
  return r;
}

bool projectParticle(float x, float y, float z, const Rotation& r, int width, int height,
                     const FrameQuantities& q, ScreenPoint& out) {
  const float y1 = r.cX * y - r.sX * z;
  const float z1 = y * r.sX + z * r.cX;
  const float x1 = r.sY * z1 + r.cY * x;
  const float depth = ((z1 * r.cY + q.half) - x * r.sY) / q.cubeSize;
  const float x2 = r.cZ * x1 - r.sZ * y1;
  const float y2 = x1 * r.sZ + y1 * r.cZ;
  if (!(x2 > -kScreenLimit && x2 < kScreenLimit && y2 > -kScreenLimit && y2 < kScreenLimit)) {
    return false;
  }
  const int sx = static_cast<int>(x2) + (width >> 1);
  const int sy = static_cast<int>(y2) + (height >> 1);
  if (sx < 1 || sx > width - 2 || sy < 1 || sy > height - 2) return false;
  float df = depth;
  if (df < kMinDepthFactor) df = kMinDepthFactor;
  if (df > 1.0f) df = 1.0f;
  out = {sx, sy, df};
  return true;
}

}  // namespace stains
