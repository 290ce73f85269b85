// The Stains particle cloud: seeding, the magnet sums, the generations and the motion
// rules, against worked figures and independent reference computations.
#include "effects/stains/stains_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace stains {
namespace {

std::unique_ptr<StainField> freshField() {
  return std::make_unique<StainField>();
}

TEST(StainsField, GenerationSizeFromNumParticles) {
  struct Case {
    float numParticles;
    int n;
  };
  const Case kCases[] = {{0.0f, 1}, {0.3f, 615}, {1.0f, 2048}, {0.5f, 1024}, {0.0004f, 1}};
  for (const Case& c : kCases) {
    EXPECT_EQ(batchSizeFor(c.numParticles), c.n) << c.numParticles;
    auto field = freshField();
    resetField(*field, c.numParticles, 1280.0f);
    EXPECT_EQ(field->fBatchSize, c.n);
    EXPECT_EQ(field->fActiveLimit, 2 * c.n);  // the field grows to 2n particles
    EXPECT_EQ(field->fActiveCount, 0);
    EXPECT_EQ(field->fNumMagnets, 256);
    EXPECT_TRUE(field->fFieldReady);
  }
}

// The first draws of rand() from state 1 are 41, 18467, 6334, 26500, 19169, 15724, ...
// At 640 x 480 (D = 1280) each is reduced modulo 1280 and moved down by 640.
TEST(StainsField, ResetSeedsParticlesThenMagnetsFromRand) {
  auto field = freshField();
  resetField(*field, 0.0f, 1280.0f);  // n = 1: one particle, then the magnets
  const StainParticle& p = field->fStainParticles[0];
  EXPECT_EQ(p.x, -599.0f);  // 41
  EXPECT_EQ(p.y, -93.0f);   // 18467 = 14 x 1280 + 547
  EXPECT_EQ(p.z, 574.0f);   // 6334 = 4 x 1280 + 1214
  EXPECT_EQ(p.opacity, 1.0f);
  EXPECT_EQ(p.colour[0], 255);
  EXPECT_EQ(p.colour[1], 255);
  EXPECT_EQ(p.colour[2], 255);
  EXPECT_NEAR(field->fStainVelocities[0].x, 0.599, 1e-6);
  EXPECT_NEAR(field->fStainVelocities[0].y, 0.093, 1e-6);
  EXPECT_NEAR(field->fStainVelocities[0].z, -0.574, 1e-6);
  const Vec3f& m = field->fStainMagnets[0];
  EXPECT_EQ(m.x, 260.0f);   // 26500 = 20 x 1280 + 900
  EXPECT_EQ(m.y, 609.0f);   // 19169 = 14 x 1280 + 1249
  EXPECT_EQ(m.z, -276.0f);  // 15724 = 12 x 1280 + 364
}

// Every coordinate is a whole number from -half to half - 1; the generator runs on from
// reset to reset and is never reseeded.
TEST(StainsField, CoordinatesStayInTheCubeAndResetsDrawOn) {
  struct Case {
    float cube;
    float numParticles;
  };
  const Case kCases[] = {{2.0f, 1.0f}, {97.0f * 2, 0.3f}, {1280.0f, 1.0f}, {65534.0f, 0.7f}};
  uint32_t state = 1;  // an independent rand() for the expected coordinates
  auto draw = [&] {
    state = state * 214013u + 2531011u;
    return int((state >> 16) & 0x7FFF);
  };
  auto field = freshField();
  for (const Case& c : kCases) {
    resetField(*field, c.numParticles, c.cube);
    const int n = field->fBatchSize;
    const int modulus = int(c.cube);
    const float half = c.cube / 2;
    for (int i = 0; i < n; ++i) {
      const StainParticle& p = field->fStainParticles[i];
      for (float coordinate : {p.x, p.y, p.z}) {
        ASSERT_EQ(coordinate, float(draw() % modulus) - half) << "particle " << i;
        ASSERT_GE(coordinate, -half);
        ASSERT_LE(coordinate, half - 1);
      }
    }
    for (int m = 0; m < 256; ++m) {
      const Vec3f& q = field->fStainMagnets[m];
      for (float coordinate : {q.x, q.y, q.z}) {
        ASSERT_EQ(coordinate, float(draw() % modulus) - half) << "magnet " << m;
      }
    }
  }
}

TEST(StainsField, OpacityFromTheClosenessSum) {
  struct Case {
    float closeness;
    float opacity;
  };
  const Case kCases[] = {{0.0f, 0.1f},   {25.6f, 0.1f},    {-50.0f, 0.1f},
                         {128.0f, 0.5f}, {256.0f, 1.0f},   {1e9f, 1.0f},
                         {38.4f, 0.15f}, {INFINITY, 1.0f}, {-INFINITY, 0.1f}};
  for (const Case& c : kCases) {
    EXPECT_FLOAT_EQ(opacityFromCloseness(c.closeness, 256), c.opacity) << c.closeness;
  }
}

// Magnets all at one offset from the point: the sum is 256 equal terms.
TEST(StainsMagnets, WorkedSums) {
  struct Case {
    Vec3f offset;              // magnet - point
    float k;                   // -300 x "Magnet Force"
    Vec3f force;               // 256 x offset x (k / dist^3) x 0.1, dist at least 1
    float closenessPerMagnet;  // (D - dist) x 0.002 with D = 1280
  };
  const Case kCases[] = {
      {{2, 0, 0}, -150.0f, {-960.0f, 0, 0}, 2.556f},      // s = -150 / 8 x 0.1 = -1.875
      {{0, -4, 0}, -300.0f, {0, 480.0f, 0}, 2.552f},      // s = -300 / 64 x 0.1
      {{0.5f, 0, 0}, -150.0f, {-1920.0f, 0, 0}, 2.558f},  // within a pixel: dist 1
      {{0, 0, 0}, -150.0f, {0, 0, 0}, 2.558f},            // on the magnet
      {{3, 4, 0}, 0.0f, {0, 0, 0}, 2.55f},                // no force at all
  };
  for (const Case& c : kCases) {
    const Vec3f point = {-37.0f, 12.0f, 400.0f};
    Vec3f magnets[256];
    for (Vec3f& m : magnets) m = {point.x + c.offset.x, point.y + c.offset.y, point.z + c.offset.z};
    const MagnetSum sum = sumMagnets(magnets, 256, point, c.k, 1280.0f);
    EXPECT_FLOAT_EQ(sum.force.x, c.force.x);
    EXPECT_FLOAT_EQ(sum.force.y, c.force.y);
    EXPECT_FLOAT_EQ(sum.force.z, c.force.z);
    EXPECT_NEAR(sum.closeness, 256 * c.closenessPerMagnet, 0.02);
  }
}

// Scattered magnets: the float sums agree with a double-precision evaluation of the
// inverse-square attraction.
TEST(StainsMagnets, InverseSquareAttractionAgreesWithDoublePrecision) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> coordinate(-640.0f, 639.0f);
  for (int trial = 0; trial < 20; ++trial) {
    Vec3f magnets[256];
    for (Vec3f& m : magnets) m = {coordinate(random), coordinate(random), coordinate(random)};
    const Vec3f p = {coordinate(random), coordinate(random), coordinate(random)};
    const float k = -300.0f * (trial % 5) / 4.0f;
    double fx = 0, fy = 0, fz = 0, w = 0;
    for (const Vec3f& m : magnets) {
      const double dx = double(m.x) - p.x, dy = double(m.y) - p.y, dz = double(m.z) - p.z;
      const double dist = std::max(1.0, std::sqrt(dx * dx + dy * dy + dz * dz));
      const double s = k / (dist * dist * dist) * 0.1;
      fx += dx * s;
      fy += dy * s;
      fz += dz * s;
      w += (1280.0 - dist) * 0.002;
    }
    const MagnetSum sum = sumMagnets(magnets, 256, p, k, 1280.0f);
    const double scale = std::fabs(fx) + std::fabs(fy) + std::fabs(fz) + 1e-9;
    EXPECT_NEAR(sum.force.x, fx, 1e-4 * scale) << "trial " << trial;
    EXPECT_NEAR(sum.force.y, fy, 1e-4 * scale) << "trial " << trial;
    EXPECT_NEAR(sum.force.z, fz, 1e-4 * scale) << "trial " << trial;
    EXPECT_NEAR(sum.closeness, w, 1e-4 * std::fabs(w));
  }
}

