// The two embedded cooling textures have the statistics their look depends on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

extern const uint8_t kCoolMapInferno1[256 * 256];
extern const uint8_t kCoolMapInferno2[256 * 256];

namespace {

constexpr int kSide = 256;
constexpr int kCount = kSide * kSide;

uint8_t at(const uint8_t* t, int x, int y) {
  return t[(y & 255) * kSide + (x & 255)];
}

double mean(const uint8_t* t) {
  double sum = 0;
  for (int i = 0; i < kCount; ++i) sum += t[i];
  return sum / kCount;
}

// Pearson correlation of samples `distance` apart, horizontally and vertically together,
// across the seams (the texture repeats).
double correlationAt(const uint8_t* t, int distance) {
  const double m = mean(t);
  double variance = 0, covariance = 0;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const double a = at(t, x, y) - m;
      variance += 2 * a * a;
      covariance += a * (at(t, x + distance, y) - m) + a * (at(t, x, y + distance) - m);
    }
  }
  return covariance / variance;
}

struct Figures {
  const char* name;
  const uint8_t* texture;
  int maxValue;
  double mean, deviation;
  double neighbourDiff, neighbourTolerance;  // mean |difference| of inner neighbours
  double seamDiff, seamTolerance;            // the same across row 255/0 and column 255/0
  double correlation[4];                     // at 1, 8, 16 and 32 pixels
  double zeroPercent, zeroTolerance;
  double topPercent, topTolerance;  // values 240 and above
};

const Figures kFigures[] = {
    {"QelInferno1",
     kCoolMapInferno1,
     248,
     123.4,
     60.3,
     10,
     1.5,
     8,
     2.5,
     {0.98, 0.67, 0.3, 0.0},
     1.6,
     0.3,
     0.6,
     0.2},
    {"QelInferno2",
     kCoolMapInferno2,
     255,
     122.6,
     74.5,
     46,
     3,
     47,
     4,
     {0.69, 0.42, 0.2, 0.0},
     4.8,
     0.5,
     5.7,
     0.5},
};

TEST(InfernoCoolMap, TexturesHaveTheirStatistics) {
  for (const Figures& f : kFigures) {
    SCOPED_TRACE(f.name);
    const uint8_t* t = f.texture;
    EXPECT_EQ(*std::min_element(t, t + kCount), 0);
    EXPECT_EQ(*std::max_element(t, t + kCount), f.maxValue);
    const double m = mean(t);
    double squares = 0;
    for (int i = 0; i < kCount; ++i) squares += (t[i] - m) * (t[i] - m);
    EXPECT_NEAR(m, f.mean, 1.5);
    EXPECT_NEAR(std::sqrt(squares / kCount), f.deviation, 1.5);

    double inner = 0, seam = 0;
    for (int a = 0; a < kSide; ++a) {
      for (int b = 0; b + 1 < kSide; ++b) {
        inner += std::abs(at(t, b, a) - at(t, b + 1, a)) + std::abs(at(t, a, b) - at(t, a, b + 1));
      }
      seam += std::abs(at(t, 255, a) - at(t, 0, a)) + std::abs(at(t, a, 255) - at(t, a, 0));
    }
    EXPECT_NEAR(inner / (2.0 * kSide * (kSide - 1)), f.neighbourDiff, f.neighbourTolerance);
    EXPECT_NEAR(seam / (2.0 * kSide), f.seamDiff, f.seamTolerance);

    const int distances[] = {1, 8, 16, 32};
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(correlationAt(t, distances[k]), f.correlation[k], k == 0 ? 0.02 : 0.05)
          << "at " << distances[k] << " pixels";
    }
    const double zeros = 100.0 * std::count(t, t + kCount, 0) / kCount;
    const double top =
        100.0 * std::count_if(t, t + kCount, [](uint8_t v) { return v >= 240; }) / kCount;
    EXPECT_NEAR(zeros, f.zeroPercent, f.zeroTolerance);
    EXPECT_NEAR(top, f.topPercent, f.topTolerance);
  }
}

TEST(InfernoCoolMap, TexturesAreUnrelated) {
  const double m1 = mean(kCoolMapInferno1), m2 = mean(kCoolMapInferno2);
  double v1 = 0, v2 = 0, covariance = 0;
  for (int i = 0; i < kCount; ++i) {
    const double a = kCoolMapInferno1[i] - m1, b = kCoolMapInferno2[i] - m2;
    v1 += a * a;
    v2 += b * b;
    covariance += a * b;
  }
  EXPECT_NEAR(covariance / std::sqrt(v1 * v2), 0.06, 0.05);
}

}  // namespace
