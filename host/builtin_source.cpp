#include "host/builtin_source.h"

#include <algorithm>

namespace qelfx {

namespace {

// Triangle wave: 0 at t = 0, rising to span - 1 and falling back, period 2 * (span - 1).
int64_t bounce(int64_t t, int64_t span) {
  if (span <= 1) return 0;
  const int64_t period = 2 * (span - 1);
  const int64_t p = t % period;
  return p < span ? p : period - p;
}

struct Disc {
  int64_t x, y, radius;
  int r, g, b;  // edge colour; the centre is near white
};

uint8_t clampByte(int64_t value) {
  return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
}

class BuiltInSource : public FrameSource {
 public:
  BuiltInSource(int width, int height, int bytesPerPixel, long frames)
      : width_(width), height_(height), bytesPerPixel_(bytesPerPixel), frames_(frames) {}
  bool read(uint8_t* frame) override {
    if (next_ >= frames_) return false;
    renderBuiltInFrame(frame, width_, height_, bytesPerPixel_, next_++);
    return true;
  }
  long frameCount() const override { return frames_; }

 private:
  int width_, height_, bytesPerPixel_;
  long frames_;
  long next_ = 0;
};

}  // namespace

void renderBuiltInFrame(uint8_t* frame, int width, int height, int bytesPerPixel, long frameIndex) {
  // Positions are in units of 1/1024 of the width or height, so that the picture looks the
  // same at every size.
  constexpr int64_t kUnit = 1024;
  const int64_t t = frameIndex;
  const int64_t w = width;
  const int64_t h = height;
  const int64_t shortSide = std::min(w, h);
  // Three discs on their own paths; speeds in pixels per frame scale with the picture.
  const Disc discs[3] = {
      {bounce(t * w / 90 + w / 5, w), bounce(t * h / 70 + h / 3, h), shortSide * 16 / 100, 255, 200,
       60},
      {bounce(t * w / 60 + w * 2 / 3, w), bounce(t * h / 110 + h / 8, h), shortSide * 11 / 100, 120,
       200, 255},
      {bounce(t * w / 150 + w / 2, w), bounce(t * h / 50 + h * 3 / 5, h), shortSide * 8 / 100, 255,
       120, 220},
  };
  for (int64_t y = 0; y < h; ++y) {
    const int64_t v = y * kUnit / h;
    for (int64_t x = 0; x < w; ++x) {
      const int64_t u = x * kUnit / w;
      // A dark, slowly drifting colour wash.
      int64_t r = 30 + bounce(u + 3 * t, kUnit) * 90 / kUnit;
      int64_t g = 20 + bounce(v + 2 * t + 300, kUnit) * 70 / kUnit;
      int64_t b = 60 + bounce(u + v + 5 * t, kUnit) * 110 / kUnit;
      if (v >= 560 && v < 700) {
        // Scrolling cells of grey around a quarter brightness (50 to 95).
        const int64_t cell = ((u + 4 * t) / 32 + v / 35) % 10;
        r = g = b = 50 + cell * 5;
      } else if (v >= 840) {
        // Eight saturated bars moving to the right.
        const int64_t bar = ((u + kUnit * 64 - 6 * t % (kUnit * 64)) * 8 / kUnit) % 8;
        r = (bar & 4) ? 235 : 25;
        g = (bar & 2) ? 225 : 30;
        b = (bar & 1) ? 215 : 35;
      }
      for (const Disc& disc : discs) {
        const int64_t dx = x - disc.x;
        const int64_t dy = y - disc.y;
        const int64_t d2 = dx * dx + dy * dy;
        const int64_t r2 = disc.radius * disc.radius + 1;
        if (d2 < r2) {
          // Near white at the centre, the disc's colour at the rim.
          r = 255 - (255 - disc.r) * d2 / r2;
          g = 255 - (255 - disc.g) * d2 / r2;
          b = 250 - (250 - disc.b) * d2 / r2;
        }
      }
      uint8_t* p = frame + (y * w + x) * bytesPerPixel;
      p[0] = clampByte(b);
      p[1] = clampByte(g);
      p[2] = clampByte(r);
      if (bytesPerPixel == 4) p[3] = 255;
    }
  }
}

std::unique_ptr<FrameSource> openBuiltInSource(int width, int height, int bytesPerPixel,
                                               long frames) {
  return std::make_unique<BuiltInSource>(width, height, bytesPerPixel, frames);
}

}  // namespace qelfx
