// FirePalette: the fire colours of heat 0..255, three 6-bit ramps (blue, green, red) that the
// brightness factor stretches to bytes. Shared by both Inferno plug-ins.
//
// Each ramp starts at 0 and grows by 0 or 1 from one heat to the next, so it is given by the
// heats at which it first reaches 1, 2, 3, ...: ramp[h] is the number of listed heats <= h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace inferno {

using Ramp = std::array<uint8_t, 256>;

template <size_t N>
constexpr Ramp rampFromSteps(const std::array<int, N>& steps) {
  Ramp ramp{};
  size_t reached = 0;
  for (int heat = 0; heat < 256; ++heat) {
    while (reached < N && steps[reached] <= heat) ++reached;
    ramp[heat] = static_cast<uint8_t>(reached);
  }
  return ramp;
}

// Heats at which each ramp steps up by one.
constexpr std::array<int, 11> kBlueSteps = {110, 139, 159, 176, 190, 202, 214, 224, 234, 243, 251};
constexpr std::array<int, 60> kGreenSteps = {
    44,  55,  64,  70,  76,  81,  85,  89,  93,  97,  100, 103, 106, 109, 112,
    115, 118, 120, 123, 126, 128, 131, 133, 136, 138, 140, 143, 145, 147, 150,
    152, 154, 157, 159, 161, 164, 166, 169, 171, 173, 176, 178, 181, 184, 186,
    189, 192, 195, 198, 201, 205, 208, 212, 216, 220, 225, 230, 236, 242, 250};
constexpr std::array<int, 62> kRedSteps = {
    28,  35,  40,  44,  48,  51,  54,  56,  59,  61,  63,  65,  67,  69,  71,  73,
    74,  76,  78,  79,  81,  82,  84,  86,  87,  89,  90,  92,  93,  94,  96,  97,
    99,  100, 102, 103, 105, 106, 108, 109, 111, 113, 114, 116, 118, 119, 121, 123,
    125, 127, 129, 131, 134, 136, 139, 142, 145, 149, 153, 158, 165, 175};

struct FirePalette {
  Ramp blue;
  Ramp green;
  Ramp red;
};

inline constexpr FirePalette kFirePalette = {rampFromSteps(kBlueSteps), rampFromSteps(kGreenSteps),
                                             rampFromSteps(kRedSteps)};

}  // namespace inferno
