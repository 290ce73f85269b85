// The Inferno steps, linked directly: worked figures that pin each formula, and the
// optimised passes against their plain forms.
#include <gtest/gtest.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "effects/inferno/fire_palette.h"
#include "effects/inferno/fixed_point.h"
#include "effects/inferno/flame_field.h"
#include "effects/inferno/flow_composite.h"
#include "effects/inferno/inferno_controls.h"

namespace inferno {
namespace {

constexpr float kDefaults[kParamCount] = {0.75f, 0.75f, 0.5f,  0.6f,  0.54f, 0.95f, 0.2f,
                                          1.0f,  0.0f,  0.75f, 0.65f, 0.25f, 0.0f,  0.0f};

Controls controlsWith(int index, float value, uint32_t orientation = 1) {
  float values[kParamCount];
  std::copy(std::begin(kDefaults), std::end(kDefaults), values);
  values[index] = value;
  return deriveControls(values, orientation);
}

Controls defaultControls() {
  return deriveControls(kDefaults, 1);
}

// ---- Controls -----------------------------------------------------------------------------

TEST(InfernoControls, DefaultsGiveTheDocumentedControls) {
  const Controls c = defaultControls();
  EXPECT_EQ(c.brightness, 1536);
  EXPECT_EQ(c.keyLevel, 191);
  EXPECT_EQ(c.keyRange, 127);
  EXPECT_FALSE(c.lowWeights);
  EXPECT_EQ(c.igniteAmount, 153);
  EXPECT_EQ(c.igniteGain, 256);
  EXPECT_EQ(c.rise, 4);
  EXPECT_EQ(c.heatBlend, 243);
  EXPECT_EQ(c.coolBase, 12);
  EXPECT_EQ(c.fireBlend, 256);
  EXPECT_FALSE(c.bottomUp);
  EXPECT_EQ(c.scrollStep, 12);
  EXPECT_EQ(c.coolFactor, 100824);
  EXPECT_EQ(c.offsetStep, 4);
  EXPECT_FALSE(c.alphaWeighted);
}

TEST(InfernoControls, BlendPicksWeightSetAmountAndGain) {
  struct Case {
    float blend;
    bool low;
    int amount, gain;
  } cases[] = {
      {0.5f, false, 0, 256},           // b = 0: nothing ignites
      {1.0f, false, 256, 768},         // keys replace heat, tripled
      {0.0f, true, 256, 768},          // the same with the low weight set
      {2.0f / 3.0f, false, 256, 256},  // b = 256: full amount, no gain
      {0.4f, true, 153, 256},
  };
  for (const Case& k : cases) {
    const Controls c = controlsWith(kParamBlend, k.blend);
    EXPECT_EQ(c.lowWeights, k.low) << k.blend;
    EXPECT_EQ(c.igniteAmount, k.amount) << k.blend;
    EXPECT_EQ(c.igniteGain, k.gain) << k.blend;
  }
}

TEST(InfernoControls, CoolFactorIsBoundedNearZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float mul;
    int32_t factor;
  } cases[] = {
      {1.0f, 65536},
      {0.5f, 131072},
      {0.65f, 100824},
      {0.0f, kMaxCoolFactor},
      {nan, kMaxCoolFactor},
      {1e-9f, kMaxCoolFactor},
      {1e-40f, kMaxCoolFactor},
      {65536.0f / 67108864.0f, kMaxCoolFactor},
      {0.25f, 262144},
  };
  for (const Case& k : cases) {
    const Controls c = controlsWith(kParamCoolMapMul, k.mul);
    EXPECT_EQ(c.coolFactor, k.factor) << k.mul;
    // The product with the largest excess must stay a 32-bit value.
    EXPECT_LE(int64_t{31} * c.coolFactor, int64_t{INT32_MAX}) << k.mul;
  }
}

TEST(InfernoControls, SwitchesAndEdgeValues) {
  EXPECT_FALSE(controlsWith(kParamFlipFire, 0.5f).bottomUp);
  EXPECT_TRUE(controlsWith(kParamFlipFire, 0.51f).bottomUp);
  EXPECT_FALSE(controlsWith(kParamFlipFire, 0.51f, 2).bottomUp);
  EXPECT_TRUE(controlsWith(kParamFlipFire, 0.5f, 2).bottomUp);
  EXPECT_FALSE(controlsWith(kParamFlipFire, 0.0f, 0).bottomUp);  // only 2 means bottom-up
  EXPECT_TRUE(controlsWith(kParamFlipFire, 1.0f, 0).bottomUp);
  EXPECT_FALSE(controlsWith(kParamProcessAlpha, 0.5f).alphaWeighted);
  EXPECT_TRUE(controlsWith(kParamProcessAlpha, 0.5001f).alphaWeighted);
  EXPECT_EQ(controlsWith(kParamFireBlend, 0.999f).fireBlend, 255);
  EXPECT_EQ(controlsWith(kParamBurnSpeed, 0.124f).rise, 0);
  EXPECT_EQ(controlsWith(kParamBurnSpeed, 1.0f).rise, 8);
  EXPECT_EQ(controlsWith(kParamBrightness, std::numeric_limits<float>::quiet_NaN()).brightness, 0);
  EXPECT_EQ(controlsWith(kParamCoolMapSpeed, 1.0f).scrollStep, 16);
  // The unused parameter changes nothing.
  EXPECT_TRUE(controlsWith(kParamUnused, 0.0f) == controlsWith(kParamUnused, 1.0f));
}

// ---- Palette and cooling ------------------------------------------------------------------

TEST(InfernoPalette, ColoursAtDefaultBrightness) {
  const Controls c = defaultControls();
  BurnTables tables;
  std::vector<uint8_t> texture(256 * 256, 0);
  buildBurnTables(tables, texture.data(), 0, c);
  struct Row {
    int heat, blue, green, red, alpha;
  } rows[] = {{0, 0, 0, 0, 0},        {27, 0, 0, 0, 81},        {28, 0, 0, 6, 84},
              {100, 0, 66, 204, 255}, {175, 18, 240, 255, 255}, {255, 66, 255, 255, 255},
              {50, 0, 6, 30, 150}};
  for (const Row& r : rows) {
    EXPECT_EQ(tables.colors[r.heat][0], r.blue) << r.heat;
    EXPECT_EQ(tables.colors[r.heat][1], r.green) << r.heat;
    EXPECT_EQ(tables.colors[r.heat][2], r.red) << r.heat;
    EXPECT_EQ(tables.colors[r.heat][3], r.alpha) << r.heat;
  }
}

TEST(InfernoPalette, RampsRiseByAtMostOneFromZeroToTheirTops) {
  const Ramp* ramps[] = {&kFirePalette.blue, &kFirePalette.green, &kFirePalette.red};
  const int tops[] = {11, 60, 62};
  for (int k = 0; k < 3; ++k) {
    const Ramp& ramp = *ramps[k];
    EXPECT_EQ(ramp[0], 0);
    EXPECT_EQ(ramp[255], tops[k]);
    for (int h = 1; h < 256; ++h) EXPECT_LE(ramp[h] - ramp[h - 1] + 0u, 1u) << k << " " << h;
  }
  EXPECT_EQ(kFirePalette.blue[109], 0);
  EXPECT_EQ(kFirePalette.blue[110], 1);
  EXPECT_EQ(kFirePalette.red[27], 0);
  EXPECT_EQ(kFirePalette.red[174], 61);
  for (int h = 175; h < 256; ++h) EXPECT_EQ(kFirePalette.red[h], 62);
  EXPECT_EQ(kFirePalette.green[249], 59);
  EXPECT_EQ(kFirePalette.green[250], 60);
}

TEST(InfernoCooling, AmountsFromTextureSamples) {
  struct Case {
    int sample, offset, cooling;
  } cases[] = {{191, 0, 0}, {192, 0, 0}, {255, 0, 4}, {255, 192, 23}, {0, 0, 0}, {208, 0, 1}};
  for (const Case& k : cases) {
    EXPECT_EQ(coolingAmount(k.sample, k.offset, 12, 100824), k.cooling) << k.sample;
  }
  // The largest excess with the largest factor still fits: 31 x 2^26 >> 16 = 31744.
  EXPECT_EQ(coolingAmount(255, 255, 0, kMaxCoolFactor), 31744);
}

TEST(InfernoCooling, TablesCapCoolingAndRepeatTheFirstColumns) {
  std::vector<uint8_t> texture(256 * 256);
  for (size_t i = 0; i < texture.size(); ++i) texture[i] = static_cast<uint8_t>(i * 7 + i / 256);
  Controls c = controlsWith(kParamCoolMapMul, 0.0f);  // huge cooling: capped at 255
  c.coolBase = 0;
  BurnTables tables;
  buildBurnTables(tables, texture.data(), 200, c);
  for (int t = 0; t < 256; ++t) {
    for (int x = 0; x < kCoolingStride; ++x) {
      const int32_t amount = coolingAmount(texture[t * 256 + x % 256], 200, 0, c.coolFactor);
      ASSERT_EQ(tables.cooling[t][x], std::min<int32_t>(amount, 255)) << t << " " << x;
    }
  }
}

TEST(InfernoCooling, OffsetAndScrollSequences) {
  int32_t scroll = 0, offset = 0;
  const int expectedOffsets[] = {16,  32,  48,  64,  80,  96,  112, 128, 144, 160,
                                 176, 192, 208, 224, 240, 192, 208, 224, 240, 192};
  for (int expected : expectedOffsets) {
    advanceCoolingTexture(scroll, offset, 0, 16);
    EXPECT_EQ(offset, expected);
  }
  EXPECT_EQ(scroll, 0);
  const int expectedScrolls[] = {244, 232, 220, 208, 196, 184, 172, 160, 148, 136, 124,
                                 112, 100, 88,  76,  64,  52,  40,  28,  16,  4,   248};
  for (int expected : expectedScrolls) {
    advanceCoolingTexture(scroll, offset, 12, 0);
    EXPECT_EQ(scroll, expected);
  }
  EXPECT_EQ(offset, 192);
}

// ---- Ignition -----------------------------------------------------------------------------

TEST(InfernoIgnition, WorkedKeysAndHeats) {
  struct Case {
    const char* what;
    int bytesPerPixel;
    uint8_t pixel[4];
    int index;  // parameter changed from the defaults
    float value;
    int heatBefore, heatAfter;
  } cases[] = {
      // White 24-bit pixel: key (9 + 50 + 25) x 255 >> 8 = 83, inside 191 +- 127; heat
      // 0 + floor(83 x 153 / 256) = 49.
      {"white 24-bit", 3, {255, 255, 255, 0}, kParamUnused, 0, 0, 49},
      // From heat 200 the heat falls: 200 + floor(-117 x 153 / 256) = 200 - 70 = 130.
      {"white 24-bit over heat", 3, {255, 255, 255, 0}, kParamUnused, 0, 200, 130},
      // Black: key 0 lies outside the band.
      {"black", 3, {0, 0, 0, 0}, kParamUnused, 0, 77, 77},
      // "Blend" 0.5: amount 0.
      {"no amount", 3, {255, 255, 255, 0}, kParamBlend, 0.5f, 10, 10},
      // "Range" 0: no key passes.
      {"no range", 3, {255, 255, 255, 0}, kParamRange, 0.0f, 10, 10},
      // 32-bit white, high set: key (74 + 401 + 204) x 255 >> 8 = 676, outside 191 +- 127.
      {"white 32-bit", 4, {255, 255, 255, 255}, kParamUnused, 0, 5, 5},
      // Grey 100 in 32 bits: key 679 x 100 >> 8 = 265, |265 - 191| = 74 < 127; heat
      // 0 + floor(265 x 153 / 256) = 158.
      {"grey 32-bit", 4, {100, 100, 100, 0}, kParamUnused, 0, 0, 158},
      // The same pixel weighted by alpha 128: 67900 x 128 >> 16 = 132; floor(132 x 153 /
      // 256) = 78.
      {"alpha weighted", 4, {100, 100, 100, 128}, kParamProcessAlpha, 1.0f, 0, 78},
      // "Blend" 1.0: amount 256, gain 768: key 83 -> 83 x 768 >> 8 = 249 replaces the heat.
      {"tripled", 3, {255, 255, 255, 0}, kParamBlend, 1.0f, 3, 249},
  };
  for (const Case& k : cases) {
    const Controls c = controlsWith(k.index, k.value);
    uint8_t heat = static_cast<uint8_t>(k.heatBefore);
    igniteRow(k.pixel, &heat, 1, k.bytesPerPixel, c);
    EXPECT_EQ(heat, k.heatAfter) << k.what;
  }
}

TEST(InfernoIgnition, KeyAbove255WrapsModulo256) {
  float values[kParamCount];
  std::copy(std::begin(kDefaults), std::end(kDefaults), values);
  values[kParamColValue] = 1.0f;      // key level 255
  values[kParamRange] = 1.0f;         // key range 255
  values[kParamBlend] = 2.0f / 3.0f;  // b = 256: amount 256, gain 256
  const Controls c = deriveControls(values, 1);
  // High 32-bit set: 401 x 255 + 204 x 1 = 102459, key 102459 >> 8 = 400.
  const uint8_t pixel[4] = {0, 255, 1, 0};
  uint8_t heat = 100;
  igniteRow(pixel, &heat, 1, 4, c);
  EXPECT_EQ(heat, 400 % 256);
}

TEST(InfernoIgnition, BandTestIsStrict) {
  // Key 83 (white, 24-bit) against level 191: passes with range 109, not with range 108.
  Controls c = defaultControls();
  const uint8_t white[3] = {255, 255, 255};
  c.keyRange = 108;
  uint8_t heat = 0;
  igniteRow(white, &heat, 1, 3, c);
  EXPECT_EQ(heat, 0);
  c.keyRange = 109;
  igniteRow(white, &heat, 1, 3, c);
  EXPECT_EQ(heat, 49);
}

TEST(InfernoIgnition, RowMatchesItsDefinition) {
  // Random pixels over random heat, for controls around every branch: both weight sets,
  // gain on and off, alpha weighting, narrow and wide bands, amounts 0..256.
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const int p = trial % 2 ? 4 : 3;
    const int count = static_cast<int>(rng() % 70);
    Controls c = defaultControls();
    c.keyLevel = static_cast<int>(rng() % 256);
    c.keyRange = trial % 7 == 0 ? 255 : static_cast<int>(rng() % 256);
    c.lowWeights = rng() % 2;
    c.igniteAmount = trial % 5 == 0 ? 256 : static_cast<int>(rng() % 257);
    c.igniteGain = trial % 3 == 0 ? 256 + static_cast<int>(rng() % 513) : 256;
    if (c.igniteGain > 256) c.igniteAmount = 256;
    c.alphaWeighted = trial % 4 == 1;
    std::vector<uint8_t> pixels(count * p), heat(count);
    for (auto& v : pixels) v = static_cast<uint8_t>(rng());
    for (auto& v : heat) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> expected = heat;
    igniteRowReference(pixels.data(), expected.data(), count, p, c);
    igniteRow(pixels.data(), heat.data(), count, p, c);
    ASSERT_EQ(heat, expected) << "trial " << trial << ", " << count << " pixels of " << p;
  }
}

