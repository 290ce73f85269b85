// Stains dot drawing: colourising a projected particle from the input under it, and
// stamping its soft dot onto the persistent canvas. Dots are painted in particle order,
// later ones blending over earlier ones; to use several threads the canvas is split into
// bands of rows, each band painted with every dot's rows inside it in that same order,
// which gives the same bytes as one thread.
#pragma once

#include <cstdint>

#include "effects/stains/stain_brush.h"
#include "effects/stains/stains_field.h"
#include "effects/stains/stains_geometry.h"

namespace stains {

// Rows and, per row, columns of the brush that hold painting cells (above 20); the stamp
// skips everything outside them. A row without painting cells has first > last.
struct BrushSpans {
  int firstRow, lastRow;
  int16_t first[128], last[128];
};
BrushSpans computeBrushSpans(const uint8_t* brush);

// One dot to stamp: its centre pixel, diameter d (at least 2), the brush step per pixel in
// 16.16 fixed point (8388608 / d: 128 brush cells across d pixels), r = d >> 1, the
// transparency scale (opacity x depth factor) and its colour by pixel byte.
struct DotJob {
  int sx, sy;
  int diameter;
  int step;
  int radius;
  float scale;
  uint8_t colour[3];
};

// Moves each colour of the particle towards the input byte of the same index:
// c = trunc(c + (b - c) x CS) in float32.
void colourise(StainParticle& particle, const uint8_t* inputPixel, float colorizeSpeed);

// Blend weight of a brush cell: trunc((t - 20) x scale), 0 for t <= 20. For scale in
// 0 .. 1 it is 0 .. 235.
inline int brushAlpha(int t, float scale) {
  const int a = t < kBrushPaintThreshold ? 0 : t - kBrushPaintThreshold;
  return static_cast<int>(float(a) * scale);
}

// p moved towards c by alpha / 256 of the way: p + floor((c - p) x alpha / 256), the
// product shifted right by 8 with its sign. For alpha 0 .. 256 the result lies between p
// and c, so it always fits a byte.
constexpr uint8_t blendTowards(int p, int c, int alpha) {
  return static_cast<uint8_t>(p + (((c - p) * alpha) >> 8));
}

// Projects, colourises and lays out the dots of particles 0 .. count - 1, in order, into
// `jobs` (room for `count`); returns how many dots there are. Particles that land outside
// the inner frame are skipped and keep their colour; visible ones whose strongest cell
// would not paint are colourised but get no dot.
int collectDots(StainParticle* particles, int count, const Rotation& rotation,
                const FrameQuantities& q, float colorizeSpeed, const uint8_t* input, int width,
                int height, int bytesPerPixel, DotJob* jobs);

// The stamp walked as written: every column dx = -r .. r - 1 and every row dy = -r .. r - 1
// with 16.16 brush accumulators, pixels outside the frame skipped. The reference that
// paintDotRows must equal byte for byte.
void stampDotReference(uint8_t* canvas, int width, int height, int bytesPerPixel, const DotJob& dot,
                       const uint8_t* brush);

// The same stamp restricted to canvas rows rowBegin .. rowEnd - 1 and clipped to the frame
// and to the brush's painting cells before the walk, so its cost follows the painted area.
void paintDotRows(uint8_t* canvas, int width, int bytesPerPixel, const DotJob& dot, int rowBegin,
                  int rowEnd, const uint8_t* brush, const BrushSpans& spans);

// Paints every dot in order onto the canvas, then copies the canvas into `output`, band by
// band over OpenMP threads. `output` may be the memory the dots' colours were read from.
void paintDotsAndHandOver(const DotJob* jobs, int count, uint8_t* canvas, uint8_t* output,
                          int width, int height, int bytesPerPixel, const uint8_t* brush,
                          const BrushSpans& spans);

}  // namespace stains
