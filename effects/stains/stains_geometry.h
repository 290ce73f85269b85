// Stains geometry: the quantities derived from the frame size and the parameters, the
// rotation angles and their sine and cosine, and the projection of a particle onto the
// frame. Single precision throughout, evaluated in a fixed order.
#pragma once

#include <cstdint>

namespace stains {

// Quantities derived at the start of every frame.
struct FrameQuantities {
  float cubeSize;      // D: the larger of 2W and 2H
  float half;          // D x 0.5
  float baseDiameter;  // B: ((W / 384) x D x (128 x "Dot Scale" + 16)) / 1536, in pixels
};
FrameQuantities deriveFrameQuantities(int width, int height, float dotScale);

// One frame's turn of an accumulated angle, in double precision: the step
// ("Rot Angle" - 0.5) x 2 pi is added, then the angle is brought back into 0 .. 2 pi by one
// subtraction or addition of 2 pi. Returns the new angle.
float updateAngle(float angle, float rotAngle);

// Single-precision sine and cosine from basic IEEE operations only, so that every
// platform gets the same bits: reduction by pi/2 in three parts (Cody and Waite), then
// minimax polynomials on -pi/4 .. pi/4. Within 2e-7 of the exact values for |a| <= 1000;
// arguments beyond 65536 in magnitude (or NaN) give sine 0 and cosine 1.
void sinCosf(float a, float& sine, float& cosine);

struct Rotation {
  float sX, cX, sY, cY, sZ, cZ;
};
Rotation rotationFor(float angleX, float angleY, float angleZ);

// Where a particle lands: pixel (sx, sy) and the depth factor, 0.01 .. 1.
struct ScreenPoint {
  int sx, sy;
  float depthFactor;
};

// Turns (x, y, z) about X, then Y, then Z and projects it onto a width x height frame.
// Returns false when the particle lands outside the inner frame (columns 1 .. W - 2,
// rows 1 .. H - 2), where it is not drawn.
bool projectParticle(float x, float y, float z, const Rotation& r, int width, int height,
                     const FrameQuantities& q, ScreenPoint& out);

}  // namespace stains