// ---- Burn ---------------------------------------------------------------------------------

constexpr uint8_t kSentinel = 0xA7;

struct BurnField {
  int width, height, bytesPerPixel;
  std::vector<uint8_t> heat, next, colors;
  BurnField(int w, int h, int p)
      : width(w),
        height(h),
        bytesPerPixel(p),
        heat(w * h, 0),
        next(w * h, kSentinel),
        colors(w * h * p, kSentinel) {}
};

// No cooling at all: base 64 puts every excess below 0.
Controls noCooling() {
  Controls c = defaultControls();
  c.coolBase = 64;
  return c;
}

TEST(InfernoBurn, SingleCellSpreadsToItsNeighboursAndRises) {
  struct Case {
    bool bottomUp;
    int cellsAt[4][2];   // (x, y) that must hold 50
    int writtenRows[2];  // first and last destination row
  } cases[] = {
      {true, {{3, 5}, {5, 5}, {4, 6}, {4, 4}}, {2, 7}},
      {false, {{3, 3}, {5, 3}, {4, 2}, {4, 4}}, {1, 6}},
  };
  for (const Case& k : cases) {
    BurnField f(9, 9, 4);
    f.heat[4 * 9 + 4] = 200;
    const Controls c = noCooling();
    BurnTables tables;
    std::vector<uint8_t> texture(256 * 256, 255);
    buildBurnTables(tables, texture.data(), 0, c);
    burn(f.heat.data(), f.next.data(), f.colors.data(), 9, 9, 4, 1, k.bottomUp, 0, tables);
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 9; ++x) {
        const bool written = y >= k.writtenRows[0] && y <= k.writtenRows[1] && x >= 1 && x <= 7;
        bool hot = false;
        for (const auto& cell : k.cellsAt) hot |= cell[0] == x && cell[1] == y;
        const int expected = !written ? kSentinel : hot ? 50 : 0;
        EXPECT_EQ(f.next[y * 9 + x], expected) << k.bottomUp << " x " << x << " y " << y;
        // Heat 50 at brightness 1536: blue 0, green 1 x 6, red 5 x 6, alpha 50 x 768 >> 8.
        const uint8_t* color = &f.colors[(y * 9 + x) * 4];
        if (!written) {
          EXPECT_EQ(color[0], kSentinel);
          EXPECT_EQ(color[3], kSentinel);
        } else if (hot) {
          EXPECT_EQ(color[0], 0);
          EXPECT_EQ(color[1], 6);
          EXPECT_EQ(color[2], 30);
          EXPECT_EQ(color[3], 150);
        }
      }
    }
  }
}

