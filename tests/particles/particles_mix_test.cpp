// The FX Amount mix: the row helpers against the float definitions for every combination
// of alpha, A and B (2^24 per kind), and the figures that pin the two kinds down.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "effects/particles/particle_rows.h"

namespace particles {
namespace {

// Every (A, B) pair once: pair p has A = p >> 8 and B = p & 255.
constexpr int kPairs = 256 * 256;

TEST(ParticlesMix, PlusRowEqualsTheFloatDefinitionForEveryInput) {
  // 4-byte pixels carry three pairs each in bytes 0..2; byte 3 must come from the input.
  const int width = (kPairs + 2) / 3;
  std::vector<uint8_t> in(static_cast<size_t>(width) * 4), fx(in.size()), out(in.size());
  for (int p = 0; p < width * 3; ++p) {
    const size_t byte = static_cast<size_t>(p / 3) * 4 + p % 3;
    in[byte] = static_cast<uint8_t>((p % kPairs) >> 8);
    fx[byte] = static_cast<uint8_t>(p % kPairs);
  }
  for (int x = 0; x < width; ++x) {
    in[x * 4 + 3] = static_cast<uint8_t>(x * 7 + 1);
    fx[x * 4 + 3] = static_cast<uint8_t>(x * 5 + 2);
  }
  long mismatches = 0;
  for (int alpha = 0; alpha < 256; ++alpha) {
    mixPlusRow(out.data(), in.data(), fx.data(), width, alpha);
    for (int p = 0; p < kPairs; ++p) {
      const size_t byte = static_cast<size_t>(p / 3) * 4 + p % 3;
      const int want = mixPlusReference(255 - alpha, alpha, p >> 8, p & 255);
      if (out[byte] != want || mixPlusInteger(255 - alpha, alpha, p >> 8, p & 255) != want) {
        if (++mismatches < 10) {
          ADD_FAILURE() << "alpha " << alpha << " A " << (p >> 8) << " B " << (p & 255) << ": row "
                        << int(out[byte]) << ", float " << want;
        }
      }
    }
    for (int x = 0; x < width; ++x) ASSERT_EQ(out[x * 4 + 3], in[x * 4 + 3]) << "pixel " << x;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(ParticlesMix, OverRowEqualsTheFloatDefinitionForEveryInput) {
  const int width = (kPairs + 2) / 3;
  std::vector<uint8_t> in(static_cast<size_t>(width) * 3), fx(in.size()), out(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    in[i] = static_cast<uint8_t>((i % kPairs) >> 8);
    fx[i] = static_cast<uint8_t>(i % kPairs);
  }
  const ScopedRoundToNearest rounding;
  long mismatches = 0;
  for (int alpha = 0; alpha < 256; ++alpha) {
    mixOverRow(out.data(), in.data(), fx.data(), width, alpha);
    for (int p = 0; p < kPairs; ++p) {
      const int want = mixOverReference(255 - alpha, alpha, p >> 8, p & 255);
      if (out[p] != want && ++mismatches < 10) {
        ADD_FAILURE() << "alpha " << alpha << " A " << (p >> 8) << " B " << (p & 255) << ": row "
                      << int(out[p]) << ", float " << want;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The reference rows run the same definitions; the fast rows must agree on short rows
// too, where only the scalar tail runs, and when the output is the input.
TEST(ParticlesMix, FastRowsEqualReferenceRowsAtEveryWidthAndInPlace) {
  const int kWidths[] = {1, 2, 3, 4, 5, 6, 7, 15, 16, 17, 31, 33};
  uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<uint8_t>(seed >> 24);
  };
  const ScopedRoundToNearest rounding;
  for (int width : kWidths) {
    for (int bpp : {3, 4}) {
      const size_t bytes = static_cast<size_t>(width) * bpp;
      std::vector<uint8_t> in(bytes), fx(bytes);
      for (auto& b : in) b = next();
      for (auto& b : fx) b = next();
      for (int alpha : {0, 1, 127, 128, 254, 255}) {
        std::vector<uint8_t> fast(bytes, 0xEE), plain(bytes, 0x11), inPlace = in;
        if (bpp == 4) {
          mixPlusRow(fast.data(), in.data(), fx.data(), width, alpha);
          mixPlusRowReference(plain.data(), in.data(), fx.data(), width, alpha);
          mixPlusRow(inPlace.data(), inPlace.data(), fx.data(), width, alpha);
        } else {
          mixOverRow(fast.data(), in.data(), fx.data(), width, alpha);
          mixOverRowReference(plain.data(), in.data(), fx.data(), width, alpha);
          mixOverRow(inPlace.data(), inPlace.data(), fx.data(), width, alpha);
        }
        EXPECT_EQ(fast, plain) << "width " << width << " bpp " << bpp << " alpha " << alpha;
        EXPECT_EQ(inPlace, plain) << "in place, width " << width << " bpp " << bpp;
      }
    }
  }
}

TEST(ParticlesMix, WorkedFigures) {
  struct Case {
    int fxAlpha, input, effect, plus, over;
  };
  const Case kCases[] = {
      // FX Amount 0.5: input 0, effect 255 -> 127 with 4-byte pixels, 63 with 3-byte
      // (127 x 127 / 255 = 63.25).
      {127, 0, 255, 127, 63},
      // FX Amount 1: the effect image exactly; FX Amount 0: the input exactly.
      {255, 17, 200, 200, 200},
      {255, 255, 0, 0, 0},
      {0, 17, 200, 17, 17},
      {0, 0, 255, 0, 0},
      // The 3-byte mix weights the effect by (a / 255)^2 and comes out darker.
      {200, 10, 250, 198, 156},
  };
  const ScopedRoundToNearest rounding;
  for (const Case& c : kCases) {
    EXPECT_EQ(mixPlusReference(255 - c.fxAlpha, c.fxAlpha, c.input, c.effect), c.plus)
        << "alpha " << c.fxAlpha;
    EXPECT_EQ(mixOverReference(255 - c.fxAlpha, c.fxAlpha, c.input, c.effect), c.over)
        << "alpha " << c.fxAlpha;
  }
}

}  // namespace
}  // namespace particles
