// The Particles effect's steps on a particle state: the per-frame values, emission,
// motion, steering, fading, death, the stamps, the restart, and whole frame sequences of
// the optimised passes against the plain step-by-step ones and at one and two threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "deliverables/QelParticles1/particles_settings.h"
#include "deliverables/QelParticles2/particles_settings.h"
#include "deliverables/QelParticles3/particles_settings.h"
#include "effects/particles/particle_system.h"
#include "tests/harness/test_frames.h"

namespace particles {
namespace {

using Values = std::array<float, kNumControls>;

struct Deliverable {
  const char* name;
  const ParticlesSettings& settings;
  Values defaults;  // the parameter defaults the worked figures start from
};

const Deliverable kDeliverables[] = {
    {"QelParticles1",
     kQelParticles1Settings,
     {0.26f, 0.16f, 0.24f, 0.04f, 0.49f, 0.78f, 0.4f, 0.19f, 0.5f, 1.0f}},
    {"QelParticles2",
     kQelParticles2Settings,
     {0.26f, 0.24f, 0.17f, 1.0f, 0.49f, 0.2f, 0.24f, 0.3f, 0.5f, 1.0f}},
    {"QelParticles3",
     kQelParticles3Settings,
     {0.26f, 0.16f, 0.24f, 0.04f, 0.49f, 0.78f, 0.07f, 0.19f, 0.5f, 1.0f}},
};
const Deliverable& kP1 = kDeliverables[0];
const Deliverable& kP2 = kDeliverables[1];
const Deliverable& kP3 = kDeliverables[2];

ParticleState makeState(int width, int height, int bpp, float maxParticles = 1.0f) {
  ParticleState state;
  initParticleState(state, width, height, bpp, maxParticles, /*withFxImage=*/true);
  return state;
}

// A frame of one colour (alpha byte `alpha` for 4-byte pixels).
std::vector<uint8_t> uniformFrame(int width, int height, int bpp, int level, int alpha = 255) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bpp,
                             static_cast<uint8_t>(level));
  if (bpp == 4) {
    for (size_t i = 3; i < frame.size(); i += 4) frame[i] = static_cast<uint8_t>(alpha);
  }
  return frame;
}

void place(ParticleState& state, int slot, const Particle& p) {
  state.fParticles[slot] = p;
  state.slotsTouched = std::max(state.slotsTouched, slot + 1);
}

// A live particle at pixel (px, py) with velocity (vx, vy) and colour levels (b0, b1, b2).
Particle particleAt(int px, int py, int vx, int vy, int b0, int b1, int b2) {
  return Particle{1, px << 16, py << 16, vx, vy, b2 * 256, b1 * 256, b0 * 256};
}

FrameControls stillControls(int fadeFactor = 0, int alphaMode = 1) {
  FrameControls c{};
  c.fadeFactor = fadeFactor;
  c.alphaMode = alphaMode;
  c.trailFactor = 256;
  c.fxAlpha = 255;
  return c;
}

int liveCount(const ParticleState& state) {
  return static_cast<int>(std::count_if(state.fParticles.begin(), state.fParticles.end(),
                                        [](const Particle& p) { return p.alive > 0; }));
}

const uint8_t* trailPixel(const ParticleState& state, int x, int y) {
  return state.fTrail.data() + (static_cast<size_t>(y) * state.width + x) * state.bytesPerPixel;
}

// updateParticles, checked against the plain one-by-one walk run on a copy of the state.
void update(ParticleState& state, const ParticlesSettings& settings, const FrameControls& controls,
            const uint8_t* input) {
  ParticleState plain = state;
  updateParticles(plain, settings, controls, input, FramePath::kReference);
  updateParticles(state, settings, controls, input, FramePath::kOptimised);
  EXPECT_EQ(state.fTrail, plain.fTrail) << "the optimised walk stamped differently";
  for (int i = 0; i < state.capacity; ++i) {
    const Particle& a = state.fParticles[i];
    const Particle& b = plain.fParticles[i];
    ASSERT_EQ(std::vector<int32_t>({a.alive, a.x, a.y, a.vx, a.vy, a.c2, a.c1, a.c0}),
              std::vector<int32_t>({b.alive, b.x, b.y, b.vx, b.vy, b.c2, b.c1, b.c0}))
        << "slot " << i;
  }
}

// ---- Per-frame values

TEST(ParticlesControls, DefaultsAt640x480) {
  struct Want {
    int level, range, active;
    int64_t births;
    int fade, trail, speed, keep, alphaMode, fxAlpha;
  };
  const Want kWant[] = {
      {66, 40, 12288, 294, 2621, 250, 25559, 48, 1, 255},
      {66, 61, 7372, 125, 65536, 250, 6553, 76, 1, 255},
      {66, 40, 2150, 51, 2621, 250, 25559, 48, 1, 255},
  };
  ASSERT_EQ(particleCapacity(640, 480), 30720);
  for (int d = 0; d < 3; ++d) {
    const FrameControls c =
        deriveControls(kDeliverables[d].defaults.data(), 30720, kDeliverables[d].settings);
    const Want& w = kWant[d];
    SCOPED_TRACE(kDeliverables[d].name);
    EXPECT_EQ(c.birthLevel, w.level);
    EXPECT_EQ(c.birthRange, w.range);
    EXPECT_EQ(c.activeCount, w.active);
    EXPECT_EQ(c.birthsPerFrame, w.births);
    EXPECT_EQ(c.fadeFactor, w.fade);
    EXPECT_EQ(c.trailFactor, w.trail);
    EXPECT_EQ(c.speedFactor, w.speed);
    EXPECT_EQ(c.keepFactor, w.keep);
    EXPECT_EQ(c.alphaMode, w.alphaMode);
    EXPECT_EQ(c.fxAlpha, w.fxAlpha);
  }
}