TEST(InfernoBurn, TooSmallFramesAreLeftAlone) {
  struct Case {
    int width, height, rise;
  } cases[] = {{20, 10, 8}, {2, 20, 1}, {1, 20, 0}, {20, 2, 0}, {20, 3, 1}, {3, 3, 0}};
  for (const Case& k : cases) {
    for (int p : {3, 4}) {
      BurnField f(k.width, k.height, p);
      std::fill(f.heat.begin(), f.heat.end(), 200);
      BurnTables tables;
      std::vector<uint8_t> texture(256 * 256, 0);
      buildBurnTables(tables, texture.data(), 0, noCooling());
      burn(f.heat.data(), f.next.data(), f.colors.data(), k.width, k.height, p, k.rise, true, 0,
           tables);
      const bool runs = k.width >= 3 && k.height - k.rise - 2 >= 1;
      const bool untouched =
          std::all_of(f.next.begin(), f.next.end(), [](uint8_t v) { return v == kSentinel; }) &&
          std::all_of(f.colors.begin(), f.colors.end(), [](uint8_t v) { return v == kSentinel; });
      EXPECT_EQ(untouched, !runs) << k.width << "x" << k.height << " rise " << k.rise;
    }
  }
}

TEST(InfernoBurn, TextureRowFollowsScrollAndOrientation) {
  // A texture whose rows are hot (full cooling) except row `cold`: only the destination
  // row that reads texture row `cold` keeps heat.
  const int width = 8, height = 12, rise = 2, scroll = 250;
  for (bool bottomUp : {true, false}) {
    for (int r = 1; r <= height - rise - 2; ++r) {
      const int cold = bottomUp ? 255 - ((scroll + r) % 256) : (scroll + r) % 256;
      std::vector<uint8_t> texture(256 * 256, 255);
      std::fill(texture.begin() + cold * 256, texture.begin() + cold * 256 + 256, 0);
      Controls c = defaultControls();
      c.coolBase = 0;
      c.coolFactor = kMaxCoolFactor;
      BurnTables tables;
      buildBurnTables(tables, texture.data(), 0, c);
      BurnField f(width, height, 3);
      std::fill(f.heat.begin(), f.heat.end(), 100);
      burn(f.heat.data(), f.next.data(), f.colors.data(), width, height, 3, rise, bottomUp, scroll,
           tables);
      const int destination = bottomUp ? r + rise : height - 1 - r - rise;
      for (int y = 0; y < height; ++y) {
        const uint8_t v = f.next[y * width + 3];
        if (y == destination) {
          EXPECT_EQ(v, 100) << bottomUp << " r " << r;
        } else {
          EXPECT_TRUE(v == 0 || v == kSentinel) << bottomUp << " r " << r << " y " << y;
        }
      }
    }
  }
}

