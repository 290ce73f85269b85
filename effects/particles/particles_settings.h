// What sets the three Particles deliverables apart: one record per deliverable, read by the
// one effect. Each deliverable's folder defines kParticlesSettings.
#pragma once

// How a stamp pixel is written into the trail image.
enum class StampWrite {
  kReplace,  // colour bytes become the stamp's falloff colour
  kBlend,    // averaged with the trail pixel and the input's left and upper neighbours
};

// How a particle's velocity changes after its birth.
enum class Steering {
  kNone,         // never
  kBrightness,   // pushed away from brighter left and upper neighbours, then even-rounded
  kRoundToEven,  // only rounded down to even components
};

// When a fading particle is freed.
enum class DeathRule {
  kAllNegative,  // all three colour fields below zero
  kAnyNegative,  // any colour field below zero
};

struct ParticlesSettings {
  int stampSize;       // pixels per side of the square stamp: 3 or 5
  int stampTopOffset;  // first stamp row relative to the particle's row (negative: above)
  int falloffStep;     // colour levels lost per step of diamond distance from the centre
  StampWrite stampWrite;
  Steering steering;
  int fadeShift;  // fade per frame = (brightness x fadeFactor) >> fadeShift
  DeathRule deathRule;
  int keepScale;  // keepFactor = trunc(Color Keep x keepScale): 256 or 255
};

// Settings the effect can run: the stamps come in two sizes.
constexpr bool isValidParticlesSettings(const ParticlesSettings& s) {
  return (s.stampSize == 3 || s.stampSize == 5) && s.falloffStep >= 0 && s.fadeShift >= 0 &&
         s.fadeShift < 31 && s.keepScale >= 0 && s.keepScale <= 256;
}

extern const ParticlesSettings kParticlesSettings;