TEST(ParticlesControls, NaNCountsAsZeroAndTheEndsOfTheRange) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float value;
    int level, active, fade, trail, keep1, keep2, alphaMode;
  };
  const Case kCases[] = {
      {nan, 0, 0, 0, 0, 0, 0, 0},
      {0.0f, 0, 0, 0, 0, 0, 0, 0},
      {-3.0f, 0, 0, 0, 0, 0, 0, 0},
      {0.49f, 124, 490, 32112, 250, 125, 124, 0},
      {0.5f, 127, 500, 32768, 256, 128, 127, 1},
      {1.0f, 255, 1000, 65536, 512, 256, 255, 2},
      {std::numeric_limits<float>::infinity(), 255, 1000, 65536, 512, 256, 255, 2},
  };
  for (const Case& c : kCases) {
    Values v;
    v.fill(c.value);
    const FrameControls p1 = deriveControls(v.data(), 1000, kP1.settings);
    const FrameControls p2 = deriveControls(v.data(), 1000, kP2.settings);
    SCOPED_TRACE(c.value);
    EXPECT_EQ(p1.birthLevel, c.level);
    EXPECT_EQ(p1.activeCount, c.active);
    EXPECT_EQ(p1.fadeFactor, c.fade);
    EXPECT_EQ(p1.trailFactor, c.trail);
    EXPECT_EQ(p1.keepFactor, c.keep1);
    EXPECT_EQ(p2.keepFactor, c.keep2);
    EXPECT_EQ(p1.alphaMode, c.alphaMode);
  }
}

TEST(ParticlesControls, CapacityAndTheActiveCountAtCreation) {
  struct Case {
    int width, height;
    float maxParticles;
    int capacity, activeAtCreation, activeInFrames;
  };
  const Case kCases[] = {
      {640, 480, 0.4f, 30720, 12288, 12288},
      {3, 3, 1.0f, 0, 0, 0},
      {29, 1, 0.7f, 2, 2, 1},  // 2.9 x 0.7 = 2.03 at creation, trunc(2.9) x 0.7 = 1.4 later
      {7, 3, 1.0f, 2, 2, 2},
  };
  for (const Case& c : kCases) {
    ParticleState state = makeState(c.width, c.height, 4, c.maxParticles);
    EXPECT_EQ(state.capacity, c.capacity) << c.width << "x" << c.height;
    EXPECT_EQ(state.fNumActive, c.activeAtCreation) << c.width << "x" << c.height;
    Values v = kP1.defaults;
    v[kMaxParticles] = c.maxParticles;
    EXPECT_EQ(deriveControls(v.data(), state.capacity, kP1.settings).activeCount, c.activeInFrames);
  }
}

// ---- Emission

// Controls that let every cell at brightness `level` give birth, without motion or fade.
FrameControls birthControls(int level, int64_t births, int active) {
  FrameControls c = stillControls();
  c.birthLevel = level;
  c.birthRange = 0;
  c.birthsPerFrame = births;
  c.activeCount = active;
  return c;
}

TEST(ParticlesEmission, CooldownCycleOfACell) {
  // Only the first cell of a 40 x 4 frame is at the birth level.
  ParticleState state = makeState(40, 4, 4);
  std::vector<uint8_t> input = uniformFrame(40, 4, 4, 0);
  for (int x = 0; x < 4; ++x) {
    for (int k = 0; k < 3; ++k) input[x * 4 + k] = 66;
  }
  const FrameControls c = birthControls(66, 100, state.fNumActive);
  std::vector<int> birthFrames;
  std::vector<int> counters;
  for (int frame = 0; frame < 100; ++frame) {
    const int before = state.fNextParticle;
    emitParticles(state, c, input.data());
    if (state.fNextParticle != before) birthFrames.push_back(frame);
    if (frame < 46) counters.push_back(state.fBirthCooldown[0]);
  }
  EXPECT_EQ(birthFrames, (std::vector<int>{0, 45, 90}));
  std::vector<int> want;
  for (int n = 100; n >= 12; n -= 2) want.push_back(n);
  want.push_back(100);
  EXPECT_EQ(counters, want);
}

TEST(ParticlesEmission, UniformGreyAtTheBirthLevel) {
  for (int bpp : {3, 4}) {
    ParticleState state = makeState(16, 12, bpp);  // 4 x 3 cells
    std::vector<uint8_t> input = uniformFrame(16, 12, bpp, 90);
    input[(4 * 16 + 8) * bpp + 2] = 93;  // cell (2, 1): bytes 90, 90, 93 -> level 91
    const FrameControls c = birthControls(90, 100, state.fNumActive);
    FrameControls loose = c;
    loose.birthRange = 1;
    emitParticles(state, loose, input.data());
    ASSERT_EQ(state.fNextParticle, 12) << bpp;
    for (int cy = 0; cy < 3; ++cy) {
      for (int cx = 0; cx < 4; ++cx) {
        const Particle& p = state.fParticles[cy * 4 + cx];
        const int level = (cx == 2 && cy == 1) ? 91 : 90;
        const int left = cx == 0 ? 0 : (cx == 3 && cy == 1 ? 91 : 90);
        const int above = cy == 0 ? 0 : (cx == 2 && cy == 2 ? 91 : 90);
        SCOPED_TRACE(testing::Message() << "bpp " << bpp << " cell " << cx << "," << cy);
        EXPECT_EQ(p.alive, 1);
        EXPECT_EQ(p.x, cx * 4 * 65536);
        EXPECT_EQ(p.y, cy * 4 * 65536);
        EXPECT_EQ(p.vx, left - level);
        EXPECT_EQ(p.vy, above - level);
        EXPECT_EQ(p.c0, 90 * 256);
        EXPECT_EQ(p.c2, (level == 91 ? 93 : 90) * 256);
      }
    }
  }
}