TEST(InfernoBurn, RowMatchesItsDefinition) {
  std::mt19937 rng(7);
  std::vector<uint8_t> texture(256 * 256);
  for (auto& v : texture) v = static_cast<uint8_t>(rng());
  const int widths[] = {1, 2, 3, 4, 15, 16, 17, 18, 19, 33, 100, 255, 256, 257, 258, 300, 530};
  for (int width : widths) {
    for (int p : {3, 4}) {
      for (int trial = 0; trial < 6; ++trial) {
        Controls c = defaultControls();
        c.brightness = trial == 0 ? 2048 : static_cast<int>(rng() % 2049);
        c.coolBase = trial == 1 ? 0 : static_cast<int>(rng() % 65);
        c.coolFactor = trial == 2 ? kMaxCoolFactor : 1 + static_cast<int32_t>(rng() % 300000);
        const int offset = static_cast<int>(rng() % 256);
        const int t = static_cast<int>(rng() % 256);
        BurnTables tables;
        buildBurnTables(tables, texture.data(), offset, c);
        std::vector<uint8_t> rows(3 * width);
        for (auto& v : rows) v = trial == 3 ? 255 : static_cast<uint8_t>(rng());
        std::vector<uint8_t> nextA(width, kSentinel), nextB(width, kSentinel);
        std::vector<uint8_t> colorA(width * p, kSentinel), colorB(width * p, kSentinel);
        burnRowReference(rows.data(), rows.data() + width, rows.data() + 2 * width,
                         texture.data() + t * 256, offset, c.coolBase, c.coolFactor, c.brightness,
                         nextA.data(), colorA.data(), width, p);
        burnRow(rows.data(), rows.data() + width, rows.data() + 2 * width, tables.cooling[t],
                tables, nextB.data(), colorB.data(), width, p);
        ASSERT_EQ(nextA, nextB) << "width " << width << " p " << p << " trial " << trial;
        ASSERT_EQ(colorA, colorB) << "width " << width << " p " << p << " trial " << trial;
      }
    }
  }
}

