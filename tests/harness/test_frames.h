// Deterministic moving test pictures, integer-only so that every platform draws the same
// bytes: smooth gradients, a band of mid-grey cells, colour bars, a bright disc that
// moves around the picture and a varying alpha byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qeltest {

void renderTestFrame(uint8_t* frame, int width, int height, int bytesPerPixel, int frameIndex);
std::vector<uint8_t> testFrame(int width, int height, int bytesPerPixel, int frameIndex);

}  // namespace qeltest
