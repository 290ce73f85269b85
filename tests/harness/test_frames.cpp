#include "tests/harness/test_frames.h"

namespace qeltest {

namespace {

// Triangle wave over 0 .. span - 1 (span >= 1).
int bounce(int t, int span) {
  if (span <= 1) return 0;
  const int period = 2 * (span - 1);
  const int p = t % period;
  return p < span ? p : period - p;
}

}  // namespace

void renderTestFrame(uint8_t* frame, int width, int height, int bytesPerPixel, int frameIndex) {
  const int t = frameIndex;
  const int discX = bounce(t * 7 + width / 3, width);
  const int discY = bounce(t * 5 + height / 4, height);
  const int radius = 2 + (width < height ? width : height) / 6;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = frame + (static_cast<size_t>(y) * width + x) * bytesPerPixel;
      int b = width > 1 ? x * 255 / (width - 1) : 128;
      int g = height > 1 ? y * 255 / (height - 1) : 128;
      int r = (x + y + t * 3) & 255;
      // Colour bars in the lower quarter, a band of grey near a quarter brightness.
      if (y * 4 >= height * 3) {
        const int bar = ((x + t * 2) * 8 / (width + 1)) & 7;
        b = (bar & 1) ? 230 : 20;
        g = (bar & 2) ? 220 : 30;
        r = (bar & 4) ? 240 : 10;
      } else if (y * 8 >= height * 3 && y * 8 < height * 4) {
        b = g = r = 60 + ((x / 4 + t) & 15);
      }
      const int dx = x - discX;
      const int dy = y - discY;
      if (dx * dx + dy * dy <= radius * radius) {
        b = 250;
        g = 245;
        r = 240 - ((dx * dx + dy * dy) * 40) / (radius * radius + 1);
      }
      p[0] = static_cast<uint8_t>(b);
      p[1] = static_cast<uint8_t>(g);
      p[2] = static_cast<uint8_t>(r);
      if (bytesPerPixel == 4) p[3] = static_cast<uint8_t>((x * 3 + y * 5 + t * 11) & 255);
    }
  }
}

std::vector<uint8_t> testFrame(int width, int height, int bytesPerPixel, int frameIndex) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
  renderTestFrame(frame.data(), width, height, bytesPerPixel, frameIndex);
  return frame;
}

}  // namespace qeltest
