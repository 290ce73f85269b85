// Stains geometry: derived quantities, the rotation angles and their sine and cosine, and
// the projection onto the frame, against worked figures and double-precision references.
#include "effects/stains/stains_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace stains {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(StainsQuantities, BaseDiameterAt640x480) {
  struct Case {
    float dotScale;
    double want;  // W x D x (128 v + 16) / (384 x 1536) with W = 640, D = 1280
    double tolerance;
  };
  const Case kCases[] = {
      {0.0f, 22.2222, 1e-3},  // W x D / 36864
      {0.4f, 93.3333, 1e-3},  // the default
      {1.0f, 200.0, 1e-4},    // W x D / 4096
  };
  for (const Case& c : kCases) {
    const FrameQuantities q = deriveFrameQuantities(640, 480, c.dotScale);
    EXPECT_EQ(q.cubeSize, 1280.0f);
    EXPECT_EQ(q.half, 640.0f);
    EXPECT_NEAR(q.baseDiameter, c.want, c.tolerance) << "Dot Scale " << c.dotScale;
  }
}

TEST(StainsQuantities, CubeIsTwiceTheLongerSide) {
  struct Case {
    int width, height;
    float cube;
  };
  const Case kCases[] = {{640, 480, 1280},  {480, 640, 1280},  {1, 1, 2},
                         {32767, 1, 65534}, {1, 32767, 65534}, {1920, 1080, 3840}};
  for (const Case& c : kCases) {
    const FrameQuantities q = deriveFrameQuantities(c.width, c.height, 0.4f);
    EXPECT_EQ(q.cubeSize, c.cube) << c.width << "x" << c.height;
    EXPECT_EQ(q.half, c.cube / 2) << c.width << "x" << c.height;
  }
}

// Angle after one update from 0, as degrees, at the default rotation parameters: about
// +82.8 (X), -115.2 (Y, kept as 244.8) and +158.4 (Z) degrees.
TEST(StainsAngles, DefaultStepsPerFrame) {
  struct Case {
    float parameter;
    double stepDegrees;
  };
  const Case kCases[] = {{0.73f, 82.8}, {0.18f, -115.2}, {0.94f, 158.4}};
  for (const Case& c : kCases) {
    float angle = 0.0f;
    double expected = 0.0;
    for (int frame = 1; frame <= 40; ++frame) {
      angle = updateAngle(angle, c.parameter);
      expected = std::fmod(expected + c.stepDegrees + 360.0, 360.0);
      ASSERT_GE(angle, 0.0f);
      ASSERT_LE(angle, float(2 * kPi));
      // Accumulated in float32: a few millionths of a radian per frame.
      const double apart = std::fabs(angle * 180.0 / kPi - expected);
      ASSERT_LT(std::min(apart, 360.0 - apart), 1e-3 * frame)  // 0 and 360 are one angle
          << "parameter " << c.parameter << ", frame " << frame;
    }
  }
}

TEST(StainsAngles, HalfIsStillAndEndsTurnHalfATurn) {
  struct Case {
    float angle, parameter;
    double want;
  };
  const Case kCases[] = {
      {1.25f, 0.5f, 1.25},
      {0.0f, 0.5f, 0.0},
      {0.0f, 1.0f, kPi},
      {0.0f, 0.0f, kPi},  // -pi wraps to +pi
      {4.0f, 1.0f, 4.0 + kPi - 2 * kPi},
      {1.0f, 0.0f, 1.0 - kPi + 2 * kPi},
      {6.2f, 0.6f, 6.2 + 0.2 * kPi - 2 * kPi},
  };
  for (const Case& c : kCases) {
    EXPECT_NEAR(updateAngle(c.angle, c.parameter), c.want, 1e-6)
        << c.angle << " by " << c.parameter;
  }
}

TEST(StainsSinCos, CloseToTheExactValuesOverTheAngleRange) {
  double worst = 0;
  for (int i = -20000; i <= 20000; ++i) {
    const float a = float(i) * 0.00031415926f * 2.0f;  // -4 pi .. 4 pi
    float s, c;
    sinCosf(a, s, c);
    worst = std::max(worst, std::fabs(s - std::sin(double(a))));
    worst = std::max(worst, std::fabs(c - std::cos(double(a))));
  }
  EXPECT_LT(worst, 2e-7);
  const float kExact[][3] = {{0.0f, 0.0f, 1.0f}, {-0.0f, 0.0f, 1.0f}};
  for (const auto& e : kExact) {
    float s, c;
    sinCosf(e[0], s, c);
    EXPECT_EQ(s, e[1]);
    EXPECT_EQ(c, e[2]);
  }
  for (float huge : {1e30f, -1e30f, INFINITY, NAN}) {
    float s, c;
    sinCosf(huge, s, c);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(c, 1.0f);
  }
}