// The four-lane sum gives each lane the exact bytes of the one-point sum, whatever the
// points: close to a magnet, on it, far out, non-finite.
TEST(StainsMagnets, FourLaneSumEqualsOnePointSumBitForBit) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> coordinate(-2000.0f, 2000.0f);
  Vec3f magnets[256];
  for (Vec3f& m : magnets) m = {coordinate(random), coordinate(random), coordinate(random)};
  std::vector<Vec3f> points;
  for (int i = 0; i < 64; ++i)
    points.push_back({coordinate(random), coordinate(random), coordinate(random)});
  points.push_back(magnets[3]);
  points.push_back({magnets[9].x + 0.25f, magnets[9].y, magnets[9].z - 0.5f});
  points.push_back({1e20f, -1e20f, 3.0f});
  points.push_back({1e-40f, 0.0f, -1e-39f});
  points.push_back({INFINITY, 0.0f, 0.0f});
  points.push_back({NAN, 1.0f, 2.0f});
  while (points.size() % 4) points.push_back({0.0f, 0.0f, 0.0f});
  for (float k : {-150.0f, 0.0f, -300.0f}) {
    for (size_t i = 0; i < points.size(); i += 4) {
      MagnetSum lanes[4];
      sumMagnets4(magnets, 256, &points[i], k, 3840.0f, lanes);
      for (int j = 0; j < 4; ++j) {
        const MagnetSum one = sumMagnets(magnets, 256, points[i + j], k, 3840.0f);
        EXPECT_EQ(std::memcmp(&one, &lanes[j], sizeof one), 0) << "point " << i + j << ", k " << k;
      }
    }
  }
}

