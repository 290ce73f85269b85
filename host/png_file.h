// PNG files through libpng.
#pragma once

#include <cstdint>
#include <string>

namespace qelfx {

// Writes an 8-bit RGB PNG from packed blue-green-red(-alpha) pixels; the alpha byte of
// 4-byte pixels is left out. Throws HostError when the file cannot be written.
void writePng(const std::string& path, const uint8_t* pixels, int width, int height,
              int bytesPerPixel);

}  // namespace qelfx