// ---- Fire-map blend -----------------------------------------------------------------------

TEST(InfernoHeatBlend, WorkedFigures) {
  struct Case {
    int heat, next, factor, result;
  } cases[] = {{100, 0, 243, 5}, {0, 100, 243, 94}, {100, 0, 256, 0}, {37, 200, 256, 200},
               {100, 0, 0, 100}, {255, 0, 1, 254},  {0, 255, 1, 0}};
  for (const Case& k : cases) {
    uint8_t heat = static_cast<uint8_t>(k.heat);
    const uint8_t next = static_cast<uint8_t>(k.next);
    blendHeatRow(&heat, &next, 1, k.factor);
    EXPECT_EQ(heat, k.result) << k.heat << " -> " << k.next << " by " << k.factor;
  }
}

TEST(InfernoHeatBlend, EveryPairMatchesTheDefinition) {
  // All 65536 (heat, next) pairs in one row (odd length for the tail), for edge factors.
  std::vector<uint8_t> heat(65536 + 7), next(65536 + 7);
  for (size_t i = 0; i < heat.size(); ++i) {
    heat[i] = static_cast<uint8_t>(i & 255);
    next[i] = static_cast<uint8_t>((i >> 8) & 255);
  }
  for (int factor : {0, 1, 2, 127, 128, 243, 255, 256}) {
    std::vector<uint8_t> a = heat, b = heat;
    blendHeatRowReference(a.data(), next.data(), static_cast<int>(a.size()), factor);
    blendHeatRow(b.data(), next.data(), static_cast<int>(b.size()), factor);
    ASSERT_EQ(a, b) << "factor " << factor;
  }
}