TEST(ParticlesEmission, TheBirthLimitFavoursTheTopRows) {
  ParticleState state = makeState(16, 12, 4);
  const std::vector<uint8_t> input = uniformFrame(16, 12, 4, 50);
  emitParticles(state, birthControls(50, 5, state.fNumActive), input.data());
  // The first five cells in row order, and no other.
  for (int cell = 0; cell < 12; ++cell) {
    EXPECT_EQ(state.fBirthCooldown[cell], cell < 5 ? 100 : 0) << cell;
    EXPECT_EQ(state.fParticles[cell].alive, cell < 5 ? 1 : 0) << cell;
  }
  EXPECT_EQ(state.fParticles[4].x, 0);
  EXPECT_EQ(state.fParticles[4].y, 4 << 16);
  // Cells still cooling down count down even when the limit stops births early.
  emitParticles(state, birthControls(50, 0, state.fNumActive), input.data());
  for (int cell = 0; cell < 12; ++cell) EXPECT_EQ(state.fBirthCooldown[cell], cell < 5 ? 98 : 0);
}

TEST(ParticlesEmission, BirthSlotsRingOverActiveCountOr3ByteCapacity) {
  // 40 x 40: capacity 160, 100 cells; with an active count of 30 the 4-byte ring wraps
  // after 30 births, the 3-byte ring only after 160.
  for (int bpp : {3, 4}) {
    ParticleState state = makeState(40, 40, bpp);
    const std::vector<uint8_t> input = uniformFrame(40, 40, bpp, 70);
    FrameControls c = birthControls(70, 1000, 30);
    restartIfActiveCountChanged(state, c);
    emitParticles(state, c, input.data());
    const int ring = bpp == 4 ? 30 : 160;
    EXPECT_EQ(state.fNextParticle, 100 % ring) << bpp;
    EXPECT_EQ(liveCount(state), std::min(100, ring)) << bpp;
    // The record of the 100th birth (cell 99) sits in slot 99 % ring.
    EXPECT_EQ(state.fParticles[99 % ring].x, 9 * 4 * 65536) << bpp;
    EXPECT_EQ(state.fParticles[99 % ring].y, 9 * 4 * 65536) << bpp;
  }
}

TEST(ParticlesEmission, FramesWiderThan7680CellColumns) {
  // 32767 pixels: 8191 cell columns. The level of the cell above is kept for every one.
  const int width = 32767, height = 8;
  ParticleState state = makeState(width, height, 3);
  std::vector<uint8_t> input = uniformFrame(width, height, 3, 90);
  for (int k = 0; k < 3; ++k) input[(4 * width + 8000 * 4) * 3 + k] = 60;  // cell (8000, 1)
  FrameControls c = birthControls(90, 1000000, state.fNumActive);
  c.birthRange = 30;
  emitParticles(state, c, input.data());
  ASSERT_EQ(state.fNextParticle, 2 * 8191);
  const Particle& top = state.fParticles[8000];
  const Particle& below = state.fParticles[8191 + 8000];
  const Particle& after = state.fParticles[8191 + 8001];
  EXPECT_EQ(top.x, 8000 * 4 * 65536);
  EXPECT_EQ(top.vy, -90);
  EXPECT_EQ(below.y, 4 * 65536);
  EXPECT_EQ(below.vx, 90 - 60);
  EXPECT_EQ(below.vy, 90 - 60);
  EXPECT_EQ(after.vx, 60 - 90);
  EXPECT_EQ(after.vy, 0);
}

TEST(ParticlesEmission, FramesWithoutCellsGiveNoBirths) {
  const int kSizes[][2] = {{1, 1}, {3, 3}, {3, 200}, {200, 3}, {2, 7}};
  for (const auto& size : kSizes) {
    for (int bpp : {3, 4}) {
      ParticleState state = makeState(size[0], size[1], bpp);
      const std::vector<uint8_t> input = uniformFrame(size[0], size[1], bpp, 66, 77);
      std::vector<uint8_t> output(input.size(), 1);
      Values v = kP1.defaults;
      v[kMaxParticles] = 1.0f;
      v[kBirthRate] = 1.0f;
      v[kBirthRange] = 1.0f;
      for (int frame = 0; frame < 3; ++frame) {
        runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
      }
      EXPECT_EQ(liveCount(state), 0);
      // No trail: at FX Amount 1 the colour bytes are black, alpha is the input's.
      for (size_t i = 0; i < output.size(); ++i) {
        ASSERT_EQ(output[i], bpp == 4 && i % 4 == 3 ? 77 : 0) << size[0] << "x" << size[1];
      }
    }
  }
}

TEST(ParticlesEmission, AChangeOfTheActiveCountRestartsTheSystem) {
  ParticleState state = makeState(64, 64, 4);
  const std::vector<uint8_t> input = qeltest::testFrame(64, 64, 4, 0);
  std::vector<uint8_t> output(input.size());
  Values v = kP1.defaults;
  v[kMaxParticles] = 0.5f;  // 409 x 0.5 = 204.5 -> 204
  v[kBirthRate] = 1.0f;
  v[kBirthRange] = 1.0f;
  runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
  runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
  ASSERT_GT(liveCount(state), 0);
  ASSERT_NE(state.fNextParticle, 0);
  const std::vector<uint8_t> trail = state.fTrail;
  const std::vector<int16_t> cooldown = state.fBirthCooldown;
  // A move too small to change the count: nothing is cleared.
  FrameControls c = deriveControls(v.data(), state.capacity, kP1.settings);
  v[kMaxParticles] = 0.501f;  // 204.9 -> 204
  ASSERT_EQ(deriveControls(v.data(), state.capacity, kP1.settings).activeCount, c.activeCount);
  restartIfActiveCountChanged(state, deriveControls(v.data(), state.capacity, kP1.settings));
  EXPECT_EQ(state.fBirthCooldown, cooldown);
  EXPECT_GT(liveCount(state), 0);
  // A change of the count clears particles, ring index and counters, not the trail.
  v[kMaxParticles] = 0.6f;
  restartIfActiveCountChanged(state, deriveControls(v.data(), state.capacity, kP1.settings));
  EXPECT_EQ(state.fNumActive, 245);
  EXPECT_EQ(liveCount(state), 0);
  EXPECT_EQ(state.fNextParticle, 0);
  for (const Particle& p : state.fParticles) {
    ASSERT_EQ(std::vector<int32_t>({p.alive, p.x, p.y, p.vx, p.vy, p.c2, p.c1, p.c0}),
              std::vector<int32_t>(8, 0));
  }
  EXPECT_EQ(state.fBirthCooldown, std::vector<int16_t>(cooldown.size(), 0));
  EXPECT_EQ(state.fTrail, trail);
  // Max Particles 0: no births and no particle moves.
  runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
  ASSERT_GT(liveCount(state), 0);
  v[kMaxParticles] = 0.0f;
  for (int frame = 0; frame < 3; ++frame) {
    runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
    EXPECT_EQ(state.fNumActive, 0);
    EXPECT_EQ(liveCount(state), 0);
    EXPECT_EQ(state.fNextParticle, 0);
  }
}

