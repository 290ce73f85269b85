// The Particles effect as QelParticles2 runs it.
#pragma once

#include "effects/particles/particles_settings.h"

// A 3 x 3 replacing stamp over the particle (rows iy - 2 .. iy); steered away from brighter
// neighbours; fading shift 15; freed as soon as any colour is used up; Color Keep x 255.
inline constexpr ParticlesSettings kQelParticles2Settings = {
    .stampSize = 3,
    .stampTopOffset = -2,
    .falloffStep = 64,
    .stampWrite = StampWrite::kReplace,
    .steering = Steering::kBrightness,
    .fadeShift = 15,
    .deathRule = DeathRule::kAnyNegative,
    .keepScale = 255,
};
static_assert(isValidParticlesSettings(kQelParticles2Settings));