// ---- Flow ---------------------------------------------------------------------------------

TEST(InfernoFlow, RuntimeRandomIsTheClassicSequence) {
  RuntimeRandom random;
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : expected) EXPECT_EQ(random.next(), value);
}

TEST(InfernoFlow, RandomFlowValues) {
  struct Case {
    int r;
    int32_t value;
  } cases[] = {{0, -1048576}, {1023, -1048576}, {1024, -983040}, {16383, -65536},
               {16384, 0},    {32766, 983040},  {32767, 1048576}};
  for (const Case& k : cases) EXPECT_EQ(randomFlowValue(k.r), k.value) << k.r;
}

TEST(InfernoFlow, GridsFillRowByRowDxThenDy) {
  RuntimeRandom random;
  FlowGrid grid;
  fillRandomFlowGrid(grid, random);
  // Draws 41, 18467, 6334, 26500: 0, 18, 6 and 25 whole pixels less 16.
  EXPECT_EQ(grid[0].dx, -16 * 65536);
  EXPECT_EQ(grid[0].dy, 2 * 65536);
  EXPECT_EQ(grid[1].dx, -10 * 65536);
  EXPECT_EQ(grid[1].dy, 9 * 65536);
  for (const FlowVector& v : grid) {
    EXPECT_EQ(v.dx % 65536, 0);
    EXPECT_EQ(v.dy % 65536, 0);
    EXPECT_LE(std::abs(v.dx), 1048576);
    EXPECT_LE(std::abs(v.dy), 1048576);
  }
}

TEST(InfernoFlow, EasingFloorsTowardsTheTarget) {
  int32_t v = 0;
  v = easeComponent(v, 1048576);
  EXPECT_EQ(v, 65536);
  v = easeComponent(v, 1048576);
  EXPECT_EQ(v, 126976);
  // From below it stops short; from above it arrives.
  EXPECT_EQ(easeComponent(0, 15), 0);
  EXPECT_EQ(easeComponent(16, 0), 15);
  EXPECT_EQ(easeComponent(1, 0), 0);
  int32_t down = 1048576;
  for (int i = 0; i < 400; ++i) down = easeComponent(down, -1048576);
  EXPECT_EQ(down, -1048576);
}

TEST(InfernoFlow, TargetRegeneratesEveryFourthFrame) {
  RuntimeRandom random, mirror;
  FlowGrid map{}, target{};
  int32_t counter = 0;
  for (int frame = 1; frame <= 12; ++frame) {
    const FlowGrid before = target;
    updateFlow(map, target, counter, random);
    const bool regenerated = frame % 4 == 0;
    EXPECT_EQ(counter, frame % 4);
    if (regenerated) {
      FlowGrid expected;
      fillRandomFlowGrid(expected, mirror);
      for (size_t i = 0; i < target.size(); ++i) {
        ASSERT_EQ(target[i].dx, expected[i].dx) << frame;
        ASSERT_EQ(target[i].dy, expected[i].dy) << frame;
      }
    } else {
      EXPECT_EQ(std::memcmp(&before, &target, sizeof target), 0) << frame;
    }
  }
}

