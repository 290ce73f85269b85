#include "effects/stains/stains_draw.h"

#include <algorithm>
#include <cstring>

#include "shell/float_mode.h"

#if defined(__SSE2__) && !defined(QEL_NO_SIMD)
#include <emmintrin.h>
#define QEL_STAINS_SSE2 1
#endif

namespace stains {

namespace {

// 128 brush cells in 16.16 fixed point: step = kBrushSpan / d walks the brush once
// across d pixels.
constexpr int kBrushSpan = kBrushSize << 16;  // 8388608

// Canvas rows per band when painting over threads. Every band looks at every dot, so
// bands are not made much smaller than this.
constexpr int kBandRows = 32;

// Frames smaller than this are painted and handed over on the calling thread.
constexpr long kParallelPixels = 65536;

// Beyond this a diameter is only a bound: no frame is this wide, and the brush step
// (8388608 / d) must stay at least 1.
constexpr float kMaxDiameter = 4194304.0f;  // 2^22

// Smallest k >= 0 with k x step >= value, for value >= 0 and step > 0.
constexpr int ceilDiv(int value, int step) {
  return (value + step - 1) / step;
}

// Blend weights of a run of pixels, one 16-bit lane per pixel byte: alpha x 128 for the
// three colour bytes and 0 for a fourth byte, which therefore never changes. alpha x 128 is
// at most 235 x 128 = 30080, within a signed 16-bit lane.
constexpr int kWeightShift = 7;
constexpr uint64_t weightLanes(int alpha) {
  const uint64_t w = static_cast<uint64_t>(alpha) << kWeightShift;
  return w | (w << 16) | (w << 32);
}

// Runs are weighted in pieces of at most this many pixels (the weights live on the stack).
constexpr int kRunPixels = 1024;

// Dots smaller than this are painted pixel by pixel: their few pixels do not pay for a
// weight table.
constexpr int kTableDiameter = 16;

// The canvas bytes p[first .. bytes - 1] of a run of whole pixels moved towards the dot's
// colour by their weights: blendTowards(p, c, w >> 7) for every byte.
template <int Bpp>
void blendRunPlain(uint8_t* p, const uint16_t* weights, int first, int bytes,
                   const uint8_t* colour) {
  for (int i = first; i < bytes; ++i) {
    const int channel = i % Bpp;
    if (channel < 3) p[i] = blendTowards(p[i], colour[channel], weights[i] >> kWeightShift);
  }
}

#ifdef QEL_STAINS_SSE2
// p + floor((c - p) x alpha / 256) in 16-bit lanes: with d = 2 (c - p) in -510 .. 510 and
// w = 128 alpha, the high half of d x w is (256 (c - p) alpha) >> 16, the same floor.
inline __m128i blendLanes(__m128i p, __m128i c, __m128i w) {
  __m128i d = _mm_sub_epi16(c, p);
  d = _mm_add_epi16(d, d);
  return _mm_add_epi16(p, _mm_mulhi_epi16(d, w));
}

template <int Bpp>
void blendRun(uint8_t* p, const uint16_t* weights, int bytes, const uint8_t* colour) {
  const __m128i zero = _mm_setzero_si128();
  // Colour lanes by byte: period 4 for 32-bit pixels (one register), 24 lanes for 24-bit
  // pixels (three registers in turn).
  __m128i c[3];
  for (int g = 0; g < 3; ++g) {
    alignas(16) int16_t lanes[8];
    for (int j = 0; j < 8; ++j) {
      const int channel = (g * 8 + j) % Bpp;
      lanes[j] = channel < 3 ? colour[channel] : 0;
    }
    c[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
  }
  int i = 0;
  int phase = 0;  // colour register of the lanes at byte i
  for (; i + 16 <= bytes; i += 16) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i));
    const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i + 8));
    const int next = Bpp == 4 ? 0 : (phase == 2 ? 0 : phase + 1);
    const __m128i lo = blendLanes(_mm_unpacklo_epi8(px, zero), c[phase], w0);
    const __m128i hi = blendLanes(_mm_unpackhi_epi8(px, zero), c[next], w1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(lo, hi));
    phase = Bpp == 4 ? 0 : (next == 2 ? 0 : next + 1);
  }
  blendRunPlain<Bpp>(p, weights, i, bytes, colour);
}
#else
template <int Bpp>
void blendRun(uint8_t* p, const uint16_t* weights, int bytes, const uint8_t* colour) {
  blendRunPlain<Bpp>(p, weights, 0, bytes, colour);
}
#endif

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
  if (yBegin >= yEnd || kxFrameFirst > kxFrameLast) return;

  if (dot.diameter < kTableDiameter) {
    for (int y = yBegin; y < yEnd; ++y) {
      const int row = ((y - top) * step) >> 16;
      const uint8_t* brushRow = brush + row * kBrushSize;
      uint8_t* pixel = canvas + (static_cast<size_t>(y) * width + (left + kxFrameFirst)) * Bpp;
      int u = kxFrameFirst * step;
      for (int k = kxFrameFirst; k <= kxFrameLast; ++k, u += step, pixel += Bpp) {
        const int alpha = brushAlpha(brushRow[u >> 16], dot.scale);
        if (alpha <= 0) continue;
        for (int b = 0; b < 3; ++b) pixel[b] = blendTowards(pixel[b], dot.colour[b], alpha);
      }
    }
    return;
  }

  // Weight lanes of every brush value for this dot's scale.
  uint64_t lanesOf[256];
  for (int t = 0; t < 256; ++t) lanesOf[t] = weightLanes(brushAlpha(t, dot.scale));
  // One spare lane: a 24-bit pixel's four-lane store reaches one lane past its three.
  alignas(16) uint16_t weights[kRunPixels * Bpp + 4];
  int weightedRow = -1;  // brush row whose run `weights` holds, when the run is one piece
  for (int y = yBegin; y < yEnd; ++y) {
    const int row = ((y - top) * step) >> 16;
    const int firstCell = spans.first[row], lastCell = spans.last[row];
    if (firstCell > lastCell) continue;
    const int kxFirst = std::max(kxFrameFirst, ceilDiv(firstCell << 16, step));
    const int kxLast = std::min(kxFrameLast, ceilDiv((lastCell + 1) << 16, step) - 1);
    if (kxFirst > kxLast) continue;
    const uint8_t* brushRow = brush + row * kBrushSize;
    uint8_t* pixel = canvas + (static_cast<size_t>(y) * width + (left + kxFirst)) * Bpp;
    const bool onePiece = kxLast - kxFirst < kRunPixels;
    for (int k = kxFirst; k <= kxLast; k += kRunPixels) {
      const int pixels = std::min(kRunPixels, kxLast - k + 1);
      // Rows of a large dot repeat brush rows: their weights are the same.
      if (!(onePiece && row == weightedRow)) {
        int u = k * step;
        for (int j = 0; j < pixels; ++j, u += step) {
          std::memcpy(weights + j * Bpp, &lanesOf[brushRow[u >> 16]], sizeof(uint64_t));
        }
        weightedRow = onePiece ? row : -1;
      }
      blendRun<Bpp>(pixel + (k - kxFirst) * Bpp, weights, pixels * Bpp, dot.colour);
    }
  }
}

template <int Bpp>
void paintBands(const DotJob* jobs, int count, uint8_t* canvas, uint8_t* output, int width,
                int height, const uint8_t* brush, const BrushSpans& spans) {
  const size_t stride = static_cast<size_t>(width) * Bpp;
  const int bands = (height + kBandRows - 1) / kBandRows;
  [[maybe_unused]] const bool parallel = bands > 1 && long(width) * height >= kParallelPixels;
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
    int d = 2;  // the smallest dot
    if (size >= 2.0f)
      d = size < kMaxDiameter ? static_cast<int>(size) : static_cast<int>(kMaxDiameter);
    colourise(p, input + (static_cast<size_t>(at.sy) * width + at.sx) * bytesPerPixel,
              colorizeSpeed);
    // No cell paints when even the strongest weight truncates to 0.
    if (!(scale > 0.0f) || brushAlpha(255, scale) <= 0) continue;
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
