// The embedded brush has the shape the stamp is built around: the plateau, the samples
// through the centre, the outline of the painting cells and the radial profile.
#include "effects/stains/stain_brush.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

int cell(int row, int column) {
  return StainBrush[row * 128 + column];
}

TEST(StainBrush, PlateauAndSamplesThroughTheCentre) {
  for (int row = 61; row <= 65; ++row) {
    for (int column = 61; column <= 65; ++column)
      EXPECT_EQ(cell(row, column), 255) << row << "," << column;
  }
  const int kRow64[16] = {7, 14, 14, 37, 64, 91, 152, 241, 255, 224, 132, 82, 57, 30, 11, 12};
  const int kColumn64[16] = {6, 13, 11, 32, 60, 89, 152, 240, 255, 224, 134, 86, 60, 31, 11, 13};
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(cell(64, 8 * k), kRow64[k]) << "row 64, column " << 8 * k;
    EXPECT_EQ(cell(8 * k, 64), kColumn64[k]) << "column 64, row " << 8 * k;
  }
}

TEST(StainBrush, PaintingCellsFillExactlyTheirOutline) {
  int top = 128, bottom = -1, left = 128, right = -1;
  for (int row = 0; row < 128; ++row) {
    for (int column = 0; column < 128; ++column) {
      if (cell(row, column) <= 20) continue;
      top = std::min(top, row), bottom = std::max(bottom, row);
      left = std::min(left, column), right = std::max(right, column);
    }
  }
  EXPECT_EQ(top, 21);
  EXPECT_EQ(bottom, 106);
  EXPECT_EQ(left, 19);
  EXPECT_EQ(right, 107);
  // The three cells besides the centre that a dot of diameter 2 reads do not paint.
  EXPECT_LE(cell(0, 0), 20);
  EXPECT_LE(cell(0, 64), 20);
  EXPECT_LE(cell(64, 0), 20);
  EXPECT_EQ(cell(64, 64), 255);
}

// Rings of cells by their distance from the centre cell (63, 63), rounded to whole cells:
// the mean of each ring rounds to the listed value and its single cells span the listed
// range exactly.
TEST(StainBrush, RadialProfile) {
  struct Ring {
    int r, mean, lo, hi;
  };
  const Ring kProfile[] = {
      {0, 255, 255, 255},  {1, 255, 255, 255},  {2, 255, 255, 255},  {4, 253, 252, 254},
      {6, 246, 245, 248},  {8, 233, 228, 236},  {10, 212, 207, 216}, {12, 189, 184, 195},
      {14, 164, 157, 170}, {16, 141, 134, 148}, {18, 122, 116, 127}, {20, 108, 101, 113},
      {24, 87, 82, 92},    {28, 72, 68, 78},    {32, 60, 55, 65},    {36, 47, 41, 51},
      {40, 32, 27, 36},    {42, 25, 20, 28},    {44, 18, 14, 22},    {46, 13, 9, 17},
      {48, 9, 5, 13},      {70, 4, 0, 5},       {80, 1, 1, 2},
  };
  std::vector<std::vector<int>> rings(100);
  for (int row = 0; row < 128; ++row) {
    for (int column = 0; column < 128; ++column) {
      const int dy = row - 63, dx = column - 63;
      rings[std::lround(std::sqrt(double(dx * dx + dy * dy)))].push_back(cell(row, column));
    }
  }
  auto stats = [&](int r, double& mean, int& lo, int& hi) {
    const std::vector<int>& v = rings[r];
    long sum = 0;
    lo = 255, hi = 0;
    for (int x : v) sum += x, lo = std::min(lo, x), hi = std::max(hi, x);
    mean = double(sum) / v.size();
  };
  for (const Ring& ring : kProfile) {
    double mean;
    int lo, hi;
    stats(ring.r, mean, lo, hi);
    EXPECT_LT(std::fabs(mean - ring.mean), 0.5) << "r " << ring.r;
    EXPECT_EQ(lo, ring.lo) << "r " << ring.r;
    EXPECT_EQ(hi, ring.hi) << "r " << ring.r;
  }
  // 52 to 64: the faint halo, means 5 to 7, cells 0 to 15.
  int haloLo = 255, haloHi = 0;
  for (int r = 52; r <= 64; ++r) {
    double mean;
    int lo, hi;
    stats(r, mean, lo, hi);
    EXPECT_GE(mean, 5.0) << "r " << r;
    EXPECT_LE(mean, 7.0) << "r " << r;
    haloLo = std::min(haloLo, lo), haloHi = std::max(haloHi, hi);
  }
  EXPECT_EQ(haloLo, 0);
  EXPECT_EQ(haloHi, 15);
}

}  // namespace