TEST(StainsMotion, SpawnHalvesWhatMoveClamps) {
  struct Case {
    float v;  // base velocity component, no magnet force
    float stepMax;
    float spawned;  // halved once when beyond the limit
    float moved;    // clamped to the limit
  };
  const Case kCases[] = {
      {3.0f, 0.5f, 1.5f, 0.5f}, {-3.0f, 0.5f, -1.5f, -0.5f}, {0.7f, 0.5f, 0.35f, 0.5f},
      {1.2f, 0.5f, 0.6f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f},    {-0.5f, 0.5f, -0.5f, -0.5f},
      {0.2f, 0.5f, 0.2f, 0.2f}, {0.2f, 0.0f, 0.1f, 0.0f},    {-0.2f, 0.0f, -0.1f, 0.0f},
      {8.0f, 1.0f, 4.0f, 1.0f},
  };
  const int n = sizeof kCases / sizeof kCases[0];
  auto field = freshField();
  for (float stepMax : {0.5f, 0.0f, 1.0f}) {
    field->fBatchSize = n;
    field->fActiveLimit = 2 * n;
    field->fActiveCount = 0;
    for (int i = 0; i < n; ++i) {
      field->fStainParticles[i] = {10.0f * i, 1.0f, 2.0f, 1.0f, {255, 255, 255}};
      field->fStainVelocities[i] = {kCases[i].v, -kCases[i].v, 0.0f};
    }
    const MotionConstants motion = {1280.0f, 0.0f, stepMax};
    spawnGeneration(*field, motion);
    ASSERT_EQ(field->fActiveCount, n);
    for (int i = 0; i < n; ++i) {
      const Case& e = kCases[i];
      if (e.stepMax != stepMax) continue;
      const Vec3f& v = field->fStainVelocities[n + i];
      EXPECT_FLOAT_EQ(v.x, e.spawned) << "v " << e.v << ", SM " << e.stepMax;
      EXPECT_FLOAT_EQ(v.y, -e.spawned) << "v " << -e.v << ", SM " << e.stepMax;
      EXPECT_EQ(v.z, 0.0f);
      const StainParticle& child = field->fStainParticles[n + i];
      EXPECT_FLOAT_EQ(child.x, 10.0f * i + e.spawned);
      EXPECT_FLOAT_EQ(child.y, 1.0f - e.spawned);
    }
    moveParticles(*field, motion);
    for (int i = 0; i < n; ++i) {
      const Case& e = kCases[i];
      if (e.stepMax != stepMax) continue;
      EXPECT_FLOAT_EQ(field->fStainVelocities[i].x, e.moved) << "v " << e.v << ", SM " << e.stepMax;
      EXPECT_FLOAT_EQ(field->fStainVelocities[i].y, -e.moved)
          << "v " << -e.v << ", SM " << e.stepMax;
      EXPECT_FLOAT_EQ(field->fStainParticles[i].x, 10.0f * i + e.moved);
    }
  }
}