// ---- Motion, steering, fading, death

TEST(ParticlesMotion, MoveAndLeaveTheFrame) {
  ParticleState state = makeState(200, 20, 4);
  const std::vector<uint8_t> input = uniformFrame(200, 20, 4, 0);
  FrameControls c = stillControls();
  c.speedFactor = 25559;  // Particle Speed 0.78
  place(state, 0, particleAt(100, 10, -66, 0, 200, 200, 200));
  place(state, 1, particleAt(3, 10, -66, 0, 200, 200, 200));   // 6.4 pixels to the left
  place(state, 2, particleAt(7, 10, -66, 0, 200, 200, 200));   // lands in column 0
  place(state, 3, particleAt(100, 19, 0, 11, 200, 200, 200));  // (25559 x 11) >> 2: 1.07 rows down
  place(state, 4, particleAt(100, 0, 0, -1, 200, 200, 200));   // -0.1 rows: row -1
  update(state, kP1.settings, c, input.data());
  EXPECT_EQ(state.fParticles[0].x, (100 << 16) - 421724);
  EXPECT_EQ(state.fParticles[0].x >> 16, 93);
  EXPECT_EQ(state.fParticles[1].alive, 0);
  EXPECT_EQ(state.fParticles[1].x, 3 << 16);  // a particle that leaves keeps its position
  EXPECT_EQ(state.fParticles[2].alive, 1);
  EXPECT_EQ(state.fParticles[2].x >> 16, 0);
  EXPECT_EQ(state.fParticles[3].alive, 0);
  EXPECT_EQ(state.fParticles[4].alive, 0);
  // Leaving particles draw nothing: only the stamps of particles 0 and 2.
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 200; ++x) {
      const bool stamped = y >= 9 && y <= 11 && ((x >= 92 && x <= 94) || x <= 1);
      EXPECT_EQ(trailPixel(state, x, y)[0] != 0, stamped) << x << "," << y;
    }
  }
}

TEST(ParticlesMotion, FadeFiguresAndDeathRules) {
  struct Case {
    const Deliverable* d;
    int fadeFactor, lum;
    std::array<int, 3> colour;  // levels of bytes 0, 1, 2 at birth
    bool alive;
    std::array<int32_t, 3> c;  // c0, c1, c2 after one update (if alive)
  };
  const Case kCases[] = {
      // Fade Strength 0.04 over brightness 200: (200 x 2621) >> 11 = 255 per frame.
      {&kP1, 2621, 200, {100, 100, 100}, true, {25345, 25345, 25345}},
      {&kP3, 2621, 200, {100, 100, 100}, true, {25345, 25345, 25345}},
      // QelParticles2 at Fade Strength 1: (200 x 65536) >> 15 = 400.
      {&kP2, 65536, 200, {100, 100, 100}, true, {25200, 25200, 25200}},
      // A zero colour byte: QelParticles2 frees the particle at once, the others keep it.
      {&kP2, 65536, 200, {0, 100, 100}, false, {}},
      {&kP1, 2621, 200, {0, 100, 100}, true, {-255, 25345, 25345}},
      // All three used up.
      {&kP1, 65536, 200, {0, 1, 0}, false, {}},
      // Over black nothing fades, even a particle of colour 0.
      {&kP2, 65536, 0, {0, 0, 0}, true, {0, 0, 0}},
      // Fade Strength 0: nothing fades anywhere.
      {&kP1, 0, 255, {5, 6, 7}, true, {5 * 256, 6 * 256, 7 * 256}},
  };
  for (const Case& k : kCases) {
    ParticleState state = makeState(10, 10, 4);
    const std::vector<uint8_t> input = uniformFrame(10, 10, 4, k.lum);
    place(state, 0, particleAt(5, 5, 0, 0, k.colour[0], k.colour[1], k.colour[2]));
    update(state, k.d->settings, stillControls(k.fadeFactor), input.data());
    const Particle& p = state.fParticles[0];
    SCOPED_TRACE(testing::Message() << k.d->name << " fade " << k.fadeFactor << " lum " << k.lum);
    EXPECT_EQ(p.alive, k.alive ? 1 : 0);
    if (k.alive) {
      EXPECT_EQ((std::array<int32_t, 3>{p.c0, p.c1, p.c2}), k.c);
    }
  }
}

