#include "effects/inferno/flow_composite.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__) && !defined(QEL_NO_SIMD)
#include <emmintrin.h>
#define QEL_INFERNO_SSE2 1
#endif

namespace inferno {

namespace {

// Below this many pixels the composite stays on the calling thread.
constexpr long kParallelPixels = 1L << 15;

constexpr int32_t kOnePixel = 65536;                     // 16.16
constexpr int32_t kBlockFixed = kBlockSide * kOnePixel;  // 32 pixels in 16.16
constexpr int kBlockShift = 5;                           // divides by the 32 steps of a block edge

// Sample positions along one axis of `size` pixels: 1 .. size - 2, so the outermost rows and
// columns of the fire image are never sampled; frames narrower than 3 pixels use what is
// there (0 .. size - 2, or 0 for a single pixel).
struct SampleRange {
  int low;
  int high;
};

SampleRange sampleRange(int size) {
  const int high = std::max(size - 2, 0);
  return {std::min(1, high), high};
}

int clampTo(int v, SampleRange range) {
  return v < range.low ? range.low : (v > range.high ? range.high : v);
}

}  // namespace

void mixRunReference(const uint8_t* input, const uint8_t* fire, uint8_t* out, int count,
                     int bytesPerPixel, int fireBlend) {
  for (int i = 0; i < count * bytesPerPixel; i += bytesPerPixel) {
    const int t = (fire[i] + fire[i + 1] + fire[i + 2]) / 3;
    for (int c = 0; c < bytesPerPixel; ++c) {
      const int m = moveTowardsByDefinition(input[i + c], fire[i + c], t);
      out[i + c] = static_cast<uint8_t>(moveTowardsByDefinition(m, fire[i + c], fireBlend));
    }
  }
}

namespace {

#ifdef QEL_INFERNO_SSE2
// Two 4-byte pixels widened to eight 16-bit lanes (input and fire) mixed in 16-bit lanes:
// every product sum is at most 255 x 256, so it fits.
__m128i mixTwoPixels(__m128i input, __m128i fire, __m128i fireBlend, __m128i keepBlend) {
  const __m128i kColourOnes = _mm_setr_epi16(1, 1, 1, 0, 1, 1, 1, 0);
  const __m128i kOneThird = _mm_set1_epi16(21846);  // (s x 21846) >> 16 = s div 3 for s <= 765
  const __m128i k256 = _mm_set1_epi16(256);
  // blue + green and red + 0 in 32-bit lanes, then the two halves of each pixel added.
  __m128i sums = _mm_madd_epi16(fire, kColourOnes);
  sums = _mm_add_epi32(sums, _mm_srli_epi64(sums, 32));
  __m128i t = _mm_mulhi_epu16(sums, kOneThird);  // lanes 0 and 4 hold t of each pixel
  t = _mm_shufflelo_epi16(_mm_shufflehi_epi16(t, 0), 0);
  const __m128i moved = _mm_srli_epi16(
      _mm_add_epi16(_mm_mullo_epi16(input, _mm_sub_epi16(k256, t)), _mm_mullo_epi16(fire, t)), 8);
  return _mm_srli_epi16(
      _mm_add_epi16(_mm_mullo_epi16(moved, keepBlend), _mm_mullo_epi16(fire, fireBlend)), 8);
}
#endif

}  // namespace

void mixRun(const uint8_t* input, const uint8_t* fire, uint8_t* out, int count, int bytesPerPixel,
            int fireBlend) {
  int i = 0;
#ifdef QEL_INFERNO_SSE2
  if (bytesPerPixel == 4) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i blend = _mm_set1_epi16(static_cast<short>(fireBlend));
    const __m128i keep = _mm_set1_epi16(static_cast<short>(256 - fireBlend));
    for (; i + 4 <= count; i += 4) {
      const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + 4 * i));
      const __m128i fi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fire + 4 * i));
      const __m128i low =
          mixTwoPixels(_mm_unpacklo_epi8(in, zero), _mm_unpacklo_epi8(fi, zero), blend, keep);
      const __m128i high =
          mixTwoPixels(_mm_unpackhi_epi8(in, zero), _mm_unpackhi_epi8(fi, zero), blend, keep);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packus_epi16(low, high));
    }
  }
