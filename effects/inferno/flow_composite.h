// Flow distortion of the Inferno effect: the instance's random generator, the 32 x 32 flow
// grids and their update, and the composite that lays the displaced fire colours over the
// input frame.
#pragma once

#include <array>
#include <cstdint>

#include "effects/inferno/fixed_point.h"

namespace inferno {

// A displacement in pixels, 16.16 fixed point (65536 = one pixel).
struct FlowVector {
  int32_t dx;
  int32_t dy;
};

constexpr int kFlowGridSide = 32;  // grid entries per side; entry [gy][gx] sits at (32 gx, 32 gy)
constexpr int kBlockSide = 32;     // pixels per block side, one block per grid cell
using FlowGrid = std::array<FlowVector, kFlowGridSide * kFlowGridSide>;  // row-major [gy][gx]

// The classic 32-bit runtime rand(): state 1 at creation, state = state x 214013 + 2531011
// (mod 2^32) per draw, value (state >> 16) & 0x7FFF. One per instance, so the output does
// not depend on threads, on the platform or on the host's own use of rand().
class RuntimeRandom {
 public:
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_ = 1;
};

// One random flow component from a draw r in 0..32767: ((r x 32) / 32767) whole pixels less
// 16, in 16.16: -16..+16 pixels (+16 only for r = 32767).
constexpr int32_t randomFlowValue(int r) {
  return ((r * 32) / 32767) * 65536 - 1048576;
}

// Fills a grid with random vectors: rows 0 to 31, columns 0 to 31, dx then dy.
void fillRandomFlowGrid(FlowGrid& grid, RuntimeRandom& random);

// One easing step of a component towards its target: value + ((target - value) >> 4), the
// shift flooring. From below it stops up to 15 units short; from above it reaches the target.
constexpr int32_t easeComponent(int32_t value, int32_t target) {
  return value + ((target - value) >> 4);
}

// The flow update of a frame: the counter advances, the target is regenerated every 4th
// frame (counter back to 0), then every vector of `map` eases towards `target`.
void updateFlow(FlowGrid& map, FlowGrid& target, int32_t& counter, RuntimeRandom& random);

// What the composite reads and writes. Grid position (u, v) is pixel (u, v) of the memory
// order when bottomUp, otherwise pixel (width - 1 - u, height - 1 - v); the mapping applies to
// the output, the input and the fire colour sample alike.
struct CompositeFrame {
  const uint8_t* input;
  uint8_t* output;  // may be the same memory as input
  const uint8_t* fireColors;
  int width;
  int height;
  int bytesPerPixel;
  bool bottomUp;
  int fireBlend;  // 0..256; 256 writes the fire colours alone
  const FlowGrid* flow;
};

// Mix of one channel: towards the fire by its mean brightness t (0..255), then towards the
// fire by fireBlend (0..256), each floored.
constexpr uint8_t mixChannel(int input, int fire, int brightness, int fireBlend) {
  return static_cast<uint8_t>(moveTowards(moveTowards(input, fire, brightness), fire, fireBlend));
}

// One run of `count` pixels: out[i] = mix of input[i] and fire[i], every channel (alpha
// too when bytesPerPixel is 4) with the same t. out may be the same memory as input.
void mixRunReference(const uint8_t* input, const uint8_t* fire, uint8_t* out, int count,
                     int bytesPerPixel, int fireBlend);
void mixRun(const uint8_t* input, const uint8_t* fire, uint8_t* out, int count, int bytesPerPixel,
            int fireBlend);

// Every output pixel from the fire colours displaced by the flow grid, block rows in
// parallel. Sample positions are kept inside 1 .. width - 2 and 1 .. height - 2 (inside
// the frame when it is narrower or lower than 3 pixels).
void composite(const CompositeFrame& frame);

// The same, straight from the definition with 64-bit positions, one pixel at a time: the
// plain form the optimised composite is tested against.
void compositeReference(const CompositeFrame& frame);

}  // namespace inferno
