// The Particles effect's state and its frame: emission on a 4 x 4 cell grid, particle
// motion and stamping, the trail fade, the colour keep and the FX Amount mix. Free of the
// plug-in shell: the frame routine takes the parameter values and the frame buffers.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/particles/particles_settings.h"

namespace particles {

// Parameter indices (every deliverable has these ten; QelParticles2 adds an unused eleventh).
enum ParamIndex : int {
  kBirthValue = 0,
  kBirthRange = 1,
  kBirthRate = 2,
  kFadeStrength = 3,
  kTrailStrength = 4,
  kParticleSpeed = 5,
  kMaxParticles = 6,
  kColorKeep = 7,
  kAlphaMode = 8,
  kFxAmount = 9,
  kNumControls = 10,
};

// One particle: eight int32 fields in this order.
struct Particle {
  int32_t alive;  // 1 live, 0 free
  int32_t x;      // 16.16 fixed point; pixel column = x >> 16
  int32_t y;      // 16.16 fixed point; pixel row = y >> 16
  int32_t vx;     // brightness-difference units, scaled by the speed when moving
  int32_t vy;
  int32_t c2;  // colour of byte 2 in 1/256 levels (level x 256); negative while fading out
  int32_t c1;  // byte 1, same
  int32_t c0;  // byte 0, same
};
static_assert(sizeof(Particle) == 32, "eight int32 fields");

// The integer controls of one frame, derived from the parameter values.
struct FrameControls {
  int birthLevel;          // trunc(Birth Value x 255)
  int birthRange;          // trunc(Birth Range x 255)
  int activeCount;         // trunc(capacity x Max Particles)
  int64_t birthsPerFrame;  // trunc(0.1 x capacity x Max Particles x Birth Rate)
  int fadeFactor;          // trunc(Fade Strength x 65536)
  int trailFactor;         // trunc(Trail Strength x 512)
  int speedFactor;         // trunc(Particle Speed x 32768)
  int keepFactor;          // trunc(Color Keep x keepScale)
  int alphaMode;           // trunc(Alpha Mode x 2): 0, 1 or 2
  int fxAlpha;             // trunc(FX Amount x 255)
};

// Particle store size of a frame: trunc(width x height / 10), in double precision.
int particleCapacity(int width, int height);

// Controls from ten parameter values (NaN counts as 0, values are clamped into [0, 1]).
FrameControls deriveControls(const float* values, int capacity, const ParticlesSettings& settings);

// One particle's stamp of this frame, as the parallel update hands it from the motion
// phase to the stamping phase.
struct StampJob {
  int16_t px, py;    // the particle's pixel
  uint8_t level[3];  // levels of bytes 0..2 at the falloff centre: c >> 8, negatives as 0
  uint8_t unused;
  uint16_t s[3];  // blending stamp: left + upper input neighbour of bytes 0..2
};

struct ParticleState {
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;  // 3 or 4
  int capacity = 0;
  int cellCols = 0;                     // width / 4
  int cellRows = 0;                     // height / 4
  std::vector<uint8_t> fTrail;          // width x height x bytesPerPixel, persistent
  std::vector<uint8_t> fFxImage;        // same size; only the step-by-step frame uses it
  std::vector<Particle> fParticles;     // capacity records
  int32_t fNumActive = 0;               // particles in use, from Max Particles
  int32_t fNextParticle = 0;            // ring slot of the next birth
  int32_t slotsTouched = 0;             // slots below this may be live; none at or above
  std::vector<int16_t> fBirthCooldown;  // one counter per cell (its corner pixel)
  std::vector<int32_t> prevRowLevel;    // emission scratch: brightness of the cell above
  std::vector<StampJob> stampJobs;      // update scratch: capacity entries
};

// Whether the passes of a frame of this state spread over threads (not for tiny frames).
bool runsInParallel(const ParticleState& state);

// Sizes and zeroes every buffer for frames of width x height x bytesPerPixel, and sets
// fNumActive from the Max Particles value `maxParticles`. withFxImage also allocates the
// effect image for the step-by-step frame. Throws std::bad_alloc when memory runs out.
void initParticleState(ParticleState& state, int width, int height, int bytesPerPixel,
                       float maxParticles, bool withFxImage);

// How the passes run. kOptimised uses the fast row helpers and builds the effect image and
// mixes it with the input in one row pass over a small per-thread scratch row. kReference
// runs the plain row helpers step by step: the whole effect image into fFxImage, then the
// input copied into the output and mixed there (it needs a state made withFxImage, and
// runs kOptimised without one). Both give the same bytes.
enum class FramePath { kOptimised, kReference };

// One frame: input and output are width x height pixels of the state's pixel size; they may
// be the same memory. `values` holds the kNumControls parameter values. Never writes input.
void runParticlesFrame(ParticleState& state, const ParticlesSettings& settings, const float* values,
                       const uint8_t* input, uint8_t* output,
                       FramePath path = FramePath::kOptimised);

// The steps of a frame, in the order runParticlesFrame calls them.
void restartIfActiveCountChanged(ParticleState& state, const FrameControls& controls);
void emitParticles(ParticleState& state, const FrameControls& controls, const uint8_t* input);
void fadeTrail(ParticleState& state, const FrameControls& controls, FramePath path);
// kReference walks the particles one after the other, moving and stamping each in turn;
// kOptimised moves them in parallel blocks and then stamps in parallel row bands, each
// band taking the stamps in slot order, which gives the same trail.
void updateParticles(ParticleState& state, const ParticlesSettings& settings,
                     const FrameControls& controls, const uint8_t* input,
                     FramePath path = FramePath::kOptimised);
void applyColorKeep(ParticleState& state, const FrameControls& controls);
void mixFx(uint8_t* output, const uint8_t* input, const uint8_t* fxImage, int width, int height,
           int bytesPerPixel, int fxAlpha);
// applyColorKeep and mixFx in one row pass of the fast row helpers, without the effect image.
void colorKeepAndMix(const ParticleState& state, const FrameControls& controls,
                     const uint8_t* input, uint8_t* output);

}  // namespace particles
