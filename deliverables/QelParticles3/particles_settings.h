// The Particles effect as QelParticles3 runs it.
#pragma once

#include "effects/particles/particles_settings.h"

// A 5 x 5 blending stamp (rows iy - 3 .. iy + 1, softer falloff); velocities rounded down
// to even; slow fading; freed once all three colours are used up; Color Keep x 256.
inline constexpr ParticlesSettings kQelParticles3Settings = {
    .stampSize = 5,
    .stampTopOffset = -3,
    .falloffStep = 32,
    .stampWrite = StampWrite::kBlend,
    .steering = Steering::kRoundToEven,
    .fadeShift = 11,
    .deathRule = DeathRule::kAllNegative,
    .keepScale = 256,
};
static_assert(isValidParticlesSettings(kQelParticles3Settings));
