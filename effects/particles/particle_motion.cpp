// updateParticles: moves, steers and fades the particles in use, frees those that leave
// the frame or fade out, and stamps the others into the trail image in slot order.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "effects/particles/particle_rows.h"
#include "effects/particles/particle_system.h"
#include "effects/particles/particle_team.h"

#ifdef _OPENMP
#include <omp.h>
#endif
#if !defined(QEL_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#include <emmintrin.h>
#define QEL_PARTICLES_SSE2 1
#endif

namespace particles {

namespace {

// Positions are 16.16 fixed point.
constexpr int kFixedShift = 16;
// A steered velocity replaces the old one only when a component leaves -5..5.
constexpr int kSlowestSteeredSpeed = 5;
using team::kWalkBlocks;

// Clears the lowest bit: the even value at or below v (7 -> 6, -7 -> -8).
constexpr int32_t evenAtOrBelow(int32_t v) {
  return v & ~int32_t{1};
}

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

// What every visited particle shares in a frame.
struct WalkContext {
  const uint8_t* input;
  int width;
  int height;
  size_t stride;  // bytes per input row
  int64_t speed;  // speedFactor
  int fadeFactor;
  int fadeShift;
  Steering steering;
  DeathRule deathRule;
  bool alphaWeighted;  // QelParticles2 steering weights neighbours by alpha (4-byte, mode 1)
};

WalkContext walkContext(const ParticleState& state, const ParticlesSettings& settings,
                        const FrameControls& controls, const uint8_t* input) {
  return WalkContext{input,
                     state.width,
                     state.height,
                     static_cast<size_t>(state.width) * state.bytesPerPixel,
                     controls.speedFactor,
                     controls.fadeFactor,
                     settings.fadeShift,
                     settings.steering,
                     settings.deathRule,
                     state.bytesPerPixel == 4 && controls.alphaMode == 1};
}

// Steps 1 to 6 of one live particle: move, leave the frame, sample, steer, fade, die.
// Returns false when the particle is freed; otherwise fills `job` with its stamp.
template <int Bpp, StampWrite Write>
bool advanceParticle(Particle& p, const WalkContext& w, StampJob& job) {
  // Move. Products and sums in 64 bits: a velocity grown by steering cannot overflow,
  // and any position outside 32 bits lies outside the frame.
  const int64_t nx = p.x + ((w.speed * p.vx) >> 2);
  const int64_t ny = p.y + ((w.speed * p.vy) >> 2);
  const int64_t ix = nx >> kFixedShift;
  const int64_t iy = ny >> kFixedShift;
  if (ix < 0 || iy < 0 || ix >= w.width || iy >= w.height) {
    p.alive = 0;
    return false;
  }
  p.x = static_cast<int32_t>(nx);
  p.y = static_cast<int32_t>(ny);
  const int px = static_cast<int>(ix);
  const int py = static_cast<int>(iy);
  const uint8_t* pixel =
      w.input + static_cast<size_t>(py) * w.stride + static_cast<size_t>(px) * Bpp;
  // A missing left or upper neighbour (column 0, row 0) is the particle's own pixel.
  const uint8_t* leftPixel = px > 0 ? pixel - Bpp : pixel;
  const uint8_t* upperPixel = py > 0 ? pixel - w.stride : pixel;
  const int lum = brightness(pixel);

  switch (w.steering) {
    case Steering::kNone:
      break;
    case Steering::kBrightness: {
      int lumL = brightness(leftPixel);
      int lumU = brightness(upperPixel);
      if constexpr (Bpp == 4) {
        if (w.alphaWeighted) {
          lumL = (lumL * leftPixel[3]) >> 8;
          lumU = (lumU * upperPixel[3]) >> 8;
        }
      }
      const int32_t nvx = evenAtOrBelow(saturatingAdd(p.vx, lumL - lum));
      const int32_t nvy = evenAtOrBelow(saturatingAdd(p.vy, lumU - lum));
      if (beyondSlowest(nvx) || beyondSlowest(nvy)) {
        p.vx = nvx;
        p.vy = nvy;
      }
      break;
    }
    case Steering::kRoundToEven: {
      const int32_t nvx = evenAtOrBelow(p.vx);
      const int32_t nvy = evenAtOrBelow(p.vy);
      if (beyondSlowest(nvx) || beyondSlowest(nvy)) {
        p.vx = nvx;
        p.vy = nvy;
      }
      break;
    }
  }

  // Fade by the brightness under the particle. Colours stay within about +-2^17: they
  // start at most 255 x 256 and a particle is freed once its largest one is negative.
  const int fade = (lum * w.fadeFactor) >> w.fadeShift;
  const int32_t c0 = p.c0 - fade;
  const int32_t c1 = p.c1 - fade;
  const int32_t c2 = p.c2 - fade;
  const bool dies = w.deathRule == DeathRule::kAllNegative ? (c0 < 0 && c1 < 0 && c2 < 0)
                                                           : (c0 < 0 || c1 < 0 || c2 < 0);
  if (dies) {
    p.alive = 0;
    return false;
  }
  p.c0 = c0;
  p.c1 = c1;
  p.c2 = c2;

  job.px = static_cast<int16_t>(px);
  job.py = static_cast<int16_t>(py);
  // A stamp pixel gets max(e - dist, 0) with e = c >> 8 <= 255, which equals
  // max(max(e, 0) - dist, 0): the stamps need the levels only from 0 up.
  job.level[0] = static_cast<uint8_t>(std::max(c0 >> 8, 0));
  job.level[1] = static_cast<uint8_t>(std::max(c1 >> 8, 0));
  job.level[2] = static_cast<uint8_t>(std::max(c2 >> 8, 0));
  if constexpr (Write == StampWrite::kBlend) {
    for (int k = 0; k < 3; ++k) job.s[k] = static_cast<uint16_t>(leftPixel[k] + upperPixel[k]);
  }
  return true;
}

// ---- The plain walk: each particle moved and stamped in turn.

// Writes the stamp of particle p (at the pixel of `job`, with the neighbour sums of `job`)
// into the trail, clipped to the frame, pixel by pixel as defined.
template <int Bpp, StampWrite Write>
void stampReference(uint8_t* trail, int width, int height, const ParticlesSettings& settings,
                    const Particle& p, const StampJob& job, bool eightWayBlend) {
  const int centre[3] = {p.c0 >> 8, p.c1 >> 8, p.c2 >> 8};
  const int n = settings.stampSize;
  const int h = (n - 1) / 2;
  for (int j = 0; j < n; ++j) {
    const int y = job.py + settings.stampTopOffset + j;
    if (y < 0 || y >= height) continue;
    for (int i = 0; i < n; ++i) {
      const int x = job.px - h + i;
      if (x < 0 || x >= width) continue;
      const int dist = (std::abs(i - h) + std::abs(j - h)) * settings.falloffStep;
      int e[3];
      for (int k = 0; k < 3; ++k) e[k] = centre[k] - dist;
      if (e[0] <= 0 && e[1] <= 0 && e[2] <= 0) continue;
      uint8_t* t = trail + (static_cast<size_t>(y) * width + x) * Bpp;
      for (int k = 0; k < 3; ++k) {
        const int ek = std::max(e[k], 0);
        if constexpr (Write == StampWrite::kReplace) {
          t[k] = static_cast<uint8_t>(ek);
        } else if (eightWayBlend) {
          t[k] = static_cast<uint8_t>((t[k] + job.s[k] + ek) >> 3);
        } else {
          t[k] = static_cast<uint8_t>((t[k] + ((ek + job.s[k]) >> 2)) >> 1);
        }
      }
    }
  }
}

template <int Bpp, StampWrite Write>
void updateParticlesReference(ParticleState& state, const ParticlesSettings& settings,
                              const FrameControls& controls, const uint8_t* input) {
  const WalkContext w = walkContext(state, settings, controls, input);
  const bool eightWayBlend = Bpp == 4 && controls.alphaMode == 0;
  int32_t live = 0;
  for (int32_t slot = 0; slot < state.capacity; ++slot) {
    Particle& p = state.fParticles[slot];
    if (p.alive <= 0) continue;
    if (++live > state.fNumActive) break;
    StampJob job{};
    if (advanceParticle<Bpp, Write>(p, w, job)) {
      stampReference<Bpp, Write>(state.fTrail.data(), state.width, state.height, settings, p, job,
                                 eightWayBlend);
    }
  }
}

// ---- The parallel walk: blocks of slots moved in parallel, then row bands stamped in
// parallel, each band taking every stamp in slot order.

int64_t blockBegin(int block, int64_t slots) {
  return slots * block / kWalkBlocks;
}

// Diamond distance |i - h| + |j - h| of every pixel of an N x N stamp from its centre.
template <int N>
struct Diamond {
  static constexpr int h = (N - 1) / 2;
  int d[N][N];
  constexpr Diamond() : d() {
    for (int j = 0; j < N; ++j) {
      for (int i = 0; i < N; ++i) d[j][i] = (i > h ? i - h : h - i) + (j > h ? j - h : h - j);
    }
  }
};

// What a stamp writes at each diamond distance: the colour levels less that many falloff
// steps (negatives raised to 0), or for the blending stamp the term added to the trail;
// and whether any level is still positive there (if none, the pixel is left alone).
template <int N>
struct StampLevels {
  static constexpr int kDistances = N;  // 0 .. N - 1 = 2h
  uint8_t writes[kDistances];
  int add[kDistances][3];
};

template <StampWrite Write, int N>
void stampLevels(const StampJob& job, int falloffStep, bool eightWayBlend, StampLevels<N>& levels) {
  for (int d = 0; d < N; ++d) {
    const int dist = d * falloffStep;
    const int e[3] = {job.level[0] - dist, job.level[1] - dist, job.level[2] - dist};
    levels.writes[d] = e[0] > 0 || e[1] > 0 || e[2] > 0;
    for (int k = 0; k < 3; ++k) {
      const int ek = std::max(e[k], 0);
      if constexpr (Write == StampWrite::kReplace) {
        levels.add[d][k] = ek;
      } else if (eightWayBlend) {
        levels.add[d][k] = job.s[k] + ek;  // (trail + left + upper + stamp) >> 3
      } else {
        levels.add[d][k] = (ek + job.s[k]) >> 2;  // (trail + (stamp + left + upper) / 4) >> 1
      }
    }
  }
}

// One stamp pixel. The blends stay in bytes: at most (255 + 510 + 255) >> 3 = 127 and
// (255 + 191) >> 1 = 223.
template <StampWrite Write>
inline void stampPixel(uint8_t* t, const int* add, bool eightWayBlend) {
  if constexpr (Write == StampWrite::kReplace) {
    t[0] = static_cast<uint8_t>(add[0]);
    t[1] = static_cast<uint8_t>(add[1]);
    t[2] = static_cast<uint8_t>(add[2]);
  } else if (eightWayBlend) {
    t[0] = static_cast<uint8_t>((t[0] + add[0]) >> 3);
    t[1] = static_cast<uint8_t>((t[1] + add[1]) >> 3);
    t[2] = static_cast<uint8_t>((t[2] + add[2]) >> 3);
  } else {
    t[0] = static_cast<uint8_t>((t[0] + add[0]) >> 1);
    t[1] = static_cast<uint8_t>((t[1] + add[1]) >> 1);
    t[2] = static_cast<uint8_t>((t[2] + add[2]) >> 1);
  }
}

#ifdef QEL_PARTICLES_SSE2
// A 3 x 3 replacing stamp on 4-byte pixels, one 16-byte step per row: the stamp's three
// pixels and the pixel after them (which must lie in the frame) are loaded, the colour
// bytes of the pixels the stamp writes are replaced, and all four are stored back (the
// fourth pixel and the alpha bytes unchanged). The stamp's bytes are the centre levels less
// the falloff, saturating at 0, and a pixel is written when any of its bytes is above 0.
class ReplaceStamp3x4 {
 public:
  // falloffStep x 2 must stay below 256 (the byte lanes' subtraction).
  explicit ReplaceStamp3x4(int falloffStep) {
    const int s = falloffStep * 0x010101;  // the distance in bytes 0..2 of a pixel
    // Rows 0 and 2 lie one step from the centre row 1: distances 2 1 2, and 1 0 1 in row 1.
    edgeFalloff_ = _mm_set_epi32(0, 2 * s, s, 2 * s);
    midFalloff_ = _mm_set_epi32(0, s, 0, s);
  }

