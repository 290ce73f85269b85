// The Particles effect as QelParticles1 runs it.
#pragma once

#include "effects/particles/particles_settings.h"

// A 3 x 3 replacing stamp centred on the particle; velocities never change after birth;
// slow fading; freed once all three colours are used up; Color Keep x 256.
inline constexpr ParticlesSettings kQelParticles1Settings = {
    3,                        // stampSize
    -1,                       // stampTopOffset: rows iy - 1 .. iy + 1
    64,                       // falloffStep
    StampWrite::kReplace,
    Steering::kNone,
    11,                       // fadeShift
    DeathRule::kAllNegative,
    256,                      // keepScale
};
