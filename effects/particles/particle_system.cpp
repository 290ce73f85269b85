#include "effects/particles/particle_system.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "effects/particles/particle_rows.h"

namespace particles {

namespace {

// Emission grid: one cell per 4 x 4 pixels, sampled at its corner pixel.
constexpr int kCellShift = 2;
constexpr int kCellSize = 1 << kCellShift;
// Birth cooldown counter of a cell: set to 100 by a birth, lowered by 2 per frame while
// the result stays above 10, so a cell is eligible again 45 frames after its last birth.
constexpr int kCooldownAfterBirth = 100;
constexpr int kCooldownStep = 2;
constexpr int kCooldownEligible = 10;
// Positions are 16.16 fixed point.
constexpr int kFixedShift = 16;
// A steered velocity replaces the old one only when a component leaves -5..5.
constexpr int kSlowestSteeredSpeed = 5;
// Row passes stay on the calling thread below this many pixels per frame.
constexpr int64_t kParallelMinPixels = 1 << 16;
// Pixels per chunk of the fused keep-and-mix pass: its scratch row lives on the stack.
constexpr int kFusedChunkPixels = 256;

float saneValue(float value) {
  if (!(value == value)) return 0.0f;  // NaN counts as 0
  return std::clamp(value, 0.0f, 1.0f);
}

// trunc(value x scale), the product formed in single precision; value in [0, 1].
int truncProduct(float value, float scale) { return static_cast<int>(value * scale); }

bool runsInParallel(const ParticleState& state) {
  return static_cast<int64_t>(state.width) * state.height >= kParallelMinPixels;
}

size_t frameBytes(const ParticleState& state) {
  return static_cast<size_t>(state.width) * state.height * state.bytesPerPixel;
}

// Clears the lowest bit: the even value at or below v (7 -> 6, -7 -> -8).
constexpr int32_t evenAtOrBelow(int32_t v) { return v & ~int32_t{1}; }

constexpr bool beyondSlowest(int32_t v) {
  return v > kSlowestSteeredSpeed || v < -kSlowestSteeredSpeed;
}

// v + delta, held at the int32 limits: a velocity that steering keeps pushing one way
// (a particle parked at Particle Speed 0 for days) stops growing instead of overflowing.
constexpr int32_t saturatingAdd(int32_t v, int delta) {
  const int64_t sum = static_cast<int64_t>(v) + delta;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// ---- Emission

template <int Bpp>
void emitParticlesT(ParticleState& state, const FrameControls& controls, const uint8_t* input) {
  std::fill(state.prevRowLevel.begin(), state.prevRowLevel.end(), 0);
  const int cellCols = state.cellCols;
  const int cellRows = state.cellRows;
  // The ring of birth slots: the active particles for 4-byte pixels, the whole store for
  // 3-byte pixels (whose walk then stops after fNumActive live ones).
  const int32_t ringSize = Bpp == 4 ? state.fNumActive : state.capacity;
  const int64_t birthLimit = ringSize > 0 ? controls.birthsPerFrame : 0;
  const size_t cellRowStride = static_cast<size_t>(state.width) * Bpp * kCellSize;
  int64_t births = 0;
  int32_t next = state.fNextParticle;
  int16_t* cooldown = state.fBirthCooldown.data();
  int32_t* prevRowLevel = state.prevRowLevel.data();
  Particle* store = state.fParticles.data();

  int cy = 0;
  int cx = 0;
  for (; cy < cellRows && births < birthLimit; ++cy) {
    const uint8_t* corner = input + static_cast<size_t>(cy) * cellRowStride;
    int16_t* counters = cooldown + static_cast<size_t>(cy) * cellCols;
    int left = 0;
    for (cx = 0; cx < cellCols; ++cx, corner += kCellSize * Bpp) {
      const int n = counters[cx];
      const int k = std::max(n - kCooldownStep, 0);
      const int level = brightness(corner);
      if (k > kCooldownEligible) {
        counters[cx] = static_cast<int16_t>(k);
      } else if (births < birthLimit && std::abs(level - controls.birthLevel) <= controls.birthRange) {
        ++births;
        counters[cx] = kCooldownAfterBirth;
        // The cell's corner pixel in 16.16 (cx, cy <= 8191, so no overflow).
        store[next] = Particle{1,
                               (cx * kCellSize) << kFixedShift,
                               (cy * kCellSize) << kFixedShift,
                               left - level,
                               prevRowLevel[cx] - level,
                               corner[2] * 256,
                               corner[1] * 256,
                               corner[0] * 256};
        state.slotsTouched = std::max(state.slotsTouched, next + 1);
        if (++next >= ringSize) next = 0;
      }
      prevRowLevel[cx] = level;
      left = level;
    }
  }
  state.fNextParticle = next;
  // Once the frame's births are spent no other cell can give birth, and the levels are
  // not needed: only the counters still count down. If the limit was reached inside a row,
  // that row's remaining cells were already walked above.
  int16_t* rest = cooldown + static_cast<size_t>(cy) * cellCols;
  int16_t* const end = cooldown + static_cast<size_t>(cellRows) * cellCols;
  for (; rest < end; ++rest) {
    if (*rest > kCooldownEligible + kCooldownStep) *rest = static_cast<int16_t>(*rest - kCooldownStep);
  }
}

// ---- Motion and stamping

struct StampColour {
  int e0, e1, e2;  // colour levels at the falloff centre (c >> 8), may be negative
};

// Writes one particle's stamp into the trail, clipped to the frame. blendSum holds
// left + upper input neighbour per channel (blending stamp only).
template <int Bpp, StampWrite Write>
void stampParticle(uint8_t* trail, int width, int height, const ParticlesSettings& settings,
                   int px, int py, const StampColour& colour, const int* blendSum,
                   bool eightWayBlend) {
  const int n = settings.stampSize;
  const int h = (n - 1) / 2;
  const int top = py + settings.stampTopOffset;
  const int left = px - h;
  const int j0 = std::max(0, -top), j1 = std::min(n, height - top);
  const int i0 = std::max(0, -left), i1 = std::min(n, width - left);
  for (int j = j0; j < j1; ++j) {
    uint8_t* row = trail + (static_cast<size_t>(top + j) * width + left) * Bpp;
    const int dj = std::abs(j - h);
    for (int i = i0; i < i1; ++i) {
      const int dist = (std::abs(i - h) + dj) * settings.falloffStep;
      int e0 = colour.e0 - dist;
      int e1 = colour.e1 - dist;
      int e2 = colour.e2 - dist;
      if (e0 <= 0 && e1 <= 0 && e2 <= 0) continue;
      e0 = std::max(e0, 0);
      e1 = std::max(e1, 0);
      e2 = std::max(e2, 0);
      uint8_t* t = row + i * Bpp;
      if constexpr (Write == StampWrite::kReplace) {
        t[0] = static_cast<uint8_t>(e0);
        t[1] = static_cast<uint8_t>(e1);
        t[2] = static_cast<uint8_t>(e2);
      } else if (eightWayBlend) {
        // (trail + left + upper + stamp) / 8, at most (255 + 510 + 255) >> 3 = 127.
        t[0] = static_cast<uint8_t>((t[0] + blendSum[0] + e0) >> 3);
        t[1] = static_cast<uint8_t>((t[1] + blendSum[1] + e1) >> 3);
        t[2] = static_cast<uint8_t>((t[2] + blendSum[2] + e2) >> 3);
      } else {
        // (trail + (stamp + left + upper) / 4) / 2, at most (255 + 191) >> 1 = 223.
        t[0] = static_cast<uint8_t>((t[0] + ((e0 + blendSum[0]) >> 2)) >> 1);
        t[1] = static_cast<uint8_t>((t[1] + ((e1 + blendSum[1]) >> 2)) >> 1);
        t[2] = static_cast<uint8_t>((t[2] + ((e2 + blendSum[2]) >> 2)) >> 1);
      }
    }
  }
}

template <int Bpp, StampWrite Write>
void updateParticlesT(ParticleState& state, const ParticlesSettings& settings,
                      const FrameControls& controls, const uint8_t* input) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  uint8_t* trail = state.fTrail.data();
  // Steering of QelParticles2 weights the neighbours' brightness by their alpha byte in
  // alpha mode 1; the blending stamp averages over eight in alpha mode 0 (4-byte pixels).
  const bool alphaWeighted = Bpp == 4 && controls.alphaMode == 1;
  const bool eightWayBlend = Bpp == 4 && controls.alphaMode == 0;
  const int64_t speed = controls.speedFactor;
  const int32_t active = state.fNumActive;
  int32_t live = 0;
  Particle* const store = state.fParticles.data();
  Particle* const end = store + state.slotsTouched;
  for (Particle* p = store; p < end; ++p) {
    if (p->alive <= 0) continue;
    if (++live > active) break;
    // Move. Products and sums in 64 bits: a velocity grown by steering cannot overflow,
    // and any position outside 32 bits lies outside the frame.
    const int64_t nx = p->x + ((speed * p->vx) >> 2);
    const int64_t ny = p->y + ((speed * p->vy) >> 2);
    const int64_t ix = nx >> kFixedShift;
    const int64_t iy = ny >> kFixedShift;
    if (ix < 0 || iy < 0 || ix >= width || iy >= height) {
      p->alive = 0;
      continue;
    }
    p->x = static_cast<int32_t>(nx);
    p->y = static_cast<int32_t>(ny);
    const int px = static_cast<int>(ix);
    const int py = static_cast<int>(iy);
    const uint8_t* pixel = input + static_cast<size_t>(py) * stride + static_cast<size_t>(px) * Bpp;
    // A missing left or upper neighbour (column 0, row 0) is the particle's own pixel.
    const uint8_t* leftPixel = px > 0 ? pixel - Bpp : pixel;
    const uint8_t* upperPixel = py > 0 ? pixel - stride : pixel;
    const int lum = brightness(pixel);

    switch (settings.steering) {
      case Steering::kNone:
        break;
      case Steering::kBrightness: {
        int lumL = brightness(leftPixel);
        int lumU = brightness(upperPixel);
        if constexpr (Bpp == 4) {
          if (alphaWeighted) {
            lumL = (lumL * leftPixel[3]) >> 8;
            lumU = (lumU * upperPixel[3]) >> 8;
          }
        }
        const int32_t nvx = evenAtOrBelow(saturatingAdd(p->vx, lumL - lum));
        const int32_t nvy = evenAtOrBelow(saturatingAdd(p->vy, lumU - lum));
        if (beyondSlowest(nvx) || beyondSlowest(nvy)) {
          p->vx = nvx;
          p->vy = nvy;
        }
        break;
      }
      case Steering::kRoundToEven: {
        const int32_t nvx = evenAtOrBelow(p->vx);
        const int32_t nvy = evenAtOrBelow(p->vy);
        if (beyondSlowest(nvx) || beyondSlowest(nvy)) {
          p->vx = nvx;
          p->vy = nvy;
        }
        break;
      }
    }

    // Fade by the brightness under the particle. Colours stay within about +-2^17: they
    // start at most 255 x 256 and a particle is freed once its largest one is negative.
    const int fade = (lum * controls.fadeFactor) >> settings.fadeShift;
    const int32_t c0 = p->c0 - fade;
    const int32_t c1 = p->c1 - fade;
    const int32_t c2 = p->c2 - fade;
    const bool dies = settings.deathRule == DeathRule::kAllNegative
                          ? (c0 < 0 && c1 < 0 && c2 < 0)
                          : (c0 < 0 || c1 < 0 || c2 < 0);
    if (dies) {
      p->alive = 0;
      continue;
    }
    p->c0 = c0;
    p->c1 = c1;
    p->c2 = c2;

    int blendSum[3] = {0, 0, 0};
    if constexpr (Write == StampWrite::kBlend) {
      for (int k = 0; k < 3; ++k) blendSum[k] = leftPixel[k] + upperPixel[k];
    }
    const StampColour colour{c0 >> 8, c1 >> 8, c2 >> 8};
    stampParticle<Bpp, Write>(trail, width, height, settings, px, py, colour, blendSum,
                              eightWayBlend);
  }
}

// ---- Trail and colour-keep passes

template <int Bpp>
void fadeTrailT(ParticleState& state, int trailFactor, FramePath path) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  uint8_t* trail = state.fTrail.data();
  const bool parallel = runsInParallel(state);
  if (path == FramePath::kReference) {
#pragma omp parallel for schedule(static) if (parallel)
    for (int y = 0; y < height; ++y) {
      fadeTrailRowReference<Bpp>(trail + y * stride, width, trailFactor);
    }
  } else {
#pragma omp parallel for schedule(static) if (parallel)
    for (int y = 0; y < height; ++y) fadeTrailRow<Bpp>(trail + y * stride, width, trailFactor);
  }
}

template <int Bpp>
void applyColorKeepT(ParticleState& state, int keepFactor) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  const uint8_t* trail = state.fTrail.data();
  uint8_t* fx = state.fFxImage.data();
#pragma omp parallel for schedule(static) if (runsInParallel(state))
  for (int y = 0; y < height; ++y) {
    colorKeepRowReference<Bpp>(trail + y * stride, fx + y * stride, width, keepFactor);
  }
}