TEST(ParticlesMotion, SteeringOfQelParticles2) {
  struct Case {
    int bpp, alphaMode, alpha, lum;
    int vx, vy;
    int wantVx, wantVy;
  };
  const Case kCases[] = {
      // Alpha mode 1, byte 3 at 0: lumL = lumU = 0, pushed by -lum on both axes.
      {4, 1, 0, 100, 10, -10, -90, -110},
      {4, 1, 0, 100, 0, 0, -100, -100},
      // Byte 3 at 255: (lum x 255) >> 8 = lum - 1, a difference of -1 per axis.
      {4, 1, 255, 100, 10, -10, 8, -12},
      {4, 1, 255, 1, 21, 0, 20, -2},
      // Byte 3 at 255 over black: no difference; even-rounded only.
      {4, 1, 255, 0, 7, -7, 6, -8},
      // Unweighted (alpha modes 0 and 2, and 3-byte pixels): a uniform area only rounds.
      {4, 0, 0, 100, 7, -7, 6, -8},
      {4, 2, 0, 100, 7, 3, 6, 2},
      {3, 1, 0, 100, 7, 3, 6, 2},
      // Candidate within -5..5 on both axes: the old velocity stays.
      {4, 0, 0, 100, 5, 3, 5, 3},
      {3, 1, 0, 100, -5, 5, -6, 4},
      {4, 1, 255, 100, 5, 3, 5, 3},  // candidate 4, 2
  };
  for (const Case& k : kCases) {
    ParticleState state = makeState(10, 10, k.bpp);
    const std::vector<uint8_t> input = uniformFrame(10, 10, k.bpp, k.lum, k.alpha);
    place(state, 0, particleAt(5, 5, k.vx, k.vy, 255, 255, 255));
    update(state, kP2.settings, stillControls(0, k.alphaMode), input.data());
    const Particle& p = state.fParticles[0];
    EXPECT_EQ(p.vx, k.wantVx) << "case vx " << k.vx << " alpha " << k.alpha << " mode "
                              << k.alphaMode;
    EXPECT_EQ(p.vy, k.wantVy) << "case vy " << k.vy << " alpha " << k.alpha << " mode "
                              << k.alphaMode;
  }
}

TEST(ParticlesMotion, SteeringByTheLeftAndUpperNeighbours) {
  // A brighter pixel on the left pushes right, one above pushes down; at column 0 and
  // row 0 the particle's own pixel stands in for the missing neighbour.
  ParticleState state = makeState(10, 10, 3);
  std::vector<uint8_t> input = uniformFrame(10, 10, 3, 60);
  for (int k = 0; k < 3; ++k) {
    input[(5 * 10 + 4) * 3 + k] = 90;  // left of (5, 5)
    input[(4 * 10 + 0) * 3 + k] = 20;  // above (0, 5)
  }
  place(state, 0, particleAt(5, 5, 0, 0, 255, 255, 255));
  place(state, 1, particleAt(0, 5, 0, 0, 255, 255, 255));
  place(state, 2, particleAt(5, 0, 9, 9, 255, 255, 255));
  update(state, kP2.settings, stillControls(), input.data());
  EXPECT_EQ(state.fParticles[0].vx, 30);
  EXPECT_EQ(state.fParticles[0].vy, 0);
  EXPECT_EQ(state.fParticles[1].vx, 0);
  EXPECT_EQ(state.fParticles[1].vy, -40);
  EXPECT_EQ(state.fParticles[2].vx, 8);
  EXPECT_EQ(state.fParticles[2].vy, 8);
}

TEST(ParticlesMotion, VelocityRoundingOfQelParticles3) {
  struct Case {
    int vx, vy;
    std::array<int, 2> first, second;
  };
  const Case kCases[] = {
      {7, 0, {6, 0}, {6, 0}},    {-5, 0, {-6, 0}, {-6, 0}}, {5, 3, {5, 3}, {5, 3}},
      {4, -6, {4, -6}, {4, -6}}, {-7, 1, {-8, 0}, {-8, 0}}, {1, -1, {1, -1}, {1, -1}},
  };
  for (const Case& k : kCases) {
    ParticleState state = makeState(10, 10, 4);
    const std::vector<uint8_t> input = uniformFrame(10, 10, 4, 30);
    place(state, 0, particleAt(5, 5, k.vx, k.vy, 255, 255, 255));
    update(state, kP3.settings, stillControls(), input.data());
    EXPECT_EQ((std::array<int, 2>{state.fParticles[0].vx, state.fParticles[0].vy}), k.first)
        << k.vx << "," << k.vy;
    update(state, kP3.settings, stillControls(), input.data());
    EXPECT_EQ((std::array<int, 2>{state.fParticles[0].vx, state.fParticles[0].vy}), k.second)
        << k.vx << "," << k.vy;
  }
}

TEST(ParticlesMotion, QelParticles1KeepsItsVelocity) {
  ParticleState state = makeState(10, 10, 4);
  std::vector<uint8_t> input = uniformFrame(10, 10, 4, 30);
  input[(5 * 10 + 4) * 4] = 250;
  place(state, 0, particleAt(5, 5, 7, -3, 255, 255, 255));
  update(state, kP1.settings, stillControls(), input.data());
  EXPECT_EQ(state.fParticles[0].vx, 7);
  EXPECT_EQ(state.fParticles[0].vy, -3);
}

TEST(ParticlesMotion, TheWalkStopsAfterTheActiveCount) {
  // 3-byte pixels: births fill the whole store, but only the first fNumActive live
  // particles in slot order move and draw.
  ParticleState state = makeState(40, 40, 3);
  const std::vector<uint8_t> input = uniformFrame(40, 40, 3, 0);
  state.fNumActive = 2;
  place(state, 1, particleAt(5, 5, 10, 0, 255, 255, 255));
  place(state, 7, particleAt(5, 15, 10, 0, 255, 255, 255));
  place(state, 9, particleAt(5, 25, 10, 0, 255, 255, 255));
  FrameControls c = stillControls();
  c.speedFactor = 32768 * 2;  // 2.5 pixels per frame at vx 10... (65536 x 10) >> 2 = 163840
  update(state, kP1.settings, c, input.data());
  EXPECT_EQ(state.fParticles[1].x, (5 << 16) + 163840);
  EXPECT_EQ(state.fParticles[7].x, (5 << 16) + 163840);
  EXPECT_EQ(state.fParticles[9].x, 5 << 16);
  EXPECT_EQ(trailPixel(state, 5, 25)[0], 0);
  EXPECT_EQ(trailPixel(state, 7, 15)[0], 255);
  // A particle freed during the walk still counts towards it.
  place(state, 1, particleAt(39, 5, 100, 0, 255, 255, 255));
  update(state, kP1.settings, c, input.data());
  EXPECT_EQ(state.fParticles[1].alive, 0);
  EXPECT_EQ(state.fParticles[9].x, 5 << 16);
}

