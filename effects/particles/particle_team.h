// The optimised frame's passes as parts of one parallel region: each function below holds
// work-sharing loops that bind to the enclosing parallel region, so every thread of the
// team must call it, in the same order. Called outside a parallel region, a function runs
// its loops on the calling thread alone.
#pragma once

#include <cstdint>

#include "effects/particles/particle_system.h"

namespace particles::team {

// Slot blocks of the particle walk: contiguous, in slot order, shared out statically.
constexpr int kWalkBlocks = 64;

// What the particle walk of one frame covers, and where each block's stamps went.
struct WalkPlan {
  int32_t slots = 0;       // slots [0, slots) are walked
  bool countLive = false;  // slots must be found by counting live particles first
  int32_t blockLive[kWalkBlocks] = {};
  int32_t blockJobs[kWalkBlocks] = {};
};

// Decided before the region: the walk ends where the fNumActive-th live particle is passed,
// which can only happen when more slots than that may hold live particles.
WalkPlan planWalk(const ParticleState& state);

// Trail fade of the optimised frame, without a barrier at the end: the next pass that
// depends on the trail must follow a barrier (advanceParticles ends with one).
void fadeTrailRows(ParticleState& state, int trailFactor);

// Moves, steers, fades and frees the walked particles, block by block in parallel, and lists
// the stamps of each block in slot order.
void advanceParticles(ParticleState& state, const ParticlesSettings& settings,
                      const FrameControls& controls, const uint8_t* input, WalkPlan& plan);

// Writes the listed stamps into the trail: one band of rows per thread, each band taking
// the stamps in slot order, so every pixel sees them in the order of the plain walk.
void stampParticles(ParticleState& state, const ParticlesSettings& settings,
                    const FrameControls& controls, const WalkPlan& plan);

// The colour keep and the FX Amount mix in one row pass, through a per-thread scratch row.
void colorKeepAndMixRows(const ParticleState& state, const FrameControls& controls,
                         const uint8_t* input, uint8_t* output);

}  // namespace particles::team