#endif
  for (int b = i * bytesPerPixel; i < count; ++i, b += bytesPerPixel) {
    const int t = (fire[b] + fire[b + 1] + fire[b + 2]) / 3;
    for (int c = 0; c < bytesPerPixel; ++c)
      out[b + c] = mixChannel(input[b + c], fire[b + c], t, fireBlend);
  }
}

namespace {

// The fire colour image as the composite reads it: grid position index v x width + u is
// memory pixel index, or lastIndex - index when grid positions descend in memory.
struct FireImage {
  const uint8_t* pixels;
  int width;
  uint32_t lastIndex;  // width x height - 1, below 2^26
};

// One run of samples (one row of one block): sample i lies at
// (originX + ((x + i stepX) >> 16), originY + ((y + i stepY) >> 16)).
struct SampleRun {
  int originX, originY;
  int32_t x, y, stepX, stepY;
  int count;
};

template <bool kForward>
uint32_t memoryIndex(const FireImage& fire, uint32_t index) {
  return kForward ? index : fire.lastIndex - index;
}

// Copies the fire colours of a run to dst, dstStep bytes apart, clamping each sample into
// the sample ranges when kClamp.
template <int kBytesPerPixel, bool kForward, bool kClamp>
void gatherRun(const FireImage& fire, SampleRun run, SampleRange rangeX, SampleRange rangeY,
               uint8_t* dst, ptrdiff_t dstStep) {
  for (int i = 0; i < run.count; ++i) {
    int x = run.originX + (run.x >> 16);
    int y = run.originY + (run.y >> 16);
    if constexpr (kClamp) {
      x = clampTo(x, rangeX);
      y = clampTo(y, rangeY);
    }
    const uint32_t index = static_cast<uint32_t>(y) * static_cast<uint32_t>(fire.width) + x;
    std::memcpy(dst, fire.pixels + size_t{memoryIndex<kForward>(fire, index)} * kBytesPerPixel,
                kBytesPerPixel);
    dst += dstStep;
    run.x += run.stepX;
    run.y += run.stepY;
  }
}

// gatherRun for a run whose samples all lie inside the ranges, four samples at a time: the
// positions in 32-bit lanes, and each sample's index y x width + x from one 16-bit
// multiply-add of the pair (x, y) with (1, width) (both below 2^15, the index below 2^26).
template <int kBytesPerPixel, bool kForward>
// Inlined into the row loop so that its constants are set up once per row, not per run.
[[gnu::always_inline]] inline void gatherRunInside(const FireImage& fire, SampleRun run,
                                                   uint8_t* dst, ptrdiff_t dstStep) {
#ifdef QEL_INFERNO_SSE2
  __m128i xs =
      _mm_setr_epi32(run.x, run.x + run.stepX, run.x + 2 * run.stepX, run.x + 3 * run.stepX);
  __m128i ys =
      _mm_setr_epi32(run.y, run.y + run.stepY, run.y + 2 * run.stepY, run.y + 3 * run.stepY);
  const __m128i xStep = _mm_set1_epi32(4 * run.stepX);
  const __m128i yStep = _mm_set1_epi32(4 * run.stepY);
  const __m128i xOrigin = _mm_set1_epi32(run.originX);
  const __m128i yOrigin = _mm_set1_epi32(run.originY);
  const __m128i rowLength = _mm_set1_epi32(1 | (fire.width << 16));
  const __m128i last = _mm_set1_epi32(static_cast<int32_t>(fire.lastIndex));
  alignas(16) uint32_t index[4];
  for (; run.count >= 4; run.count -= 4) {
    const __m128i x = _mm_add_epi32(_mm_srai_epi32(xs, 16), xOrigin);
    const __m128i y = _mm_add_epi32(_mm_srai_epi32(ys, 16), yOrigin);
    __m128i gridIndex = _mm_madd_epi16(_mm_or_si128(x, _mm_slli_epi32(y, 16)), rowLength);
    if constexpr (!kForward) gridIndex = _mm_sub_epi32(last, gridIndex);
    _mm_store_si128(reinterpret_cast<__m128i*>(index), gridIndex);
    for (int k = 0; k < 4; ++k) {
      std::memcpy(dst, fire.pixels + size_t{index[k]} * kBytesPerPixel, kBytesPerPixel);
      dst += dstStep;
    }
    xs = _mm_add_epi32(xs, xStep);
    ys = _mm_add_epi32(ys, yStep);
    run.x += 4 * run.stepX;
    run.y += 4 * run.stepY;
  }
#endif
  gatherRun<kBytesPerPixel, kForward, false>(fire, run, {}, {}, dst, dstStep);
}

// One block row of the composite, row after row so that the output is written in memory
// order. Positions are kept relative to the block's origin (32 bx, 32 by): the origin is a
// whole number of pixels, so it cancels in every edge and pixel step and adds unchanged to
// the floor of a position, and the 16.16 values stay small however wide the frame is. The
// edge points of row j are the corner plus j edge steps, the same as stepping j times.
template <int kBytesPerPixel, bool kBottomUp, bool kFireOnly>
void compositeBlockRow(const CompositeFrame& f, int blockRow) {
  const int width = f.width;
  const int originY = blockRow * kBlockSide;
  const int rows = std::min(kBlockSide, f.height - originY);
  if (rows <= 0) return;
  const SampleRange rangeX = sampleRange(width);
  const SampleRange rangeY = sampleRange(f.height);
  const ptrdiff_t lastIndex = static_cast<ptrdiff_t>(width) * f.height - 1;
  // Byte address of grid position index v x width + u in an image of the frame's layout.
  const auto at = [lastIndex](auto* image, ptrdiff_t index) {
    return image + (kBottomUp ? index : lastIndex - index) * kBytesPerPixel;
  };
  const FireImage fire = {f.fireColors, width, static_cast<uint32_t>(lastIndex)};
  const FlowVector* top = f.flow->data() + (blockRow % kFlowGridSide) * kFlowGridSide;
  const FlowVector* bottom = f.flow->data() + ((blockRow + 1) % kFlowGridSide) * kFlowGridSide;
  uint8_t runColors[kBlockSide * kBytesPerPixel];  // fire colours of one run, memory order

  for (int j = 0; j < rows; ++j) {
    const ptrdiff_t rowIndex = static_cast<ptrdiff_t>(originY + j) * width;
    for (int originX = 0; originX < width; originX += kBlockSide) {
      const int count = std::min(kBlockSide, width - originX);
      const int gx = (originX / kBlockSide) % kFlowGridSide;
      const int gx1 = (gx + 1) % kFlowGridSide;
      const FlowVector& topLeft = top[gx];
      const FlowVector& topRight = top[gx1];
      const FlowVector& bottomLeft = bottom[gx];
      const FlowVector& bottomRight = bottom[gx1];
      const int32_t leftX = topLeft.dx + j * ((bottomLeft.dx - topLeft.dx) >> kBlockShift);
      const int32_t leftY =
          topLeft.dy + j * ((kBlockFixed + bottomLeft.dy - topLeft.dy) >> kBlockShift);
      const int32_t rightX =
          kBlockFixed + topRight.dx + j * ((bottomRight.dx - topRight.dx) >> kBlockShift);
      const int32_t rightY =
          topRight.dy + j * ((kBlockFixed + bottomRight.dy - topRight.dy) >> kBlockShift);
      const int32_t stepX = (rightX - leftX) >> kBlockShift;
      const int32_t stepY = (rightY - leftY) >> kBlockShift;

      // Positions move linearly along the run, so its ends bound every sample: when both
      // ends lie inside the sample range, no sample needs clamping.
      const int x0 = originX + (leftX >> 16);
      const int x1 = originX + ((leftX + (count - 1) * stepX) >> 16);
      const int y0 = originY + (leftY >> 16);
      const int y1 = originY + ((leftY + (count - 1) * stepY) >> 16);
      const bool inside = std::min(x0, x1) >= rangeX.low && std::max(x0, x1) <= rangeX.high &&
                          std::min(y0, y1) >= rangeY.low && std::max(y0, y1) <= rangeY.high;

#ifdef QEL_INFERNO_SSE2
      // Samples move down the fire image by about a row per output row, one line per block:
      // more streams than a hardware prefetcher follows. Ask for the lines that this run will
      // read on the next row (first, middle and last sample, one row further).
      if (inside && std::max(y0, y1) < rangeY.high) {
        const uint32_t rowStart = static_cast<uint32_t>(std::max(y0, y1) + 1) * width;
        for (int x : {x0, (x0 + x1) >> 1, x1}) {
          const uint32_t index = memoryIndex<kBottomUp>(fire, rowStart + x);
          _mm_prefetch(reinterpret_cast<const char*>(fire.pixels + size_t{index} * kBytesPerPixel),
                       _MM_HINT_T0);
        }
      }
#endif

      // The run's lowest address: its first pixel, or its last one when positions descend.
      const ptrdiff_t lowest = rowIndex + originX + (kBottomUp ? 0 : count - 1);
      uint8_t* out = at(f.output, lowest);
      uint8_t* dst = kFireOnly ? out : runColors;
      if constexpr (!kBottomUp) dst += (count - 1) * kBytesPerPixel;
      constexpr ptrdiff_t kDstStep = kBottomUp ? kBytesPerPixel : -kBytesPerPixel;
      const SampleRun samples = {originX, originY, leftX, leftY, stepX, stepY, count};
      if (inside) {
        gatherRunInside<kBytesPerPixel, kBottomUp>(fire, samples, dst, kDstStep);
      } else {
        gatherRun<kBytesPerPixel, kBottomUp, true>(fire, samples, rangeX, rangeY, dst, kDstStep);
      }
      if constexpr (!kFireOnly) {
        mixRun(at(f.input, lowest), runColors, out, count, kBytesPerPixel, f.fireBlend);
      }
    }
  }
}

template <int kBytesPerPixel, bool kBottomUp, bool kFireOnly>
void compositeAll(const CompositeFrame& f) {
  const int blockRows = f.height / kBlockSide + 1;
  [[maybe_unused]] const bool parallel = static_cast<long>(f.width) * f.height >= kParallelPixels;
#pragma omp parallel for schedule(static) if (parallel)
  for (int by = 0; by < blockRows; ++by) {
    compositeBlockRow<kBytesPerPixel, kBottomUp, kFireOnly>(f, by);
  }
}

template <int kBytesPerPixel>
void compositeOfDepth(const CompositeFrame& f) {
  const bool fireOnly = f.fireBlend >= 256;
  if (f.bottomUp) {
    if (fireOnly) {
      compositeAll<kBytesPerPixel, true, true>(f);
    } else {
      compositeAll<kBytesPerPixel, true, false>(f);
    }
  } else {
    if (fireOnly) {
      compositeAll<kBytesPerPixel, false, true>(f);
    } else {
      compositeAll<kBytesPerPixel, false, false>(f);
    }
  }
}

}  // namespace

