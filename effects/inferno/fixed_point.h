// Small integer helpers shared by the Inferno steps.
#pragma once

#include <cstdint>

namespace inferno {

// from + floor((to - from) x weight / 256), for from, to in 0..65535 and weight in 0..256.
// Computed as (from x (256 - weight) + to x weight) >> 8: 256 x from is a multiple of 256, so
// the floor is the same, and the sum is never negative. For bytes the result is a byte and
// the sum stays below 2^16 (255 x 256).
constexpr int moveTowards(int from, int to, int weight) {
  return (from * (256 - weight) + to * weight) >> 8;
}

// The same quantity straight from its definition, with an arithmetic (flooring) shift: the
// plain form the optimised passes are tested against.
constexpr int moveTowardsByDefinition(int from, int to, int weight) {
  return from + (((to - from) * weight) >> 8);
}

}  // namespace inferno
