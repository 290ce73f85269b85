#include "effects/stains/stains_draw.h"

#include <algorithm>
#include <cstring>

#include "shell/float_mode.h"

namespace stains {

namespace {

// 128 brush cells in 16.16 fixed point: step = kBrushSpan / d walks the brush once
// across d pixels.
constexpr int kBrushSpan = kBrushSize << 16;  // 8388608

// The largest blend weight: a cell of 255 at full opacity and depth.
constexpr int kMaxAlpha = 255 - kBrushPaintThreshold;  // 235

// Canvas rows per band when painting over threads. Every band looks at every dot, so
// bands are not made much smaller than this.
constexpr int kBandRows = 32;

// Frames smaller than this are painted and handed over on the calling thread.
constexpr long kParallelPixels = 16384;

// Beyond this a diameter is only a bound: no frame is this wide, and the brush step
// (8388608 / d) must stay at least 1.
constexpr float kMaxDiameter = 4194304.0f;  // 2^22

// Smallest k >= 0 with k x step >= value, for value >= 0 and step > 0.
constexpr int ceilDiv(int value, int step) {
  return (value + step - 1) / step;
}

template <int Bpp>
void paintDotRowsT(uint8_t* canvas, int width, const DotJob& dot, int rowBegin, int rowEnd,
                   const uint8_t* brush, const BrushSpans& spans) {
  const int step = dot.step;
  const int r = dot.radius;
  const int top = dot.sy - r;   // canvas row of brush walk index 0
  const int left = dot.sx - r;  // canvas column of brush walk index 0
  // Walk indices k = 0 .. 2r - 1 read brush cell (k x step) >> 16; keep the rows whose
  // cell lies in the brush's painting rows.
  const int kyFirst = std::max(0, ceilDiv(spans.firstRow << 16, step));
  const int kyLast = std::min(2 * r - 1, ceilDiv((spans.lastRow + 1) << 16, step) - 1);
  const int yBegin = std::max(rowBegin, top + kyFirst);
  const int yEnd = std::min(rowEnd, top + kyLast + 1);
  const int kxFrameFirst = std::max(0, -left);
  const int kxFrameLast = std::min(2 * r - 1, width - 1 - left);
  for (int y = yBegin; y < yEnd; ++y) {
    const int row = ((y - top) * step) >> 16;
    const int firstCell = spans.first[row], lastCell = spans.last[row];
    if (firstCell > lastCell) continue;
    const int kxFirst = std::max(kxFrameFirst, ceilDiv(firstCell << 16, step));
    const int kxLast = std::min(kxFrameLast, ceilDiv((lastCell + 1) << 16, step) - 1);
    if (kxFirst > kxLast) continue;
    const uint8_t* brushRow = brush + row * kBrushSize;
    uint8_t* pixel = canvas + (static_cast<size_t>(y) * width + (left + kxFirst)) * Bpp;
    int u = kxFirst * step;
    for (int k = kxFirst; k <= kxLast; ++k, u += step, pixel += Bpp) {
      const int alpha = brushAlpha(brushRow[u >> 16], dot.scale);
      if (alpha <= 0) continue;
      pixel[0] = blendTowards(pixel[0], dot.colour[0], alpha);
      pixel[1] = blendTowards(pixel[1], dot.colour[1], alpha);
      pixel[2] = blendTowards(pixel[2], dot.colour[2], alpha);
    }
  }
}

template <int Bpp>
void paintBands(const DotJob* jobs, int count, uint8_t* canvas, uint8_t* output, int width,
                int height, const uint8_t* brush, const BrushSpans& spans) {
  const size_t stride = static_cast<size_t>(width) * Bpp;
  const int bands = (height + kBandRows - 1) / kBandRows;
  const bool parallel = bands > 1 && long(width) * height >= kParallelPixels;
#pragma omp parallel if (parallel)
  {
    ScopedFlushDenormals floatMode;
    // Interleaved bands share the work evenly wherever the dots cluster.
#pragma omp for schedule(static, 1)
    for (int band = 0; band < bands; ++band) {
      const int rowBegin = band * kBandRows;
      const int rowEnd = std::min(height, rowBegin + kBandRows);
      for (int j = 0; j < count; ++j) {
        const DotJob& dot = jobs[j];
        if (dot.sy - dot.radius >= rowEnd || dot.sy + dot.radius <= rowBegin) continue;
        paintDotRowsT<Bpp>(canvas, width, dot, rowBegin, rowEnd, brush, spans);
      }
      std::memcpy(output + rowBegin * stride, canvas + rowBegin * stride,
                  (rowEnd - rowBegin) * stride);
    }
  }
}

}  // namespace

BrushSpans computeBrushSpans(const uint8_t* brush) {
  BrushSpans spans;
  spans.firstRow = kBrushSize;
  spans.lastRow = -1;
  for (int row = 0; row < kBrushSize; ++row) {
    spans.first[row] = kBrushSize;
    spans.last[row] = -1;
    for (int column = 0; column < kBrushSize; ++column) {
      if (brush[row * kBrushSize + column] <= kBrushPaintThreshold) continue;
      spans.first[row] = std::min<int16_t>(spans.first[row], column);
      spans.last[row] = column;
    }
    if (spans.first[row] <= spans.last[row]) {
      spans.firstRow = std::min(spans.firstRow, row);
      spans.lastRow = row;
    }
  }
  return spans;
}

void colourise(StainParticle& particle, const uint8_t* inputPixel, float colorizeSpeed) {
  for (int k = 0; k < 3; ++k) {
    int32_t& c = colourForByte(particle, k);
    const float moved = float(int(inputPixel[k]) - c) * colorizeSpeed + float(c);
    c = static_cast<int32_t>(moved);
  }
}

int collectDots(StainParticle* particles, int count, const Rotation& rotation,
                const FrameQuantities& q, float colorizeSpeed, const uint8_t* input, int width,
                int height, int bytesPerPixel, DotJob* jobs) {
  int dots = 0;
  for (int i = 0; i < count; ++i) {
    StainParticle& p = particles[i];
    ScreenPoint at;
    if (!projectParticle(p.x, p.y, p.z, rotation, width, height, q, at)) continue;
    const float scale = p.opacity * at.depthFactor;
    const float size = at.depthFactor * q.baseDiameter;
    int d = size < kMaxDiameter ? static_cast<int>(size) : static_cast<int>(kMaxDiameter);
    if (d < 2) d = 2;
    colourise(p, input + (static_cast<size_t>(at.sy) * width + at.sx) * bytesPerPixel,
              colorizeSpeed);
    // No cell paints when even the strongest weight truncates to 0 (NaN included).
    if (!(brushAlpha(255, scale) > 0)) continue;
    DotJob& dot = jobs[dots++];
    dot.sx = at.sx;
    dot.sy = at.sy;
    dot.diameter = d;
    dot.step = kBrushSpan / d;
    dot.radius = d >> 1;
    dot.scale = scale;
    for (int k = 0; k < 3; ++k) dot.colour[k] = static_cast<uint8_t>(colourForByte(p, k));
  }
  return dots;
}

void stampDotReference(uint8_t* canvas, int width, int height, int bytesPerPixel, const DotJob& dot,
                       const uint8_t* brush) {
  const int r = dot.radius;
  int u = 0;
  for (int dx = -r; dx < r; ++dx, u += dot.step) {
    const int x = dot.sx + dx;
    if (x < 0 || x >= width) continue;
    int v = 0;
    for (int dy = -r; dy < r; ++dy, v += dot.step) {
      const int y = dot.sy + dy;
      if (y < 0 || y >= height) continue;
      const int alpha = brushAlpha(brush[(v >> 16) * kBrushSize + (u >> 16)], dot.scale);
      if (alpha <= 0) continue;
      uint8_t* pixel = canvas + (static_cast<size_t>(y) * width + x) * bytesPerPixel;
      for (int k = 0; k < 3; ++k) pixel[k] = blendTowards(pixel[k], dot.colour[k], alpha);
    }
  }
}

void paintDotRows(uint8_t* canvas, int width, int bytesPerPixel, const DotJob& dot, int rowBegin,
                  int rowEnd, const uint8_t* brush, const BrushSpans& spans) {
  if (bytesPerPixel == 4) {
    paintDotRowsT<4>(canvas, width, dot, rowBegin, rowEnd, brush, spans);
  } else {
    paintDotRowsT<3>(canvas, width, dot, rowBegin, rowEnd, brush, spans);
  }
}

void paintDotsAndHandOver(const DotJob* jobs, int count, uint8_t* canvas, uint8_t* output,
                          int width, int height, int bytesPerPixel, const uint8_t* brush,
                          const BrushSpans& spans) {
  if (bytesPerPixel == 4) {
    paintBands<4>(jobs, count, canvas, output, width, height, brush, spans);
  } else {
    paintBands<3>(jobs, count, canvas, output, width, height, brush, spans);
  }
}

}  // namespace stains