TEST(StainsProjection, UnturnedParticleLandsOnItsTruncatedPosition) {
  const Rotation still = rotationFor(0.0f, 0.0f, 0.0f);
  const FrameQuantities q = deriveFrameQuantities(64, 48, 0.4f);  // D 128, half 64
  struct Case {
    float x, y, z;
    bool visible;
    int sx, sy;
    float depthFactor;  // (z + half) / D, held to 0.01 .. 1
  };
  const Case kCases[] = {
      {0.0f, 0.0f, 0.0f, true, 32, 24, 0.5f},
      {-5.7f, 3.9f, 32.0f, true, 27, 27, 0.75f},    // truncation towards zero
      {-31.0f, -23.0f, -64.0f, true, 1, 1, 0.01f},  // first inner pixel, depth 0
      {30.9f, 22.9f, 100.0f, true, 62, 46, 1.0f},   // last inner pixel, depth held
      {-31.9f, 0.0f, 0.0f, true, 1, 24, 0.5f},      // trunc -31: column 1
      {-32.0f, 0.0f, 0.0f, false, 0, 0, 0.0f},      // column 0
      {-32.9f, 0.0f, 0.0f, false, 0, 0, 0.0f},
      {31.0f, 0.0f, 0.0f, false, 0, 0, 0.0f},   // column W - 1
      {0.0f, 23.0f, 0.0f, false, 0, 0, 0.0f},   // row H - 1
      {0.0f, -24.0f, 0.0f, false, 0, 0, 0.0f},  // row 0
      {3e9f, 0.0f, 0.0f, false, 0, 0, 0.0f},    // far beyond int32
      {0.0f, -1e38f, 0.0f, false, 0, 0, 0.0f},
  };
  for (const Case& c : kCases) {
    ScreenPoint at{-1, -1, -1.0f};
    EXPECT_EQ(projectParticle(c.x, c.y, c.z, still, 64, 48, q, at), c.visible)
        << c.x << ", " << c.y << ", " << c.z;
    if (!c.visible) continue;
    EXPECT_EQ(at.sx, c.sx);
    EXPECT_EQ(at.sy, c.sy);
    EXPECT_FLOAT_EQ(at.depthFactor, c.depthFactor);
  }
}

// The turns in their order (X, then Y, then Z), against a double-precision rotation of
// the same point.
TEST(StainsProjection, TurnsAboutXThenYThenZ) {
  const FrameQuantities q = deriveFrameQuantities(640, 480, 0.4f);
  const float kAngles[][3] = {{0.3f, 0.0f, 0.0f},
                              {0.0f, 1.1f, 0.0f},
                              {0.0f, 0.0f, 2.5f},
                              {1.4451f, 4.2726f, 2.7646f},
                              {5.9f, 3.3f, 0.7f}};
  const float kPoints[][3] = {
      {100.0f, -50.0f, 30.0f}, {-150.0f, 60.0f, -90.0f}, {7.0f, 9.0f, 11.0f}};
  for (const auto& a : kAngles) {
    const Rotation r = rotationFor(a[0], a[1], a[2]);
    const double sX = std::sin(double(a[0])), cX = std::cos(double(a[0]));
    const double sY = std::sin(double(a[1])), cY = std::cos(double(a[1]));
    const double sZ = std::sin(double(a[2])), cZ = std::cos(double(a[2]));
    for (const auto& p : kPoints) {
      const double x = p[0], y = p[1], z = p[2];
      const double y1 = cX * y - sX * z;
      const double z1 = y * sX + z * cX;
      const double x1 = sY * z1 + cY * x;
      const double depth = (z1 * cY + 640.0 - x * sY) / 1280.0;
      const double x2 = cZ * x1 - sZ * y1;
      const double y2 = x1 * sZ + y1 * cZ;
      ScreenPoint at;
      // Within 240 pixels of the centre: lands inside the 640 x 480 frame at any angle.
      ASSERT_TRUE(projectParticle(p[0], p[1], p[2], r, 640, 480, q, at));
      // The truncation can only differ where the exact value lies within float error of
      // an integer.
      if (std::fabs(x2 - std::round(x2)) > 1e-3) {
        EXPECT_EQ(at.sx, int(std::trunc(x2)) + 320);
      }
      if (std::fabs(y2 - std::round(y2)) > 1e-3) {
        EXPECT_EQ(at.sy, int(std::trunc(y2)) + 240);
      }
      EXPECT_NEAR(at.depthFactor, std::clamp(depth, 0.01, 1.0), 1e-5);
    }
  }
}

}  // namespace
}  // namespace stains
