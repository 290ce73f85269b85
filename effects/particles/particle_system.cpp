#include "effects/particles/particle_system.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "effects/particles/particle_rows.h"
#include "effects/particles/particle_team.h"

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
// Row passes stay on the calling thread below this many pixels per frame.
constexpr int64_t kParallelMinPixels = 1 << 16;
// Pixels per chunk of the fused keep-and-mix pass: its scratch row lives on the stack.
constexpr int kFusedChunkPixels = 256;

float saneValue(float value) {
  if (!(value == value)) return 0.0f;  // NaN counts as 0
  return std::clamp(value, 0.0f, 1.0f);
}

// trunc(value x scale), the product formed in single precision; value in [0, 1].
int truncProduct(float value, float scale) {
  return static_cast<int>(value * scale);
}

size_t frameBytes(const ParticleState& state) {
  return static_cast<size_t>(state.width) * state.height * state.bytesPerPixel;
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
      } else if (births < birthLimit &&
                 std::abs(level - controls.birthLevel) <= controls.birthRange) {
        ++births;
        counters[cx] = kCooldownAfterBirth;
        // The cell's corner pixel in 16.16 (cx, cy <= 8191, so no overflow).
        store[next] = Particle{1,
                               (cx * kCellSize) << 16,
                               (cy * kCellSize) << 16,
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
    if (*rest > kCooldownEligible + kCooldownStep)
      *rest = static_cast<int16_t>(*rest - kCooldownStep);
  }
}

// ---- Trail and colour-keep passes

template <int Bpp>
void fadeTrailReferenceT(ParticleState& state, int trailFactor) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  uint8_t* trail = state.fTrail.data();
#pragma omp parallel for schedule(static) if (runsInParallel(state))
  for (int y = 0; y < height; ++y) {
    fadeTrailRowReference<Bpp>(trail + y * stride, width, trailFactor);
  }
}