void fillRandomFlowGrid(FlowGrid& grid, RuntimeRandom& random) {
  for (FlowVector& v : grid) {
    v.dx = randomFlowValue(random.next());
    v.dy = randomFlowValue(random.next());
  }
}

void updateFlow(FlowGrid& map, FlowGrid& target, int32_t& counter, RuntimeRandom& random) {
  constexpr int32_t kFramesPerTarget = 4;
  if (++counter >= kFramesPerTarget) {
    counter = 0;
    fillRandomFlowGrid(target, random);
  }
  for (size_t i = 0; i < map.size(); ++i) {
    map[i].dx = easeComponent(map[i].dx, target[i].dx);
    map[i].dy = easeComponent(map[i].dy, target[i].dy);
  }
}

void composite(const CompositeFrame& frame) {
  if (frame.bytesPerPixel == 4) {
    compositeOfDepth<4>(frame);
  } else {
    compositeOfDepth<3>(frame);
  }
}

void compositeReference(const CompositeFrame& f) {
  const int64_t w = f.width, h = f.height;
  const int p = f.bytesPerPixel;
  const auto pixelIndex = [&](int64_t u, int64_t v) {
    return f.bottomUp ? v * w + u : w * h - 1 - (v * w + u);
  };
  const auto clampSample = [](int64_t s, int64_t size) {
    if (s < 1) s = 1;
    if (s >= size - 1) s = size - 2;
    return s < 0 ? int64_t{0} : s;  // frames of one pixel
  };
  for (int64_t by = 0; by <= h / 32; ++by) {
    for (int64_t bx = 0; bx <= w / 32; ++bx) {
      const int64_t gx = bx % 32, gy = by % 32, gx1 = (gx + 1) % 32, gy1 = (gy + 1) % 32;
      const FlowVector* g = f.flow->data();
      const int64_t tlX = 32 * bx * 65536 + g[gy * 32 + gx].dx;
      const int64_t tlY = 32 * by * 65536 + g[gy * 32 + gx].dy;
      const int64_t trX = 32 * (bx + 1) * 65536 + g[gy * 32 + gx1].dx;
      const int64_t trY = 32 * by * 65536 + g[gy * 32 + gx1].dy;
      const int64_t blX = 32 * bx * 65536 + g[gy1 * 32 + gx].dx;
      const int64_t blY = 32 * (by + 1) * 65536 + g[gy1 * 32 + gx].dy;
      const int64_t brX = 32 * (bx + 1) * 65536 + g[gy1 * 32 + gx1].dx;
      const int64_t brY = 32 * (by + 1) * 65536 + g[gy1 * 32 + gx1].dy;
      const int64_t leftStepX = (blX - tlX) >> 5, leftStepY = (blY - tlY) >> 5;
      const int64_t rightStepX = (brX - trX) >> 5, rightStepY = (brY - trY) >> 5;
      int64_t lX = tlX, lY = tlY, rX = trX, rY = trY;
      for (int64_t j = 0; j < 32; ++j) {
        const int64_t v = 32 * by + j;
        if (v < h) {
          int64_t sX = lX, sY = lY;
          const int64_t stepX = (rX - lX) >> 5, stepY = (rY - lY) >> 5;
          for (int64_t i = 0; i < 32; ++i) {
            const int64_t u = 32 * bx + i;
            if (u < w) {
              const int64_t sx = clampSample(sX >> 16, w), sy = clampSample(sY >> 16, h);
              const uint8_t* fire = f.fireColors + pixelIndex(sx, sy) * p;
              const uint8_t* in = f.input + pixelIndex(u, v) * p;
              uint8_t* out = f.output + pixelIndex(u, v) * p;
              const int t = (fire[0] + fire[1] + fire[2]) / 3;
              for (int c = 0; c < p; ++c) {
                if (f.fireBlend >= 256) {
                  out[c] = fire[c];
                } else {
                  const int m = moveTowardsByDefinition(in[c], fire[c], t);
                  out[c] = static_cast<uint8_t>(moveTowardsByDefinition(m, fire[c], f.fireBlend));
                }
              }
            }
            sX += stepX;
            sY += stepY;
          }
        }
        lX += leftStepX;
        lY += leftStepY;
        rX += rightStepX;
        rY += rightStepY;
      }
    }
  }
}

}  // namespace inferno
