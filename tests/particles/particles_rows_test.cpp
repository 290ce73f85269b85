// The trail fade and the colour keep: fast rows against the plain ones, and the figures
// that pin the formulas down.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "effects/particles/particle_rows.h"

namespace particles {
namespace {

using Pixel = std::array<int, 3>;

std::vector<uint8_t> randomRow(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> row(bytes);
  for (auto& b : row) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  // Extremes that the rescale and the shifts must survive.
  if (bytes >= 8) {
    for (size_t i = 0; i < 4; ++i) row[i] = 255;
    for (size_t i = 4; i < 8; ++i) row[i] = 0;
  }
  return row;
}

template <int Bpp>
void expectFadeRowsAgree(int width, int trailFactor) {
  const std::vector<uint8_t> start =
      randomRow(static_cast<size_t>(width) * Bpp, width * 31 + trailFactor);
  std::vector<uint8_t> fast = start, plain = start;
  fadeTrailRow<Bpp>(fast.data(), width, trailFactor);
  fadeTrailRowReference<Bpp>(plain.data(), width, trailFactor);
  ASSERT_EQ(fast, plain) << "bpp " << Bpp << " width " << width << " factor " << trailFactor;
  if (Bpp == 4) {
    for (int x = 0; x < width; ++x) ASSERT_EQ(fast[x * 4 + 3], start[x * 4 + 3]);
  }
}

template <int Bpp>
void expectKeepRowsAgree(int width, int keepFactor) {
  const std::vector<uint8_t> trail =
      randomRow(static_cast<size_t>(width) * Bpp, width * 17 + keepFactor);
  std::vector<uint8_t> fast(trail.size(), 0xEE), plain(trail.size(), 0x11);
  colorKeepRow<Bpp>(trail.data(), fast.data(), width, keepFactor, trail.data());
  colorKeepRowReference<Bpp>(trail.data(), plain.data(), width, keepFactor);
  ASSERT_EQ(fast, plain) << "bpp " << Bpp << " width " << width << " factor " << keepFactor;
}

const int kWidths[] = {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 63, 64, 65, 257};

TEST(ParticlesRows, FastFadeEqualsPlainFadeForEveryFactor) {
  for (int width : kWidths) {
    for (int factor = 1; factor <= 512; ++factor) {
      expectFadeRowsAgree<3>(width, factor);
      expectFadeRowsAgree<4>(width, factor);
    }
  }
}

TEST(ParticlesRows, FastKeepEqualsPlainKeepForEveryFactor) {
  for (int width : kWidths) {
    for (int factor = 0; factor <= 256; ++factor) {
      expectKeepRowsAgree<3>(width, factor);
      expectKeepRowsAgree<4>(width, factor);
    }
  }
}

// Every pair of channel values (a, b) for every factor, so that every (channel, largest
// channel) pair that the rescale can meet is met, with the largest in each position.
TEST(ParticlesRows, FastKeepEqualsPlainKeepForEveryChannelPair) {
  const int width = 256 * 256;
  for (int bpp : {3, 4}) {
    std::vector<uint8_t> trail(static_cast<size_t>(width) * bpp);
    for (int p = 0; p < width; ++p) {
      const uint8_t values[3] = {static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p), 0};
      for (int k = 0; k < 3; ++k) trail[p * bpp + k] = values[(k + p) % 3];
      if (bpp == 4) trail[p * 4 + 3] = static_cast<uint8_t>(p * 13);
    }
    std::vector<uint8_t> fast(trail.size()), plain(trail.size());
    for (int factor = 1; factor <= 256; ++factor) {
      if (bpp == 4) {
        colorKeepRow<4>(trail.data(), fast.data(), width, factor, trail.data());
        colorKeepRowReference<4>(trail.data(), plain.data(), width, factor);
      } else {
        colorKeepRow<3>(trail.data(), fast.data(), width, factor, trail.data());
        colorKeepRowReference<3>(trail.data(), plain.data(), width, factor);
      }
      ASSERT_EQ(fast, plain) << "bpp " << bpp << " factor " << factor;
    }
  }
}

Pixel fadeOnce(Pixel p, int trailFactor) {
  uint8_t row[4] = {uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2]), 99};
  fadeTrailRow<4>(row, 1, trailFactor);
  EXPECT_EQ(row[3], 99);
  return {row[0], row[1], row[2]};
}

Pixel keepOnce(Pixel p, int keepFactor) {
  const uint8_t trail[3] = {uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
  uint8_t fx[3] = {};
  colorKeepRow<3>(trail, fx, 1, keepFactor, trail);
  return {fx[0], fx[1], fx[2]};
}

TEST(ParticlesRows, TrailFadeFigures) {
  struct Case {
    Pixel in;
    int factor;
    Pixel want;
  };
  const Case kCases[] = {
      {{100, 50, 25}, 512, {200, 100, 50}},   // Trail Strength 1 doubles
      {{200, 100, 50}, 512, {255, 127, 63}},  // 400, 200, 100 scaled by 255 / 400
      {{0, 0, 0}, 512, {0, 0, 0}},            // black stays black
      {{255, 1, 128}, 256, {255, 1, 128}},    // Trail Strength 0.5 keeps the trail
      {{255, 128, 1}, 250, {249, 125, 0}},    // the default 250 / 256, rounded down
      {{255, 255, 255}, 257, {255, 255, 255}},
      {{255, 0, 10}, 300, {255, 0, 9}},  // 298, 0, 11 scaled by 255 / 298
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(fadeOnce(c.in, c.factor), c.want) << "factor " << c.factor;
  }
}

TEST(ParticlesRows, DefaultTrailTakes103FramesFrom255ToBlack) {
  Pixel p = {255, 255, 255};
  int frames = 0;
  while (p[0] != 0 && frames < 1000) {
    p = fadeOnce(p, 250);
    ++frames;
  }
  EXPECT_EQ(frames, 103);
}

TEST(ParticlesRows, ColorKeepFigures) {
  struct Case {
    Pixel in;
    int factor;
    Pixel want;
  };
  const Case kCases[] = {
      {{100, 50, 200}, 0, {100, 50, 200}},     // Color Keep 0: an exact copy
      {{100, 50, 120}, 256, {200, 100, 240}},  // Color Keep 1 doubles
      {{100, 50, 200}, 256, {127, 63, 255}},   // 200, 100, 400 scaled by 255 / 400
      {{0, 0, 0}, 256, {0, 0, 0}},
      {{200, 100, 10}, 48, {237, 118, 11}},    // the default 48 / 256
      {{250, 250, 250}, 48, {255, 255, 255}},  // 296 each -> 255 each
      {{255, 0, 128}, 76, {255, 0, 128}},      // 330, 0, 166 -> 255, 0, 128
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(keepOnce(c.in, c.factor), c.want) << "factor " << c.factor;
  }
}

}  // namespace
}  // namespace particles
