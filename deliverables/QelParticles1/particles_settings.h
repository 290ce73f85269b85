// The Particles effect as QelParticles1 runs it.
#pragma once

#include "effects/particles/particles_settings.h"

// A 3 x 3 replacing stamp centred on the particle; velocities never change after birth;
// slow fading; freed once all three colours are used up; Color Keep x 256.
inline constexpr ParticlesSettings kQelParticles1Settings = {
    .stampSize = 3,
    .stampTopOffset = -1,
    .falloffStep = 64,
    .stampWrite = StampWrite::kReplace,
    .steering = Steering::kNone,
    .fadeShift = 11,
    .deathRule = DeathRule::kAllNegative,
    .keepScale = 256,
};
static_assert(isValidParticlesSettings(kQelParticles1Settings));
