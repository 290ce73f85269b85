// The Stains particle cloud: particles and magnets in a cube centred on the origin, in
// pixel units. A reset seeds them at random; every running frame derives a new
// generation while there is room and then moves every active particle under the
// magnets' attraction.
//
// All arithmetic is float32 in a fixed order (no contraction, no reassociation), so the
// results are the same bytes on every platform and for every thread count.
#pragma once

#include <cstdint>

namespace stains {

constexpr int kParticleCapacity = 12800;
constexpr int kMagnetCount = 256;
constexpr int kMaxBatchSize = 2048;

struct Vec3f {
  float x, y, z;
};

struct StainParticle {
  float x, y, z;      // position in the cube, pixel units
  float opacity;      // 0.1 .. 1, scales the dot's transparency
  int32_t colour[3];  // dot colour for pixel bytes 2, 1 and 0, in this order; 0 .. 255
};

// The colour a particle paints into pixel byte k (0, 1 or 2).
inline int32_t& colourForByte(StainParticle& p, int k) {
  return p.colour[2 - k];
}
inline int32_t colourForByte(const StainParticle& p, int k) {
  return p.colour[2 - k];
}

// The runtime library's rand() as the classic Microsoft C runtime computes it: a 32-bit
// linear congruential state, answers 0 .. 32767. Each instance owns one, starting at 1.
struct RandState {
  uint32_t state = 1;
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

struct StainField {
  StainParticle fStainParticles[kParticleCapacity] = {};
  Vec3f fStainVelocities[kParticleCapacity] = {};
  Vec3f fStainMagnets[kMagnetCount] = {};
  int32_t fNumMagnets = kMagnetCount;
  int32_t fActiveCount = 0;            // particles below this index are moved and drawn
  int32_t fBatchSize = kMaxBatchSize;  // generation size n, set at every reset
  int32_t fActiveLimit = kParticleCapacity;
  bool fFieldReady = false;
  RandState random;
};

// The quantities of one frame that the motion needs.
struct MotionConstants {
  float cubeSize;     // D: the larger of 2W and 2H
  float magnetForce;  // k = -300 x "Magnet Force", never positive
  float stepMax;      // SM = "Step Max", 0 .. 1: per-axis speed limit in pixels per frame
};

// Generation size n for a "Num Particles" value v in 0 .. 1: trunc(2047 v + 1), 1 .. 2048.
int batchSizeFor(float numParticles);

// Seeds the field: n particles from "Num Particles", then the 256 magnets, each at three
// rand() draws reduced modulo trunc(D) and moved down by D / 2. Opacity 1, colour white,
// velocity -0.001 x position. Clearing the canvas is the caller's part of the reset.
void resetField(StainField& field, float numParticles, float cubeSize);

// The attraction of the magnets on a point, and how close the point lies to them as a
// whole. Magnets are added in index order.
struct MagnetSum {
  Vec3f force;      // F: add d x (k / dist^3) x 0.1 over the magnets, d = magnet - point
  float closeness;  // w: add (D - dist) x 0.002 over the magnets
};
MagnetSum sumMagnets(const Vec3f* magnets, int count, Vec3f point, float magnetForce,
                     float cubeSize);

// The same sums for four points at once; lane j's result has exactly the bytes of
// sumMagnets for point j (the same IEEE operations in the same order).
void sumMagnets4(const Vec3f* magnets, int count, const Vec3f points[4], float magnetForce,
                 float cubeSize, MagnetSum out[4]);

// Opacity from a closeness sum over `count` magnets: w / count, at most 1, at least 0.1.
float opacityFromCloseness(float closeness, int count);

// A spawned velocity component beyond the limit is halved once (first the test against
// +SM, then against -SM on the result); a moved one is clamped to -SM .. SM.
float halveBeyondLimit(float v, float stepMax);
float clampToLimit(float v, float stepMax);

// With c = fActiveCount and n = fBatchSize, when c + n <= fActiveLimit: derives particles
// c + n .. c + 2n - 1 from particles c .. c + n - 1 (each moved once by its new velocity,
// whose base is the velocity of particle c - n + i, or its own for the first spawn after
// a reset), then sets fActiveCount to c + n. The new generation itself stays inactive
// until the next spawn makes room for it.
void spawnGeneration(StainField& field, const MotionConstants& motion);

// Moves every active particle under the magnets and recomputes its opacity.
void moveParticles(StainField& field, const MotionConstants& motion);

}  // namespace stains