// n = 1 after a reset: run frame 1 spawns particle 1 from particle 0 (with particle 0's
// own velocity as base) and moves particle 0; run frame 2 spawns particle 2 from particle
// 1 with the velocity of particle 0 as base and moves particles 0 and 1; from run frame 3
// on nothing is spawned and particle 2 is never moved.
TEST(StainsMotion, GenerationsAfterAResetWithOneParticlePerGeneration) {
  auto field = freshField();
  resetField(*field, 0.0f, 1280.0f);
  ASSERT_EQ(field->fBatchSize, 1);
  field->fStainParticles[0].x = field->fStainParticles[0].y = field->fStainParticles[0].z = 0.0f;
  field->fStainVelocities[0] = {3.0f, 0.4f, -0.8f};
  const MotionConstants motion = {1280.0f, 0.0f, 0.5f};
  auto position = [&](int i) {
    const StainParticle& p = field->fStainParticles[i];
    return std::vector<float>{p.x, p.y, p.z};
  };
  auto near = [](std::vector<float> got, std::vector<float> want) {
    for (int a = 0; a < 3; ++a) {
      if (std::fabs(got[a] - want[a]) > 1e-6f) return false;
    }
    return true;
  };

  spawnGeneration(*field, motion);
  moveParticles(*field, motion);
  EXPECT_EQ(field->fActiveCount, 1);
  EXPECT_TRUE(
      near(position(1), {1.5f, 0.4f, -0.4f}));  // halved: (3, 0.4, -0.8) -> (1.5, 0.4, -0.4)
  EXPECT_TRUE(near(position(0), {0.5f, 0.4f, -0.5f}));  // clamped

  spawnGeneration(*field, motion);
  moveParticles(*field, motion);
  EXPECT_EQ(field->fActiveCount, 2);
  EXPECT_TRUE(near(position(2), {2.0f, 0.8f, -0.9f}));  // particle 1 + velocity of 0
  EXPECT_TRUE(near(position(0), {1.0f, 0.8f, -1.0f}));
  EXPECT_TRUE(near(position(1), {2.0f, 0.8f, -0.8f}));  // (1.5, 0.4, -0.4) clamped

  for (int frame = 3; frame <= 5; ++frame) {
    spawnGeneration(*field, motion);
    moveParticles(*field, motion);
    EXPECT_EQ(field->fActiveCount, 2);
    EXPECT_TRUE(near(position(2), {2.0f, 0.8f, -0.9f})) << "run frame " << frame;
  }
  EXPECT_EQ(field->fStainParticles[2].colour[0], 255);
}

// Spread over threads, the particles get the same bytes as on one thread.
TEST(StainsMotion, SameBytesForOneAndTwoThreads) {
#ifndef _OPENMP
  GTEST_SKIP() << "built without OpenMP";
#else
  for (float numParticles : {1.0f, 0.3f, 0.01f}) {
    std::vector<uint8_t> results[2];
    for (int threads : {1, 2}) {
      omp_set_num_threads(threads);
      auto field = freshField();
      resetField(*field, numParticles, 1280.0f);
      const MotionConstants motion = {1280.0f, -150.0f, 0.5f};
      for (int frame = 0; frame < 4; ++frame) {
        spawnGeneration(*field, motion);
        moveParticles(*field, motion);
      }
      const auto* bytes = reinterpret_cast<const uint8_t*>(field.get());
      results[threads - 1].assign(bytes, bytes + sizeof(StainField));
    }
    omp_set_num_threads(2);
    EXPECT_TRUE(results[0] == results[1]) << "Num Particles " << numParticles;
  }
#endif
}

}  // namespace
}  // namespace stains