// ---- Composite ----------------------------------------------------------------------------

struct CompositeImages {
  int width, height, p;
  std::vector<uint8_t> input, output, fire;
  FlowGrid flow{};
  CompositeImages(int w, int h, int bytesPerPixel, uint32_t seed)
      : width(w),
        height(h),
        p(bytesPerPixel),
        input(w * h * bytesPerPixel),
        output(w * h * bytesPerPixel, kSentinel),
        fire(w * h * bytesPerPixel) {
    std::mt19937 rng(seed);
    for (auto& v : input) v = static_cast<uint8_t>(rng());
    for (auto& v : fire) v = static_cast<uint8_t>(rng());
  }
  CompositeFrame frame(bool bottomUp, int fireBlend) {
    return {input.data(), output.data(), fire.data(), width, height, p, bottomUp, fireBlend, &flow};
  }
  const uint8_t* firePixel(int x, int y) const { return &fire[(y * width + x) * p]; }
  const uint8_t* outPixel(int x, int y) const { return &output[(y * width + x) * p]; }
};

TEST(InfernoComposite, ZeroFlowSamplesTheSamePixelInsideTheBorder) {
  for (bool bottomUp : {true, false}) {
    CompositeImages im(70, 40, 4, 1);
    composite(im.frame(bottomUp, 256));
    for (int y = 0; y < im.height; ++y) {
      for (int x = 0; x < im.width; ++x) {
        const int sx = std::clamp(x, 1, im.width - 2), sy = std::clamp(y, 1, im.height - 2);
        ASSERT_EQ(std::memcmp(im.outPixel(x, y), im.firePixel(sx, sy), 4), 0)
            << bottomUp << " " << x << "," << y;
      }
    }
  }
}

TEST(InfernoComposite, SixteenPixelsRightSamplesFurtherRight) {
  for (bool bottomUp : {true, false}) {
    CompositeImages im(90, 50, 3, 2);
    for (FlowVector& v : im.flow) v = {1048576, 0};
    composite(im.frame(bottomUp, 256));
    for (int v = 1; v < im.height - 1; ++v) {
      for (int u = 0; u < im.width; ++u) {
        // Grid position (u, v) maps to memory (u, v) or (W-1-u, H-1-v); so does its sample.
        const int su = std::min(u + 16, im.width - 2);
        const int x = bottomUp ? u : im.width - 1 - u, y = bottomUp ? v : im.height - 1 - v;
        const int sx = bottomUp ? su : im.width - 1 - su;
        ASSERT_EQ(std::memcmp(im.outPixel(x, y), im.firePixel(sx, y), 3), 0)
            << bottomUp << " " << u << "," << v;
      }
    }
  }
}

TEST(InfernoComposite, MixExamples) {
  struct Case {
    uint8_t fire[4], input[4];
    int fireBlend;
    uint8_t out[4];
  } cases[] = {
      {{0, 0, 0, 0}, {200, 100, 50, 10}, 128, {100, 50, 25, 5}},
      {{255, 255, 255, 255}, {0, 0, 0, 0}, 0, {254, 254, 254, 254}},
      {{9, 8, 7, 6}, {200, 100, 50, 10}, 256, {9, 8, 7, 6}},
      // t = (30 + 60 + 90) div 3 = 60: m = I + floor((F - I) 60 / 256), then fb 64.
      {{30, 60, 90, 120}, {200, 0, 90, 255}, 64, {127, 25, 90, 197}},
  };
  for (const Case& k : cases) {
    // A 3 x 3 frame with zero flow: its centre samples the centre.
    CompositeImages im(3, 3, 4, 3);
    std::memcpy(&im.fire[4 * 4], k.fire, 4);
    std::memcpy(&im.input[4 * 4], k.input, 4);
    composite(im.frame(true, k.fireBlend));
    EXPECT_EQ(std::memcmp(im.outPixel(1, 1), k.out, 4), 0)
        << int(im.outPixel(1, 1)[0]) << " " << int(im.outPixel(1, 1)[1]) << " "
        << int(im.outPixel(1, 1)[2]) << " " << int(im.outPixel(1, 1)[3]);
  }
}

