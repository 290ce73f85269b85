#include "effects/stains/stains_field.h"

#include <algorithm>
#include <cmath>

#include "shell/float_mode.h"

#if defined(__SSE2__) && !defined(QEL_NO_SIMD)
#include <emmintrin.h>
#define QEL_STAINS_SSE2 1
#endif

namespace stains {

namespace {

// Below this many particles a motion step stays on the calling thread.
constexpr int kParallelParticles = 256;

constexpr float kSeedVelocityScale = 0.001f;  // seeded velocity = -0.001 x position
constexpr float kForceScale = 0.1f;           // s = (k / dist^3) x 0.1
constexpr float kClosenessScale = 0.002f;     // w += (D - dist) x 0.002
constexpr float kMinOpacity = 0.1f;
constexpr int kWhite = 255;

// Calls apply(i, sum) for i = 0 .. count - 1 with the magnet sum of points(i), spread
// over OpenMP threads in contiguous blocks of four-point groups. apply(i, ...) may write
// only what belongs to index i, and points(i) must not read it.
template <typename Points, typename Apply>
void forEachMagnetSum(const StainField& field, int count, float magnetForce, float cubeSize,
                      Points points, Apply apply) {
  const int groups = (count + 3) / 4;
#pragma omp parallel if (count >= kParallelParticles)
  {
    ScopedFlushDenormals floatMode;
#pragma omp for schedule(static)
    for (int g = 0; g < groups; ++g) {
      const int first = g * 4;
      const int lanes = std::min(4, count - first);
      Vec3f group[4];
      for (int j = 0; j < 4; ++j) group[j] = points(first + std::min(j, lanes - 1));
      MagnetSum sums[4];
      sumMagnets4(field.fStainMagnets, field.fNumMagnets, group, magnetForce, cubeSize, sums);
      for (int j = 0; j < lanes; ++j) apply(first + j, sums[j]);
    }
  }
}

}  // namespace

int batchSizeFor(float numParticles) {
  // 0 .. 1 maps to 1.0 .. 2048.0 before truncation; anything else (never after the frame
  // clamp) is held to the same range rather than converted out of range.
  const float n = 2047.0f * numParticles + 1.0f;
  if (!(n >= 1.0f)) return 1;
  if (n >= float(kMaxBatchSize)) return kMaxBatchSize;
  return static_cast<int>(n);
}

void resetField(StainField& field, float numParticles, float cubeSize) {
  field.fFieldReady = true;
  field.fActiveCount = 0;
  const int n = batchSizeFor(numParticles);
  field.fBatchSize = n;
  field.fActiveLimit = 2 * n > kParticleCapacity ? kParticleCapacity : std::max(n, 2 * n);
  field.fNumMagnets = kMagnetCount;
  const float half = cubeSize * 0.5f;
  // D is 2..65534 for every accepted frame, so its truncation is exact and positive.
  const int modulus = std::max(1, static_cast<int>(cubeSize));
  auto coordinate = [&] { return float(field.random.next() % modulus) - half; };
  for (int i = 0; i < n; ++i) {
    StainParticle& p = field.fStainParticles[i];
    p.x = coordinate();
    p.y = coordinate();
    p.z = coordinate();
    p.opacity = 1.0f;
    p.colour[0] = p.colour[1] = p.colour[2] = kWhite;
    field.fStainVelocities[i] = {-(p.x * kSeedVelocityScale), -(p.y * kSeedVelocityScale),
                                 -(p.z * kSeedVelocityScale)};
  }
  for (int m = 0; m < kMagnetCount; ++m) {
    Vec3f& q = field.fStainMagnets[m];
    q.x = coordinate();
    q.y = coordinate();
    q.z = coordinate();
  }
}

MagnetSum sumMagnets(const Vec3f* magnets, int count, Vec3f point, float magnetForce,
                     float cubeSize) {
  MagnetSum sum = {{0.0f, 0.0f, 0.0f}, 0.0f};
  for (int m = 0; m < count; ++m) {
    const float dx = magnets[m].x - point.x;
    const float dy = magnets[m].y - point.y;
    const float dz = magnets[m].z - point.z;
    float dist = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (dist < 1.0f) dist = 1.0f;  // no closer than one pixel
    const float s = (magnetForce / (dist * dist * dist)) * kForceScale;
    sum.force.x = sum.force.x + dx * s;
    sum.force.y = sum.force.y + dy * s;
    sum.force.z = sum.force.z + dz * s;
    sum.closeness = sum.closeness + (cubeSize - dist) * kClosenessScale;
  }
  return sum;
}

#ifdef QEL_STAINS_SSE2
void sumMagnets4(const Vec3f* magnets, int count, const Vec3f points[4], float magnetForce,
                 float cubeSize, MagnetSum out[4]) {
  const __m128 px = _mm_setr_ps(points[0].x, points[1].x, points[2].x, points[3].x);
  const __m128 py = _mm_setr_ps(points[0].y, points[1].y, points[2].y, points[3].y);
  const __m128 pz = _mm_setr_ps(points[0].z, points[1].z, points[2].z, points[3].z);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 k = _mm_set1_ps(magnetForce);
  const __m128 forceScale = _mm_set1_ps(kForceScale);
  const __m128 cube = _mm_set1_ps(cubeSize);
  const __m128 closenessScale = _mm_set1_ps(kClosenessScale);
  __m128 fx = _mm_setzero_ps(), fy = _mm_setzero_ps(), fz = _mm_setzero_ps();
  __m128 w = _mm_setzero_ps();
  for (int m = 0; m < count; ++m) {
    const __m128 dx = _mm_sub_ps(_mm_set1_ps(magnets[m].x), px);
    const __m128 dy = _mm_sub_ps(_mm_set1_ps(magnets[m].y), py);
    const __m128 dz = _mm_sub_ps(_mm_set1_ps(magnets[m].z), pz);
    const __m128 squared =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
    // max(1, dist) answers `1 > dist ? 1 : dist`, the scalar test, NaN included.
    const __m128 dist = _mm_max_ps(one, _mm_sqrt_ps(squared));
    const __m128 s =
        _mm_mul_ps(_mm_div_ps(k, _mm_mul_ps(_mm_mul_ps(dist, dist), dist)), forceScale);
    fx = _mm_add_ps(fx, _mm_mul_ps(dx, s));
    fy = _mm_add_ps(fy, _mm_mul_ps(dy, s));
    fz = _mm_add_ps(fz, _mm_mul_ps(dz, s));
    w = _mm_add_ps(w, _mm_mul_ps(_mm_sub_ps(cube, dist), closenessScale));
  }
  alignas(16) float lanes[4][4];
  _mm_store_ps(lanes[0], fx);
  _mm_store_ps(lanes[1], fy);
  _mm_store_ps(lanes[2], fz);
  _mm_store_ps(lanes[3], w);
  for (int j = 0; j < 4; ++j) out[j] = {{lanes[0][j], lanes[1][j], lanes[2][j]}, lanes[3][j]};
}
#else
void sumMagnets4(const Vec3f* magnets, int count, const Vec3f points[4], float magnetForce,
                 float cubeSize, MagnetSum out[4]) {
  for (int j = 0; j < 4; ++j) out[j] = sumMagnets(magnets, count, points[j], magnetForce, cubeSize);
}
#endif

float opacityFromCloseness(float closeness, int count) {
  float o = closeness / float(count);
  if (o > 1.0f) o = 1.0f;
  if (o < kMinOpacity) o = kMinOpacity;
  return o;
}

float halveBeyondLimit(float v, float stepMax) {
  if (v > stepMax) v = v * 0.5f;
  if (v < -stepMax) v = v * 0.5f;
  return v;
}

float clampToLimit(float v, float stepMax) {
  if (v > stepMax) v = stepMax;
  if (v < -stepMax) v = -stepMax;
  return v;
}

void spawnGeneration(StainField& field, const MotionConstants& motion) {
  const int c = field.fActiveCount;
  const int n = field.fBatchSize;
  if (n <= 0 || c + n > field.fActiveLimit) return;
  // Particles c + n .. c + 2n - 1 lie within the store: the limit is at most 2n (or the
  // capacity), so c + 2n <= 3n <= 6144.
  StainParticle* particles = field.fStainParticles;
  Vec3f* velocities = field.fStainVelocities;
  const float sm = motion.stepMax;
  const int count = field.fNumMagnets;
  forEachMagnetSum(
      field, n, motion.magnetForce, motion.cubeSize,
      [&](int i) {
        const StainParticle& p = particles[c + i];
        return Vec3f{p.x, p.y, p.z};
      },
      [&](int i, const MagnetSum& sum) {
        const StainParticle& parent = particles[c + i];
        // The first spawn after a reset has no generation before the seeded one: each
        // seeded particle's own velocity stands in.
        const Vec3f& base = velocities[c >= n ? c - n + i : c + i];
        const Vec3f v = {halveBeyondLimit(base.x - sum.force.x, sm),
                         halveBeyondLimit(base.y - sum.force.y, sm),
                         halveBeyondLimit(base.z - sum.force.z, sm)};
        velocities[c + n + i] = v;
        StainParticle& child = particles[c + n + i];
        child.x = parent.x + v.x;
        child.y = parent.y + v.y;
        child.z = parent.z + v.z;
        child.opacity = opacityFromCloseness(sum.closeness, count);
        child.colour[0] = child.colour[1] = child.colour[2] = kWhite;
      });
  field.fActiveCount = c + n;
}

void moveParticles(StainField& field, const MotionConstants& motion) {
  StainParticle* particles = field.fStainParticles;
  Vec3f* velocities = field.fStainVelocities;
  const float sm = motion.stepMax;
  const int count = field.fNumMagnets;
  forEachMagnetSum(
      field, field.fActiveCount, motion.magnetForce, motion.cubeSize,
      [&](int i) {
        const StainParticle& p = particles[i];
        return Vec3f{p.x, p.y, p.z};
      },
      [&](int i, const MagnetSum& sum) {
        Vec3f& v = velocities[i];
        v.x = clampToLimit(v.x - sum.force.x, sm);
        v.y = clampToLimit(v.y - sum.force.y, sm);
        v.z = clampToLimit(v.z - sum.force.z, sm);
        StainParticle& p = particles[i];
        p.x = p.x + v.x;
        p.y = p.y + v.y;
        p.z = p.z + v.z;
        p.opacity = opacityFromCloseness(sum.closeness, count);
      });
}

}  // namespace stains
