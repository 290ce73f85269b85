#include "effects/inferno/flow_composite.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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
  constexpr ptrdiff_t kPixelStep = kBottomUp ? kBytesPerPixel : -kBytesPerPixel;
  const FlowVector* top = f.flow->data() + (blockRow % kFlowGridSide) * kFlowGridSide;
  const FlowVector* bottom = f.flow->data() + ((blockRow + 1) % kFlowGridSide) * kFlowGridSide;

  for (int j = 0; j < rows; ++j) {
    const ptrdiff_t rowIndex = static_cast<ptrdiff_t>(originY + j) * width;
    uint8_t* out = at(f.output, rowIndex);
    const uint8_t* in = at(f.input, rowIndex);
    for (int originX = 0; originX < width; originX += kBlockSide) {
      const int columns = std::min(kBlockSide, width - originX);
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
      int32_t sampleX = leftX, sampleY = leftY;
      for (int i = 0; i < columns; ++i) {
        const int x = clampTo(originX + (sampleX >> 16), rangeX);
        const int y = clampTo(originY + (sampleY >> 16), rangeY);
        const uint8_t* fire = at(f.fireColors, static_cast<ptrdiff_t>(y) * width + x);
        if constexpr (kFireOnly) {
          std::memcpy(out, fire, kBytesPerPixel);
        } else {
          const int brightness = (fire[0] + fire[1] + fire[2]) / 3;
          for (int c = 0; c < kBytesPerPixel; ++c) {
            out[c] = mixChannel(in[c], fire[c], brightness, f.fireBlend);
          }
        }
        out += kPixelStep;
        in += kPixelStep;
        sampleX += stepX;
        sampleY += stepY;
      }
    }
  }
}

template <int kBytesPerPixel, bool kBottomUp, bool kFireOnly>
void compositeAll(const CompositeFrame& f) {
  const int blockRows = f.height / kBlockSide + 1;
#pragma omp parallel for schedule(static) if (static_cast <long>(f.width) * f.height >= \
                                              kParallelPixels)
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