TEST(InfernoComposite, MixRunMatchesItsDefinition) {
  std::mt19937 rng(21);
  const int counts[] = {0, 1, 3, 4, 5, 7, 8, 9, 31, 32};
  for (int count : counts) {
    for (int p : {3, 4}) {
      for (int fireBlend : {0, 1, 128, 255}) {
        std::vector<uint8_t> input(count * p), fire(count * p);
        for (auto& v : input) v = static_cast<uint8_t>(rng());
        for (auto& v : fire) v = static_cast<uint8_t>(rng());
        if (count > 1) std::fill(fire.begin(), fire.begin() + p, 255);  // t = 255
        std::vector<uint8_t> expected(count * p, kSentinel), out(count * p, kSentinel);
        mixRunReference(input.data(), fire.data(), expected.data(), count, p, fireBlend);
        mixRun(input.data(), fire.data(), out.data(), count, p, fireBlend);
        ASSERT_EQ(out, expected) << count << " pixels of " << p << ", fb " << fireBlend;
        mixRun(input.data(), fire.data(), input.data(), count, p, fireBlend);  // in place
        ASSERT_EQ(input, expected) << "in place, " << count << " pixels of " << p;
      }
    }
  }
}

TEST(InfernoComposite, TopDownGridStartsAtTheLastPixel) {
  CompositeImages im(40, 30, 4, 4);
  for (FlowVector& v : im.flow) v = {3 * 65536, 2 * 65536};
  composite(im.frame(false, 256));
  // Grid (0, 0) is memory pixel W*H - 1 and samples grid (3, 2), memory pixel
  // W*H - 1 - (2W + 3).
  const int last = im.width * im.height - 1;
  EXPECT_EQ(std::memcmp(&im.output[last * 4], &im.fire[(last - (2 * im.width + 3)) * 4], 4), 0);
}

void expectCompositeMatchesReference(int width, int height, int p, bool bottomUp, int fireBlend,
                                     uint32_t seed) {
  CompositeImages a(width, height, p, seed);
  std::mt19937 rng(seed);
  for (FlowVector& v : a.flow) {
    v.dx = static_cast<int32_t>(rng() % 2097153) - 1048576;
    v.dy = static_cast<int32_t>(rng() % 2097153) - 1048576;
  }
  CompositeImages b = a;
  compositeReference(a.frame(bottomUp, fireBlend));
  composite(b.frame(bottomUp, fireBlend));
  ASSERT_EQ(a.output, b.output) << width << "x" << height << " p " << p << " bottomUp " << bottomUp
                                << " fb " << fireBlend;
  // The same with the output in the input's memory.
  CompositeImages c = b;
  c.output = c.input;
  CompositeFrame inPlace = c.frame(bottomUp, fireBlend);
  inPlace.output = c.input.data();
  composite(inPlace);
  ASSERT_EQ(c.input, b.output) << "in place " << width << "x" << height;
}

TEST(InfernoComposite, MatchesReferenceForSizesOrientationsAndBlends) {
  struct Size {
    int width, height;
  } sizes[] = {
      {1, 1},   {1, 3},   {2, 2},   {3, 1},     {3, 3},     {2, 40},   {40, 2}, {31, 33},
      {32, 32}, {64, 33}, {97, 65}, {1100, 40}, {40, 1060}, {32767, 3}};  // wide enough for 16.16
                                                                          // corners past 2^31 when
                                                                          // taken absolutely
  uint32_t seed = 10;
  for (const Size& s : sizes) {
    for (int p : {3, 4}) {
      for (bool bottomUp : {true, false}) {
        for (int fb : {0, 100, 255, 256}) {
          expectCompositeMatchesReference(s.width, s.height, p, bottomUp, fb, ++seed);
        }
      }
    }
  }
}

#ifdef _OPENMP
TEST(InfernoThreads, BurnAndCompositeAreTheSameOnOneAndTwoThreads) {
  const int width = 333, height = 251;
  std::mt19937 rng(99);
  std::vector<uint8_t> texture(256 * 256);
  for (auto& v : texture) v = static_cast<uint8_t>(rng());
  BurnTables tables;
  buildBurnTables(tables, texture.data(), 37, defaultControls());
  std::vector<uint8_t> results[2];
  for (int threads : {1, 2}) {
    omp_set_num_threads(threads);
    BurnField f(width, height, 4);
    std::mt19937 fill(5);
    for (auto& v : f.heat) v = static_cast<uint8_t>(fill());
    burn(f.heat.data(), f.next.data(), f.colors.data(), width, height, 4, 3, false, 17, tables);
    CompositeImages im(width, height, 4, 6);
    im.fire = f.colors;
    for (FlowVector& v : im.flow) v = {static_cast<int32_t>(fill() % 2000000) - 1000000, 77777};
    composite(im.frame(false, 200));
    results[threads - 1] = f.next;
    results[threads - 1].insert(results[threads - 1].end(), im.output.begin(), im.output.end());
  }
  omp_set_num_threads(1);
  EXPECT_EQ(results[0], results[1]);
}
#endif

}  // namespace
}  // namespace inferno