template <int Bpp>
void fadeTrailRowsT(ParticleState& state, int trailFactor) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  uint8_t* trail = state.fTrail.data();
  if (trailFactor == 0) {
#pragma omp for schedule(static) nowait
    for (int y = 0; y < height; ++y) std::memset(trail + y * stride, 0, stride);
  } else {
#pragma omp for schedule(static) nowait
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

// One row of the fused pass: keep into a stack scratch row chunk by chunk, then mix. At FX
// Amount 1 the mix gives the effect image's colour bytes and the input's byte 3 exactly,
// so the keep writes the output directly.
template <int Bpp>
void colorKeepAndMixRow(const uint8_t* trail, const uint8_t* in, uint8_t* out, int width,
                        int keepFactor, int fxAlpha) {
  if (keepFactor != 0 && fxAlpha == 255) {
    colorKeepRow<Bpp>(trail, out, width, keepFactor, in);
    return;
  }
  alignas(16) uint8_t scratch[kFusedChunkPixels * Bpp];
  for (int x0 = 0; x0 < width; x0 += kFusedChunkPixels) {
    const int n = std::min(kFusedChunkPixels, width - x0);
    const size_t offset = static_cast<size_t>(x0) * Bpp;
    const uint8_t* fx = trail + offset;
    if (keepFactor != 0) {
      colorKeepRow<Bpp>(fx, scratch, n, keepFactor, fx);
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
void colorKeepAndMixRowsT(const ParticleState& state, const FrameControls& controls,
                          const uint8_t* input, uint8_t* output) {
  const int width = state.width;
  const int height = state.height;
  const size_t stride = static_cast<size_t>(width) * Bpp;
  const uint8_t* trail = state.fTrail.data();
  const int keepFactor = controls.keepFactor;
  const int fxAlpha = controls.fxAlpha;
  const ScopedRoundToNearest rounding;  // every thread mixes "over" in the same mode
#pragma omp for schedule(static)
  for (int y = 0; y < height; ++y) {
    colorKeepAndMixRow<Bpp>(trail + y * stride, input + y * stride, output + y * stride, width,
                            keepFactor, fxAlpha);
  }
}

// A factor of 256 maps every trail byte to itself: no pass.
bool fadeChangesTrail(const FrameControls& controls) {
  return controls.trailFactor != 256;
}

}  // namespace

bool runsInParallel(const ParticleState& state) {
  return static_cast<int64_t>(state.width) * state.height >= kParallelMinPixels;
}

int particleCapacity(int width, int height) {
  const double pixels =
      static_cast<double>(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
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
  c.fadeFactor = truncProduct(v[kFadeStrength], 65536.0f);    // 16 fraction bits
  c.trailFactor = truncProduct(v[kTrailStrength], 512.0f);    // x2 at 1, 8 fraction bits
  c.speedFactor = truncProduct(v[kParticleSpeed], 32768.0f);  // 1/8 pixel per unit at 1
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
  state.stampJobs.assign(static_cast<size_t>(state.capacity), StampJob{});
  // trunc(width x height / 10 x Max Particles) from the unrounded quotient.
  const double pixels =
      static_cast<double>(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
  state.fNumActive =
      static_cast<int32_t>(pixels / 10.0 * static_cast<double>(saneValue(maxParticles)));
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
  if (path == FramePath::kReference) {
    if (controls.trailFactor == 0) {
      std::fill(state.fTrail.begin(), state.fTrail.end(), uint8_t{0});
    } else if (state.bytesPerPixel == 4) {
      fadeTrailReferenceT<4>(state, controls.trailFactor);
    } else {
      fadeTrailReferenceT<3>(state, controls.trailFactor);
    }
    return;
  }
  if (!fadeChangesTrail(controls)) return;
#pragma omp parallel if (runsInParallel(state))
  team::fadeTrailRows(state, controls.trailFactor);
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
#pragma omp parallel if (runsInParallel(state))
  team::colorKeepAndMixRows(state, controls, input, output);
}

void runParticlesFrame(ParticleState& state, const ParticlesSettings& settings, const float* values,
                       const uint8_t* input, uint8_t* output, FramePath path) {
  // The controls are truncated float products: whatever rounding mode the host left set,
  // they are formed rounding to nearest.
  const ScopedRoundToNearest rounding;
  const FrameControls controls = deriveControls(values, state.capacity, settings);
  restartIfActiveCountChanged(state, controls);
  emitParticles(state, controls, input);
  if (path == FramePath::kReference && state.fFxImage.size() == state.fTrail.size()) {
    fadeTrail(state, controls, path);
    updateParticles(state, settings, controls, input, path);
    applyColorKeep(state, controls);
    mixFx(output, input, state.fFxImage.data(), state.width, state.height, state.bytesPerPixel,
          controls.fxAlpha);
    return;
  }
  // The rest of the frame in one parallel region (its barriers keep the steps' order):
  // the fade and the particles' moves touch different data and run back to back; the
  // stamps wait for both, the keep-and-mix pass for the stamps.
  const bool fade = fadeChangesTrail(controls);
  team::WalkPlan plan = team::planWalk(state);
#pragma omp parallel if (runsInParallel(state))
  {
    if (fade) team::fadeTrailRows(state, controls.trailFactor);
    team::advanceParticles(state, settings, controls, input, plan);
    team::stampParticles(state, settings, controls, plan);
    team::colorKeepAndMixRows(state, controls, input, output);
  }
}

namespace team {

void fadeTrailRows(ParticleState& state, int trailFactor) {
  if (state.bytesPerPixel == 4) {
    fadeTrailRowsT<4>(state, trailFactor);
  } else {
    fadeTrailRowsT<3>(state, trailFactor);
  }
}

void colorKeepAndMixRows(const ParticleState& state, const FrameControls& controls,
                         const uint8_t* input, uint8_t* output) {
  if (state.bytesPerPixel == 4) {
    colorKeepAndMixRowsT<4>(state, controls, input, output);
  } else {
    colorKeepAndMixRowsT<3>(state, controls, input, output);
  }
}

}  // namespace team

}  // namespace particles