// One row of the fused pass: keep into a stack scratch row chunk by chunk, then mix.
template <int Bpp>
void colorKeepAndMixRow(const uint8_t* trail, const uint8_t* in, uint8_t* out, int width,
                        int keepFactor, int fxAlpha) {
  alignas(16) uint8_t scratch[kFusedChunkPixels * Bpp];
  for (int x0 = 0; x0 < width; x0 += kFusedChunkPixels) {
    const int n = std::min(kFusedChunkPixels, width - x0);
    const size_t offset = static_cast<size_t>(x0) * Bpp;
    const uint8_t* fx = trail + offset;
    if (keepFactor != 0) {
      colorKeepRow<Bpp>(fx, scratch, n, keepFactor);
      fx = scratch;
    }
    if constexpr (Bpp == 4) {
      mixPlusRow(out + offset, in + offset, fx, n, fxAlpha);
    } else {
      mixOverRow(out + offset, in + offset, fx, n, fxAlpha);
    }
  }
}

template <int Bpp>
void colorKeepAndMixT(const ParticleState& state, const FrameControls& controls,
                      const uint8_t* input, uint8_t* output) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  const uint8_t* trail = state.fTrail.data();
  const int keepFactor = controls.keepFactor;
  const int fxAlpha = controls.fxAlpha;