  // firstRow: the stamp's left pixel in stamp row j0; rows j0 .. j1 - 1 are written.
  void stampRows(uint8_t* firstRow, size_t stride, int j0, int j1, const StampJob& job) const {
    const int levels = job.level[0] | (job.level[1] << 8) | (job.level[2] << 16);
    const __m128i centre = _mm_set1_epi32(levels);
    // Colour bytes of the stamp's three pixels, not of the fourth.
    const __m128i colour = _mm_set_epi32(0, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    const __m128i edge = _mm_subs_epu8(centre, edgeFalloff_);
    const __m128i mid = _mm_subs_epu8(centre, midFalloff_);
    const __m128i edgeMask = _mm_andnot_si128(_mm_cmpeq_epi32(edge, zero), colour);
    const __m128i midMask = _mm_andnot_si128(_mm_cmpeq_epi32(mid, zero), colour);
    for (int j = j0; j < j1; ++j) {
      auto* row = reinterpret_cast<__m128i*>(firstRow + (j - j0) * stride);
      const __m128i m = j == 1 ? midMask : edgeMask;
      const __m128i v = j == 1 ? mid : edge;
      const __m128i t = _mm_loadu_si128(row);
      _mm_storeu_si128(row, _mm_or_si128(_mm_and_si128(m, v), _mm_andnot_si128(m, t)));
    }
  }

 private:
  __m128i edgeFalloff_;
  __m128i midFalloff_;
};
#endif

// Stamps every job whose rows meet rows [rowBegin, rowEnd), clipped to those rows.
template <int Bpp, StampWrite Write, int N>
void stampBand(uint8_t* trail, int width, const ParticlesSettings& settings, const StampJob* jobs,
               const int32_t* blockJobs, int32_t slots, int rowBegin, int rowEnd,
               bool eightWayBlend) {
  static constexpr Diamond<N> kDiamond;
  constexpr int h = Diamond<N>::h;
  const int topOffset = settings.stampTopOffset;
  const int falloffStep = settings.falloffStep;
  StampLevels<N> levels;
#ifdef QEL_PARTICLES_SSE2
  const bool fast3x4 = 2 * falloffStep < 256;
  const ReplaceStamp3x4 replace3x4(fast3x4 ? falloffStep : 0);
#endif
  for (int b = 0; b < kWalkBlocks; ++b) {
    const StampJob* job = jobs + blockBegin(b, slots);
    const StampJob* const end = job + blockJobs[b];
    for (; job < end; ++job) {
      const int top = job->py + topOffset;
      const int j0 = std::max(0, rowBegin - top), j1 = std::min(N, rowEnd - top);
      if (j0 >= j1) continue;
      const int left = job->px - h;
#ifdef QEL_PARTICLES_SSE2
      if constexpr (Bpp == 4 && Write == StampWrite::kReplace && N == 3) {
        if (fast3x4 && left >= 0 && left + 4 <= width) {
          replace3x4.stampRows(trail + (static_cast<size_t>(top + j0) * width + left) * 4,
                               static_cast<size_t>(width) * 4, j0, j1, *job);
          continue;
        }
      }
#endif
      stampLevels<Write, N>(*job, falloffStep, eightWayBlend, levels);
      if (left >= 0 && left + N <= width) {
        for (int j = j0; j < j1; ++j) {
          uint8_t* row = trail + (static_cast<size_t>(top + j) * width + left) * Bpp;
          for (int i = 0; i < N; ++i) {
            const int d = kDiamond.d[j][i];
            if (levels.writes[d]) stampPixel<Write>(row + i * Bpp, levels.add[d], eightWayBlend);
          }
        }
      } else {
        // Clipped at the left or right edge: `first` is the stamp's first pixel inside
        // the frame (no pointer is ever formed outside the trail image).
        const int i0 = std::max(0, -left), i1 = std::min(N, width - left);
        for (int j = j0; j < j1; ++j) {
          uint8_t* first = trail + (static_cast<size_t>(top + j) * width + (left + i0)) * Bpp;
          for (int i = i0; i < i1; ++i) {
            const int d = kDiamond.d[j][i];
            if (levels.writes[d]) {
              stampPixel<Write>(first + (i - i0) * Bpp, levels.add[d], eightWayBlend);
            }
          }
        }
      }
    }
  }
}

template <int Bpp, StampWrite Write>
void advanceBlocks(ParticleState& state, const WalkContext& w, team::WalkPlan& plan) {
  Particle* const store = state.fParticles.data();
  StampJob* const jobs = state.stampJobs.data();
  const int32_t slots = plan.slots;
#pragma omp for schedule(static)
  for (int b = 0; b < kWalkBlocks; ++b) {
    const int64_t begin = blockBegin(b, slots);
    const int64_t end = blockBegin(b + 1, slots);
    StampJob* out = jobs + begin;
    for (int64_t i = begin; i < end; ++i) {
      Particle& p = store[i];
      if (p.alive > 0 && advanceParticle<Bpp, Write>(p, w, *out)) ++out;
    }
    plan.blockJobs[b] = static_cast<int32_t>(out - (jobs + begin));
  }
}

template <int Bpp, StampWrite Write, int N>
void stampBands(ParticleState& state, const ParticlesSettings& settings, bool eightWayBlend,
                const team::WalkPlan& plan) {
#ifdef _OPENMP
  const int bands = omp_get_num_threads();
#else
  const int bands = 1;
#endif
  const int height = state.height;
#pragma omp for schedule(static)
  for (int band = 0; band < bands; ++band) {
    const int rowBegin = static_cast<int>(static_cast<int64_t>(height) * band / bands);
    const int rowEnd = static_cast<int>(static_cast<int64_t>(height) * (band + 1) / bands);
    stampBand<Bpp, Write, N>(state.fTrail.data(), state.width, settings, state.stampJobs.data(),
                             plan.blockJobs, plan.slots, rowBegin, rowEnd, eightWayBlend);
  }
}

}  // namespace

namespace team {

WalkPlan planWalk(const ParticleState& state) {
  WalkPlan plan;
  plan.slots = state.slotsTouched;
  // Slots at or above slotsTouched hold no live particle; fewer than fNumActive slots
  // cannot hold more than fNumActive.
  plan.countLive = state.slotsTouched > state.fNumActive;
  return plan;
}

void advanceParticles(ParticleState& state, const ParticlesSettings& settings,
                      const FrameControls& controls, const uint8_t* input, WalkPlan& plan) {
  if (plan.countLive) {
    // Count the live particles per block, then find the slot where the walk passes the
    // fNumActive-th (the omp single ends with a barrier, so every thread sees it).
    const Particle* store = state.fParticles.data();
    const int32_t touched = state.slotsTouched;
#pragma omp for schedule(static)
    for (int b = 0; b < kWalkBlocks; ++b) {
      int32_t count = 0;
      for (int64_t i = blockBegin(b, touched); i < blockBegin(b + 1, touched); ++i) {
        count += store[i].alive > 0;
      }
      plan.blockLive[b] = count;
    }
#pragma omp single
    {
      int32_t live = 0;
      for (int b = 0; b < kWalkBlocks; ++b) {
        if (live + plan.blockLive[b] <= state.fNumActive) {
          live += plan.blockLive[b];
          continue;
        }
        for (int64_t i = blockBegin(b, touched);; ++i) {
          if (store[i].alive > 0 && ++live > state.fNumActive) {
            plan.slots = static_cast<int32_t>(i);
            break;
          }
        }
        break;
      }
    }
  }
  const WalkContext w = walkContext(state, settings, controls, input);
  const bool blend = settings.stampWrite == StampWrite::kBlend;
  if (state.bytesPerPixel == 4) {
    if (blend) {
      advanceBlocks<4, StampWrite::kBlend>(state, w, plan);
    } else {
      advanceBlocks<4, StampWrite::kReplace>(state, w, plan);
    }
  } else {
    if (blend) {
      advanceBlocks<3, StampWrite::kBlend>(state, w, plan);
    } else {
      advanceBlocks<3, StampWrite::kReplace>(state, w, plan);
    }
  }
}

void stampParticles(ParticleState& state, const ParticlesSettings& settings,
                    const FrameControls& controls, const WalkPlan& plan) {
  const bool eightWayBlend = state.bytesPerPixel == 4 && controls.alphaMode == 0;
  const bool blend = settings.stampWrite == StampWrite::kBlend;
  const bool five = settings.stampSize == 5;
  if (state.bytesPerPixel == 4) {
    if (blend) {
      five ? stampBands<4, StampWrite::kBlend, 5>(state, settings, eightWayBlend, plan)
           : stampBands<4, StampWrite::kBlend, 3>(state, settings, eightWayBlend, plan);
    } else {
      five ? stampBands<4, StampWrite::kReplace, 5>(state, settings, eightWayBlend, plan)
           : stampBands<4, StampWrite::kReplace, 3>(state, settings, eightWayBlend, plan);
    }
  } else {
    if (blend) {
      five ? stampBands<3, StampWrite::kBlend, 5>(state, settings, eightWayBlend, plan)
           : stampBands<3, StampWrite::kBlend, 3>(state, settings, eightWayBlend, plan);
    } else {
      five ? stampBands<3, StampWrite::kReplace, 5>(state, settings, eightWayBlend, plan)
           : stampBands<3, StampWrite::kReplace, 3>(state, settings, eightWayBlend, plan);
    }
  }
}

}  // namespace team

void updateParticles(ParticleState& state, const ParticlesSettings& settings,
                     const FrameControls& controls, const uint8_t* input, FramePath path) {
  if (path == FramePath::kOptimised) {
    team::WalkPlan plan = team::planWalk(state);
#pragma omp parallel if (runsInParallel(state))
    {
      team::advanceParticles(state, settings, controls, input, plan);
      team::stampParticles(state, settings, controls, plan);
    }
    return;
  }
  const bool blend = settings.stampWrite == StampWrite::kBlend;
  if (state.bytesPerPixel == 4) {
    if (blend) {
      updateParticlesReference<4, StampWrite::kBlend>(state, settings, controls, input);
    } else {
      updateParticlesReference<4, StampWrite::kReplace>(state, settings, controls, input);
    }
  } else {
    if (blend) {
      updateParticlesReference<3, StampWrite::kBlend>(state, settings, controls, input);
    } else {
      updateParticlesReference<3, StampWrite::kReplace>(state, settings, controls, input);
    }
  }
}

}  // namespace particles