TEST(ParticlesMotion, VelocitiesThatGrowForHoursNeitherOverflowNorWrap) {
  // QelParticles2 parked at Particle Speed 0 beside a brighter (or darker) neighbour gains
  // speed every frame without bound; held at the int32 limits, it leaves the frame as soon
  // as it may move.
  const int32_t kMax = std::numeric_limits<int32_t>::max();
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  ParticleState state = makeState(10, 10, 4);
  std::vector<uint8_t> input = uniformFrame(10, 10, 4, 50);
  const auto setLevel = [&](int x, int y, int level) {
    for (int k = 0; k < 3; ++k) input[(y * 10 + x) * 4 + k] = static_cast<uint8_t>(level);
  };
  setLevel(4, 5, 250);  // left of A, which is pushed right by 200 a frame
  setLevel(2, 2, 250);  // B itself, pushed left by 200 (left neighbour 50) and up by 200
  place(state, 0, particleAt(5, 5, kMax - 101, 0, 255, 255, 255));
  place(state, 1, particleAt(2, 2, kMin + 50, kMin + 1, 255, 255, 255));
  FrameControls c = stillControls(0, 0);
  for (int frame = 0; frame < 3; ++frame) {
    update(state, kP2.settings, c, input.data());
    EXPECT_EQ(state.fParticles[0].vx, kMax - 1);  // the largest even value
    EXPECT_EQ(state.fParticles[0].vy, 0);
    EXPECT_EQ(state.fParticles[1].vx, kMin);
    EXPECT_EQ(state.fParticles[1].vy, kMin);
    EXPECT_EQ(state.fParticles[0].x, 5 << 16);
  }
  c.speedFactor = 32768;
  update(state, kP2.settings, c, input.data());
  EXPECT_EQ(state.fParticles[0].alive, 0);
  EXPECT_EQ(state.fParticles[1].alive, 0);
}

// ---- Stamps

// The trail's first colour byte as rows of numbers, for comparing a stamp with a picture.
std::vector<std::vector<int>> trailChannel(const ParticleState& state, int channel) {
  std::vector<std::vector<int>> rows(state.height, std::vector<int>(state.width));
  for (int y = 0; y < state.height; ++y) {
    for (int x = 0; x < state.width; ++x) rows[y][x] = trailPixel(state, x, y)[channel];
  }
  return rows;
}

struct StampCase {
  const Deliverable* d;
  int px, py;
  std::vector<std::vector<int>> want;  // channel 0 of a 7 x 7 trail after one stamp
};