#pragma omp parallel if (runsInParallel(state))
  {
    const ScopedRoundToNearest rounding;  // every worker mixes "over" in the same mode
#pragma omp for schedule(static)
    for (int y = 0; y < height; ++y) {
      colorKeepAndMixRow<Bpp>(trail + y * stride, input + y * stride, output + y * stride,
                              width, keepFactor, fxAlpha);
    }
  }
}

}  // namespace

int particleCapacity(int width, int height) {
  const double pixels = static_cast<double>(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
  return static_cast<int>(pixels / 10.0);
}

FrameControls deriveControls(const float* values, int capacity, const ParticlesSettings& settings) {
  float v[kNumControls];
  for (int i = 0; i < kNumControls; ++i) v[i] = saneValue(values[i]);
  FrameControls c{};
  c.birthLevel = truncProduct(v[kBirthValue], 255.0f);
  c.birthRange = truncProduct(v[kBirthRange], 255.0f);
  const double activeReal = static_cast<double>(capacity) * static_cast<double>(v[kMaxParticles]);
  c.activeCount = static_cast<int>(activeReal);
  c.birthsPerFrame = static_cast<int64_t>(0.1 * activeReal * static_cast<double>(v[kBirthRate]));
  c.fadeFactor = truncProduct(v[kFadeStrength], 65536.0f);      // 16 fraction bits
  c.trailFactor = truncProduct(v[kTrailStrength], 512.0f);      // x2 at 1, 8 fraction bits
  c.speedFactor = truncProduct(v[kParticleSpeed], 32768.0f);    // 1/8 pixel per unit at 1
  c.keepFactor = truncProduct(v[kColorKeep], static_cast<float>(settings.keepScale));
  c.alphaMode = truncProduct(v[kAlphaMode], 2.0f);
  c.fxAlpha = truncProduct(v[kFxAmount], 255.0f);
  return c;
}

void initParticleState(ParticleState& state, int width, int height, int bytesPerPixel,
                       float maxParticles, bool withFxImage) {
  state.width = width;
  state.height = height;
  state.bytesPerPixel = bytesPerPixel;
  state.capacity = particleCapacity(width, height);
  state.cellCols = width >> kCellShift;
  state.cellRows = height >> kCellShift;
  const size_t bytes = frameBytes(state);
  state.fTrail.assign(bytes, 0);
  state.fFxImage.assign(withFxImage ? bytes : 0, 0);
  state.fParticles.assign(static_cast<size_t>(state.capacity), Particle{});
  state.fNextParticle = 0;
  state.slotsTouched = 0;
  state.fBirthCooldown.assign(static_cast<size_t>(state.cellCols) * state.cellRows, 0);
  // One entry per cell column of this frame size, however wide.
  state.prevRowLevel.assign(static_cast<size_t>(state.cellCols), 0);
  // trunc(width x height / 10 x Max Particles) from the unrounded quotient.
  const double pixels = static_cast<double>(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
  state.fNumActive = static_cast<int32_t>(pixels / 10.0 * static_cast<double>(saneValue(maxParticles)));
}

void restartIfActiveCountChanged(ParticleState& state, const FrameControls& controls) {
  if (controls.activeCount == state.fNumActive) return;
  state.fNumActive = controls.activeCount;
  // Slots at or above slotsTouched were never written since the last restart: still zero.
  std::fill(state.fParticles.begin(), state.fParticles.begin() + state.slotsTouched, Particle{});
  state.slotsTouched = 0;
  state.fNextParticle = 0;
  std::fill(state.fBirthCooldown.begin(), state.fBirthCooldown.end(), int16_t{0});
}

void emitParticles(ParticleState& state, const FrameControls& controls, const uint8_t* input) {
  if (state.bytesPerPixel == 4) {
    emitParticlesT<4>(state, controls, input);
  } else {
    emitParticlesT<3>(state, controls, input);
  }
}

void fadeTrail(ParticleState& state, const FrameControls& controls, FramePath path) {
  if (controls.trailFactor == 0) {
    std::fill(state.fTrail.begin(), state.fTrail.end(), uint8_t{0});
    return;
  }
  // A factor of 256 maps every byte to itself.
  if (controls.trailFactor == 256 && path == FramePath::kOptimised) return;
  if (state.bytesPerPixel == 4) {
    fadeTrailT<4>(state, controls.trailFactor, path);
  } else {
    fadeTrailT<3>(state, controls.trailFactor, path);
  }
}

void updateParticles(ParticleState& state, const ParticlesSettings& settings,
                     const FrameControls& controls, const uint8_t* input) {
  const bool blend = settings.stampWrite == StampWrite::kBlend;
  if (state.bytesPerPixel == 4) {
    if (blend) {
      updateParticlesT<4, StampWrite::kBlend>(state, settings, controls, input);
    } else {
      updateParticlesT<4, StampWrite::kReplace>(state, settings, controls, input);
    }
  } else {
    if (blend) {
      updateParticlesT<3, StampWrite::kBlend>(state, settings, controls, input);
    } else {
      updateParticlesT<3, StampWrite::kReplace>(state, settings, controls, input);
    }
  }
}

void applyColorKeep(ParticleState& state, const FrameControls& controls) {
  std::memcpy(state.fFxImage.data(), state.fTrail.data(), frameBytes(state));
  if (controls.keepFactor == 0) return;
  if (state.bytesPerPixel == 4) {
    applyColorKeepT<4>(state, controls.keepFactor);
  } else {
    applyColorKeepT<3>(state, controls.keepFactor);
  }
}

void mixFx(uint8_t* output, const uint8_t* input, const uint8_t* fxImage, int width, int height,
           int bytesPerPixel, int fxAlpha) {
  const size_t stride = static_cast<size_t>(width) * bytesPerPixel;
  if (output != input) std::memcpy(output, input, stride * height);
  const ScopedRoundToNearest rounding;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = output + y * stride;
    if (bytesPerPixel == 4) {
      mixPlusRowReference(row, row, fxImage + y * stride, width, fxAlpha);
    } else {
      mixOverRowReference(row, row, fxImage + y * stride, width, fxAlpha);
    }
  }
}

void colorKeepAndMix(const ParticleState& state, const FrameControls& controls,
                     const uint8_t* input, uint8_t* output) {
  if (state.bytesPerPixel == 4) {
    colorKeepAndMixT<4>(state, controls, input, output);
  } else {
    colorKeepAndMixT<3>(state, controls, input, output);
  }
}

void runParticlesFrame(ParticleState& state, const ParticlesSettings& settings,
                       const float* values, const uint8_t* input, uint8_t* output,
                       FramePath path) {
  const FrameControls controls = deriveControls(values, state.capacity, settings);
  restartIfActiveCountChanged(state, controls);
  emitParticles(state, controls, input);
  fadeTrail(state, controls, path);
  updateParticles(state, settings, controls, input);
  if (path == FramePath::kReference && state.fFxImage.size() == state.fTrail.size()) {
    applyColorKeep(state, controls);
    mixFx(output, input, state.fFxImage.data(), state.width, state.height,
          state.bytesPerPixel, controls.fxAlpha);
  } else {
    colorKeepAndMix(state, controls, input, output);
  }
}

}  // namespace particles
