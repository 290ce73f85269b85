// The built-in animated picture used when no input is given: integer arithmetic only, so
// every machine draws the same bytes. It has what every effect reacts to: dark and
// mid-grey areas, a band of cells near a quarter brightness, saturated colour bars and
// bright discs that move across the picture.
#pragma once

#include <cstdint>
#include <memory>

#include "host/frame_io.h"

namespace qelfx {

constexpr int kBuiltInWidth = 640;
constexpr int kBuiltInHeight = 360;
constexpr long kBuiltInFrames = 100;  // four seconds at the rate below
constexpr FrameRate kBuiltInRate = {25, 1};

// Draws frame `frameIndex` (0, 1, ...) into `frame`: packed blue, green, red (and alpha,
// always 255, for 4-byte pixels), top row first.
void renderBuiltInFrame(uint8_t* frame, int width, int height, int bytesPerPixel, long frameIndex);

std::unique_ptr<FrameSource> openBuiltInSource(int width, int height, int bytesPerPixel,
                                               long frames);

}  // namespace qelfx
