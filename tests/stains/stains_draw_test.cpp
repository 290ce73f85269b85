// Stains dot drawing: the colour pull, the stamp of a dot (the clipped, banded form
// against the plain walk), the smallest dot, and the frame hand-over.
#include "effects/stains/stains_draw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "effects/stains/stain_brush.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace stains {
namespace {

std::vector<uint8_t> noiseCanvas(int width, int height, int bpp, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> canvas(size_t(width) * height * bpp);
  for (uint8_t& b : canvas) b = uint8_t(random());
  return canvas;
}

DotJob dotAt(int sx, int sy, int diameter, float scale, uint8_t b0, uint8_t b1, uint8_t b2) {
  return {sx, sy, diameter, 8388608 / diameter, diameter >> 1, scale, {b0, b1, b2}};
}

StainParticle whiteParticleAt(float x, float y, float z, float opacity = 1.0f) {
  return {x, y, z, opacity, {255, 255, 255}};
}

// Colour byte k is pulled towards input byte k: Colorize Speed 1 gives exactly the input,
// 0 keeps the colour, 0.5 goes half way (truncated).
TEST(StainsColour, PullsEachByteTowardsTheSameInputByte) {
  struct Case {
    float speed;
    int want[3];  // colour for pixel bytes 0, 1, 2 from white over input (10, 100, 200)
  };
  const Case kCases[] = {{1.0f, {10, 100, 200}},
                         {0.0f, {255, 255, 255}},
                         {0.5f, {132, 177, 227}},  // 255 - 122.5, 255 - 77.5, 255 - 27.5
                         {0.25f, {193, 216, 241}}};
  const uint8_t input[3] = {10, 100, 200};
  for (const Case& c : kCases) {
    StainParticle p = whiteParticleAt(0, 0, 0);
    colourise(p, input, c.speed);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(colourForByte(p, k), c.want[k]) << "byte " << k << ", speed " << c.speed;
  }
}

// A dot of diameter 2 reads brush cells (0, 0), (0, 64), (64, 0) and (64, 64); only the
// last paints, with weight trunc(235 x scale), and only the centre pixel changes.
TEST(StainsStamp, DiameterTwoPaintsOnlyItsCentre) {
  struct Case {
    float scale;
    uint8_t colour[3];
    uint8_t want[3];  // over a canvas pixel (10, 20, 200)
  };
  const Case kCases[] = {
      {1.0f, {200, 100, 50}, {184, 93, 62}},    // weight 235: 10 + (190 x 235 >> 8), ...
      {0.5f, {200, 100, 50}, {96, 56, 131}},    // weight 117; -17550 >> 8 = -69
      {1.0f, {0, 20, 100}, {0, 20, 108}},       // downwards the shift floors: -23500 >> 8 = -92
      {0.02f, {255, 255, 255}, {13, 23, 200}},  // weight 4: 980 >> 8 = 3, 220 >> 8 = 0
  };
  for (int bpp : {3, 4}) {
    for (const Case& c : kCases) {
      const int width = 5, height = 5;
      std::vector<uint8_t> canvas(width * height * bpp);
      for (size_t i = 0; i < canvas.size(); i += bpp) {
        canvas[i] = 10, canvas[i + 1] = 20, canvas[i + 2] = 200;
        if (bpp == 4) canvas[i + 3] = 77;
      }
      std::vector<uint8_t> expected = canvas;
      const size_t centre = (2 * width + 2) * bpp;
      for (int k = 0; k < 3; ++k) expected[centre + k] = c.want[k];
      const DotJob dot = dotAt(2, 2, 2, c.scale, c.colour[0], c.colour[1], c.colour[2]);
      std::vector<uint8_t> reference = canvas;
      stampDotReference(reference.data(), width, height, bpp, dot, StainBrush);
      EXPECT_EQ(reference, expected) << "scale " << c.scale << ", " << bpp << " bytes";
      std::vector<uint8_t> fast = canvas;
      paintDotRows(fast.data(), width, bpp, dot, 0, height, StainBrush,
                   computeBrushSpans(StainBrush));
      EXPECT_EQ(fast, expected) << "scale " << c.scale << ", " << bpp << " bytes";
    }
  }
}

// The clipped walk, whole or in bands of rows, paints the same bytes as the plain walk:
// dots inside, across every border, larger than the frame, centred off the frame, and
// rows wider than one weighted piece (1024 pixels).
TEST(StainsStamp, ClippedAndBandedStampEqualsThePlainWalk) {
  const BrushSpans spans = computeBrushSpans(StainBrush);
  struct Frame {
    int width, height;
    std::vector<int> diameters;
    std::vector<std::pair<int, int>> centres;
  };
  const Frame kFrames[] = {
      {97,
       61,
       {2, 3, 4, 5, 15, 16, 17, 63, 64, 127, 128, 129, 255, 301, 1001},
       {{48, 30},
        {1, 1},
        {95, 59},
        {1, 30},
        {95, 30},
        {48, 1},
        {48, 59},
        {0, 0},
        {-40, 20},
        {130, 70},
        {20, -200}}},
      {2600, 9, {1500, 2049, 2999, 5000}, {{1300, 4}, {1, 1}, {2598, 7}, {900, 2}}},
  };
  const float kScales[] = {1.0f, 0.55f, 0.05f, 0.0043f};
  const int kBandRows[] = {1, 7, 32};
  for (const Frame& f : kFrames) {
    for (int bpp : {3, 4}) {
      const std::vector<uint8_t> canvas = noiseCanvas(f.width, f.height, bpp, 5);
      int variant = 0;
      for (int d : f.diameters) {
        for (const auto& [sx, sy] : f.centres) {
          const float scale = kScales[variant++ % 4];
          const DotJob dot = dotAt(sx, sy, d, scale, 250, 3, 128);
          std::vector<uint8_t> reference = canvas;
          stampDotReference(reference.data(), f.width, f.height, bpp, dot, StainBrush);
          std::vector<uint8_t> whole = canvas;
          paintDotRows(whole.data(), f.width, bpp, dot, 0, f.height, StainBrush, spans);
          ASSERT_TRUE(whole == reference) << "d " << d << " at " << sx << "," << sy << ", " << bpp;
          for (int rows : kBandRows) {
            std::vector<uint8_t> banded = canvas;
            for (int y = 0; y < f.height; y += rows) {
              paintDotRows(banded.data(), f.width, bpp, dot, y, std::min(f.height, y + rows),
                           StainBrush, spans);
            }
            ASSERT_TRUE(banded == reference) << "d " << d << " in bands of " << rows;
          }
        }
      }
    }
  }
}

// A sizeable dot really paints (the comparisons above are not vacuous), and the brush
// walk is lopsided by one pixel: r columns to the left of the centre, r - 1 to the right.
TEST(StainsStamp, DotExtentIsLopsidedByOnePixel) {
  const int width = 200, height = 200, d = 128;  // one brush cell per pixel
  std::vector<uint8_t> canvas(width * height * 3, 0);
  stampDotReference(canvas.data(), width, height, 3, dotAt(100, 100, d, 1.0f, 255, 255, 255),
                    StainBrush);
  int left = width, right = -1, top = height, bottom = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (canvas[(y * width + x) * 3] == 0) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  // Cells above 20 fill brush rows 21..106 and columns 19..107; pixel = centre - 64 + cell.
  EXPECT_EQ(left, 100 - 64 + 19);
  EXPECT_EQ(right, 100 - 64 + 107);
  EXPECT_EQ(top, 100 - 64 + 21);
  EXPECT_EQ(bottom, 100 - 64 + 106);
}

// Projection, colour pull and stamp together on a small frame: Dot Scale 0 at 64 x 48
// gives B = 0.22, so every dot has the smallest diameter, 2.
TEST(StainsDots, SmallestDotTakesTheInputColourAtItsCentre) {
  const int width = 64, height = 48;
  const FrameQuantities q = deriveFrameQuantities(width, height, 0.0f);
  const Rotation still = rotationFor(0, 0, 0);
  for (int bpp : {3, 4}) {
    std::vector<uint8_t> input(width * height * bpp, 0);
    uint8_t* under = &input[(24 * width + 32) * bpp];  // where (0, 0, z) lands
    under[0] = 10, under[1] = 100, under[2] = 200;
    uint8_t* underFaint = &input[(29 * width + 37) * bpp];  // where (5, 5, z) lands
    underFaint[0] = 255, underFaint[1] = 128, underFaint[2] = 0;
    StainParticle particles[3] = {
        whiteParticleAt(0.0f, 0.0f, 64.0f),    // depth factor 1: scale 1
        whiteParticleAt(-32.0f, 0.0f, 0.0f),   // lands on column 0: skipped
        whiteParticleAt(5.0f, 5.0f, -62.72f),  // depth 0.01: weight trunc(235 x 0.01) = 2
    };
    DotJob jobs[3];
    const int dots =
        collectDots(particles, 3, still, q, 1.0f, input.data(), width, height, bpp, jobs);
    ASSERT_EQ(dots, 2);
    EXPECT_EQ(jobs[0].diameter, 2);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(colourForByte(particles[0], k), under[k]);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(colourForByte(particles[1], k), 255);  // kept
    std::vector<uint8_t> canvas(input.size(), 0), output(input.size(), 0xEE);
    paintDotsAndHandOver(jobs, dots, canvas.data(), output.data(), width, height, bpp, StainBrush,
                         computeBrushSpans(StainBrush));
    EXPECT_EQ(output, canvas);
    std::vector<uint8_t> expected(input.size(), 0);
    uint8_t* centre = &expected[(24 * width + 32) * bpp];
    centre[0] = 9, centre[1] = 91, centre[2] = 183;  // byte k: (input k x 235) >> 8
    uint8_t* faint = &expected[(29 * width + 37) * bpp];
    faint[0] = 1, faint[1] = 1, faint[2] = 0;  // weight 2: (255 x 2) >> 8, (128 x 2) >> 8
    EXPECT_EQ(canvas, expected);
  }
}

// A visible particle too faint for any cell to paint (weight trunc(235 x scale) = 0) still
// takes on the input colour but paints nothing.
TEST(StainsDots, FaintParticleIsColourisedButPaintsNothing) {
  const int width = 64, height = 48;
  const FrameQuantities q = deriveFrameQuantities(width, height, 1.0f);
  std::vector<uint8_t> input(width * height * 3, 90);
  StainParticle p = whiteParticleAt(0.0f, 0.0f, -63.0f, 0.1f);  // scale 0.1 x 0.01
  DotJob job;
  EXPECT_EQ(collectDots(&p, 1, rotationFor(0, 0, 0), q, 0.5f, input.data(), width, height, 3, &job),
            0);
  EXPECT_EQ(colourForByte(p, 0), 172);  // 255 - 82.5, truncated
}

// Many overlapping dots over the whole frame: the banded, threaded painting equals the
// plain walks in particle order, and the output is the canvas.
TEST(StainsDots, PaintingAllDotsEqualsThePlainWalksInOrder) {
  const BrushSpans spans = computeBrushSpans(StainBrush);
  std::mt19937 random(3);
  const int width = 331, height = 211;  // large enough to be painted over threads
  for (int bpp : {3, 4}) {
    std::vector<DotJob> jobs;
    for (int i = 0; i < 300; ++i) {
      const int d = 2 + int(random() % 260);
      jobs.push_back(dotAt(1 + int(random() % (width - 2)), 1 + int(random() % (height - 2)), d,
                           float(random() % 1000) / 999.0f, uint8_t(random()), uint8_t(random()),
                           uint8_t(random())));
    }
    const std::vector<uint8_t> start = noiseCanvas(width, height, bpp, 9);
    std::vector<uint8_t> reference = start;
    for (const DotJob& dot : jobs)
      stampDotReference(reference.data(), width, height, bpp, dot, StainBrush);
    for (int threads : {1, 2}) {
#ifdef _OPENMP
      omp_set_num_threads(threads);
#endif
      std::vector<uint8_t> canvas = start, output(start.size(), 0);
      paintDotsAndHandOver(jobs.data(), int(jobs.size()), canvas.data(), output.data(), width,
                           height, bpp, StainBrush, spans);
      EXPECT_TRUE(canvas == reference) << threads << " threads, " << bpp << " bytes";
      EXPECT_TRUE(output == canvas) << threads << " threads, " << bpp << " bytes";
    }
  }
}

}  // namespace
}  // namespace stains