TEST(ParticlesStamps, GeometryAndFalloffOnBlack) {
  // A still particle of level 255 over black (so nothing fades and the blend adds nothing).
  // QelParticles3 blends as (trail + (e + 0) / 4) / 2 = e / 8 for e = 255, 223, 191, 159, 127.
  const std::vector<StampCase> kCases = {
      {&kP1,
       3,
       3,
       {{0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 127, 191, 127, 0, 0},
        {0, 0, 191, 255, 191, 0, 0},
        {0, 0, 127, 191, 127, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      {&kP2,
       3,
       3,
       {{0, 0, 0, 0, 0, 0, 0},
        {0, 0, 127, 191, 127, 0, 0},
        {0, 0, 191, 255, 191, 0, 0},
        {0, 0, 127, 191, 127, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      {&kP3,
       3,
       3,
       {{0, 15, 19, 23, 19, 15, 0},
        {0, 19, 23, 27, 23, 19, 0},
        {0, 23, 27, 31, 27, 23, 0},
        {0, 19, 23, 27, 23, 19, 0},
        {0, 15, 19, 23, 19, 15, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      // Clipped at the top-left corner.
      {&kP1,
       0,
       0,
       {{255, 191, 0, 0, 0, 0, 0},
        {191, 127, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      {&kP2,
       0,
       0,
       {{191, 127, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      {&kP3,
       0,
       0,
       {{27, 23, 19, 0, 0, 0, 0},
        {23, 19, 15, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0}}},
      // Clipped at the bottom-right corner.
      {&kP1,
       6,
       6,
       {{0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 127, 191},
        {0, 0, 0, 0, 0, 191, 255}}},
      {&kP2,
       6,
       6,
       {{0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 127, 191},
        {0, 0, 0, 0, 0, 191, 255},
        {0, 0, 0, 0, 0, 127, 191}}},
      {&kP3,
       6,
       6,
       {{0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 15, 19, 23},
        {0, 0, 0, 0, 19, 23, 27},
        {0, 0, 0, 0, 23, 27, 31},
        {0, 0, 0, 0, 19, 23, 27}}},
  };
  for (const StampCase& k : kCases) {
    for (int bpp : {3, 4}) {
      ParticleState state = makeState(7, 7, bpp);
      const std::vector<uint8_t> input = uniformFrame(7, 7, bpp, 0);
      place(state, 0, particleAt(k.px, k.py, 0, 0, 255, 255, 255));
      update(state, k.d->settings, stillControls(), input.data());
      EXPECT_EQ(trailChannel(state, 0), k.want)
          << k.d->name << " at " << k.px << "," << k.py << " bpp " << bpp;
      EXPECT_EQ(trailChannel(state, 2), k.want)
          << k.d->name << " at " << k.px << "," << k.py << " bpp " << bpp;
    }
  }
}

TEST(ParticlesStamps, ReplacingStampWritesOnlyPositiveColours) {
  // Levels (100, 0, 30): the centre gets them as they are, the edge pixels (100 - 64, 0, 0),
  // and the corners, where every level falls to 0 or below, keep the old trail.
  ParticleState state = makeState(5, 5, 4);
  const std::vector<uint8_t> input = uniformFrame(5, 5, 4, 0);
  std::fill(state.fTrail.begin(), state.fTrail.end(), 77);
  place(state, 0, particleAt(2, 2, 0, 0, 100, 0, 30));
  update(state, kP1.settings, stillControls(), input.data());
  const uint8_t* centre = trailPixel(state, 2, 2);
  const uint8_t* edge = trailPixel(state, 1, 2);
  const uint8_t* corner = trailPixel(state, 1, 1);
  EXPECT_EQ((std::array<int, 3>{centre[0], centre[1], centre[2]}),
            (std::array<int, 3>{100, 0, 30}));
  EXPECT_EQ((std::array<int, 3>{edge[0], edge[1], edge[2]}), (std::array<int, 3>{36, 0, 0}));
  EXPECT_EQ((std::array<int, 3>{corner[0], corner[1], corner[2]}),
            (std::array<int, 3>{77, 77, 77}));
  EXPECT_EQ(trailPixel(state, 0, 0)[0], 77);
}

TEST(ParticlesStamps, BlendingStampWithItsNeighbours) {
  // Trail 100, input 40 everywhere but the particle's left (10) and upper (70) neighbours
  // in channel 0, so S0 = 80 and S1 = 80. Centre e = 255, far corner e = 255 - 4 x 32.
  struct Case {
    int bpp, alphaMode;
    int centre0, corner0, centre1;
  };
  const Case kCases[] = {
      // 4-byte, alpha mode 0: (T + S + e) >> 3.
      {4, 0, (100 + 80 + 255) >> 3, (100 + 80 + 127) >> 3, (100 + 80 + 255) >> 3},
      // Otherwise: (T + ((e + S) >> 2)) >> 1.
      {4, 1, (100 + ((255 + 80) >> 2)) >> 1, (100 + ((127 + 80) >> 2)) >> 1, 91},
      {4, 2, 91, 75, 91},
      {3, 0, 91, 75, 91},
  };
  for (const Case& k : kCases) {
    ParticleState state = makeState(9, 9, k.bpp);
    std::vector<uint8_t> input = uniformFrame(9, 9, k.bpp, 40);
    input[(4 * 9 + 3) * k.bpp] = 10;  // left of (4, 4)
    input[(3 * 9 + 4) * k.bpp] = 70;  // above (4, 4)
    std::fill(state.fTrail.begin(), state.fTrail.end(), 100);
    place(state, 0, particleAt(4, 4, 0, 0, 255, 255, 255));
    update(state, kP3.settings, stillControls(0, k.alphaMode), input.data());
    SCOPED_TRACE(testing::Message() << "bpp " << k.bpp << " alpha mode " << k.alphaMode);
    EXPECT_EQ(trailPixel(state, 4, 3)[0], k.centre0);  // falloff centre (ix, iy - 1)
    EXPECT_EQ(trailPixel(state, 2, 1)[0], k.corner0);  // stamp corner, distance 4
    EXPECT_EQ(trailPixel(state, 4, 3)[1], k.centre1);
    EXPECT_EQ(trailPixel(state, 1, 3)[0], 100);  // outside the stamp
    EXPECT_EQ(trailPixel(state, 4, 6)[0], 100);
  }
}

// ---- Whole frames

struct FrameStep {
  int frame;
  int param;
  float value;
};

// Parameter changes along a sequence, including Max Particles changes that restart.
const FrameStep kSteps[] = {
    {0, kMaxParticles, 1.0f},   {0, kBirthRate, 0.6f},      {0, kBirthRange, 0.5f},
    {4, kTrailStrength, 1.0f},  {6, kColorKeep, 1.0f},      {7, kFxAmount, 0.5f},
    {8, kAlphaMode, 0.0f},      {9, kMaxParticles, 0.3f},   {10, kParticleSpeed, 0.0f},
    {11, kFadeStrength, 0.0f},  {12, kParticleSpeed, 1.0f}, {13, kTrailStrength, 0.0f},
    {14, kTrailStrength, 0.7f}, {15, kAlphaMode, 1.0f},     {16, kFxAmount, 0.0f},
    {17, kFxAmount, 0.8f},      {18, kColorKeep, 0.0f},     {19, kMaxParticles, 0.31f},
    {20, kTrailStrength, 0.5f}, {21, kFadeStrength, 1.0f},  {22, kAlphaMode, 0.5f},
    {23, kMaxParticles, 0.0f},  {25, kMaxParticles, 0.8f},
};
constexpr int kSequenceFrames = 28;

enum class Buffers { kSeparate, kInPlace };

// Output frames of one sequence, all concatenated, plus the final trail.
std::vector<uint8_t> runSequence(const Deliverable& d, int width, int height, int bpp,
                                 FramePath path, Buffers buffers, int frames = kSequenceFrames) {
  ParticleState state = makeState(width, height, bpp, d.defaults[kMaxParticles]);
  Values v = d.defaults;
  std::vector<uint8_t> all;
  std::vector<uint8_t> input(static_cast<size_t>(width) * height * bpp);
  std::vector<uint8_t> output(input.size());
  for (int frame = 0; frame < frames; ++frame) {
    for (const FrameStep& s : kSteps) {
      if (s.frame == frame) v[s.param] = s.value;
    }
    qeltest::renderTestFrame(input.data(), width, height, bpp, frame);
    if (buffers == Buffers::kInPlace) {
      runParticlesFrame(state, d.settings, v.data(), input.data(), input.data(), path);
      all.insert(all.end(), input.begin(), input.end());
    } else {
      std::fill(output.begin(), output.end(), static_cast<uint8_t>(frame * 37));
      const std::vector<uint8_t> before = input;
      runParticlesFrame(state, d.settings, v.data(), input.data(), output.data(), path);
      EXPECT_EQ(input, before) << "the input frame was written";
      all.insert(all.end(), output.begin(), output.end());
    }
  }
  // The colour bytes of the trail are part of the state that later frames show.
  for (size_t i = 0; i < state.fTrail.size(); ++i) {
    if (bpp == 3 || i % 4 != 3) all.push_back(state.fTrail[i]);
  }
  return all;
}

TEST(ParticlesFrames, OptimisedFramesEqualTheStepByStepReferenceAndInPlaceEqualsCopy) {
  // Serial passes at this size; the parallel ones are compared with them below.
  const int width = 67, height = 45;
  for (const Deliverable& d : kDeliverables) {
    for (int bpp : {3, 4}) {
      SCOPED_TRACE(testing::Message() << d.name << " bpp " << bpp);
      const auto reference =
          runSequence(d, width, height, bpp, FramePath::kReference, Buffers::kSeparate);
      EXPECT_EQ(runSequence(d, width, height, bpp, FramePath::kOptimised, Buffers::kSeparate),
                reference);
      EXPECT_EQ(runSequence(d, width, height, bpp, FramePath::kOptimised, Buffers::kInPlace),
                reference);
      EXPECT_EQ(runSequence(d, width, height, bpp, FramePath::kReference, Buffers::kInPlace),
                reference);
    }
  }
}

#ifdef _OPENMP
// 331 x 203 pixels is enough for the passes to run in parallel; 16 frames take in a
// restart, Trail Strength 0 and 1, Color Keep 1 and every alpha mode.
TEST(ParticlesFrames, OneAndTwoThreadsGiveTheSameFrames) {
  const int saved = omp_get_max_threads();
  constexpr int kFrames = 16;
  for (const Deliverable& d : kDeliverables) {
    for (int bpp : {3, 4}) {
      omp_set_num_threads(1);
      const auto one =
          runSequence(d, 331, 203, bpp, FramePath::kOptimised, Buffers::kSeparate, kFrames);
      omp_set_num_threads(2);
      const auto two =
          runSequence(d, 331, 203, bpp, FramePath::kOptimised, Buffers::kSeparate, kFrames);
      EXPECT_EQ(one, two) << d.name << " bpp " << bpp;
    }
  }
  omp_set_num_threads(saved);
}
#endif

// The host may leave any rounding mode set on its thread; the frames must not change.
TEST(ParticlesFrames, TheCallersRoundingModeChangesNothing) {
  const int saved = std::fegetround();
  for (const Deliverable& d : kDeliverables) {
    for (int bpp : {3, 4}) {
      const auto nearest = runSequence(d, 67, 45, bpp, FramePath::kOptimised, Buffers::kSeparate);
      for (int mode : {FE_TOWARDZERO, FE_UPWARD, FE_DOWNWARD}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        const auto other = runSequence(d, 67, 45, bpp, FramePath::kOptimised, Buffers::kSeparate);
        std::fesetround(saved);
        EXPECT_EQ(other, nearest) << d.name << " bpp " << bpp << " mode " << mode;
      }
    }
  }
}

TEST(ParticlesFrames, TrailStrengthZeroShowsOnlyThisFramesStamps) {
  ParticleState state = makeState(96, 64, 4);
  Values v = kP1.defaults;
  v[kMaxParticles] = 1.0f;
  v[kBirthRate] = 1.0f;
  v[kBirthRange] = 1.0f;
  v[kTrailStrength] = 0.0f;
  std::vector<uint8_t> output(96 * 64 * 4);
  for (int frame = 0; frame < 6; ++frame) {
    const std::vector<uint8_t> input = qeltest::testFrame(96, 64, 4, frame);
    runParticlesFrame(state, kP1.settings, v.data(), input.data(), output.data());
    // Every lit trail pixel lies in the 3 x 3 stamp of a particle alive now.
    std::vector<bool> covered(96 * 64, false);
    for (const Particle& p : state.fParticles) {
      if (p.alive <= 0) continue;
      for (int y = (p.y >> 16) - 1; y <= (p.y >> 16) + 1; ++y) {
        for (int x = (p.x >> 16) - 1; x <= (p.x >> 16) + 1; ++x) {
          if (x >= 0 && y >= 0 && x < 96 && y < 64) covered[y * 96 + x] = true;
        }
      }
    }
    ASSERT_GT(liveCount(state), 0);
    for (int i = 0; i < 96 * 64; ++i) {
      const uint8_t* t = state.fTrail.data() + i * 4;
      if (t[0] || t[1] || t[2]) {
        ASSERT_TRUE(covered[i]) << "frame " << frame << " pixel " << i;
      }
    }
  }
}

TEST(ParticlesFrames, FadeStrengthZeroKeepsTheBirthColours) {
  for (const Deliverable& d : kDeliverables) {
    ParticleState state = makeState(96, 64, 3);
    Values v = d.defaults;
    v[kMaxParticles] = 1.0f;
    v[kBirthRate] = 1.0f;
    v[kBirthRange] = 1.0f;
    v[kFadeStrength] = 0.0f;
    v[kParticleSpeed] = 0.05f;
    std::vector<uint8_t> output(96 * 64 * 3);
    for (int frame = 0; frame < 8; ++frame) {
      const std::vector<uint8_t> input = qeltest::testFrame(96, 64, 3, frame);
      runParticlesFrame(state, d.settings, v.data(), input.data(), output.data());
    }
    ASSERT_GT(liveCount(state), 0) << d.name;
    for (const Particle& p : state.fParticles) {
      if (p.alive <= 0) continue;
      for (int32_t c : {p.c0, p.c1, p.c2}) {
        ASSERT_TRUE(c >= 0 && c % 256 == 0) << d.name << " colour " << c;
      }
    }
  }
}

}  // namespace
}  // namespace particles
