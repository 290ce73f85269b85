// Text for the gallery's labels: a 5 x 7 dot-matrix font covering printable ASCII.
#pragma once

#include <cstdint>
#include <string>

namespace qelfx {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // one blank column between characters

// Width in pixels of `text` drawn at `scale` (each dot scale x scale pixels).
int textWidth(const std::string& text, int scale);

// Draws `text` with its top-left corner at (x, y) into a packed image of `bytesPerPixel`
// (3 or 4) bytes per pixel, colour given as blue, green, red; dots outside the image are
// skipped. Characters outside printable ASCII are drawn as '?'.
void drawText(uint8_t* image, int width, int height, int bytesPerPixel, int x, int y,
              const std::string& text, int scale, const uint8_t colour[3]);

}  // namespace qelfx
