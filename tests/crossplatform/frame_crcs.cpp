// Prints, for every deliverable and both pixel sizes, checksums of a fixed sequence of
// frames run through the plug-in: in place and in copy mode, with the defaults first and
// then two rounds of parameter changes (in range, at the ends, and outside the range
// where the clamp acts). It also prints the display texts of a few awkward values. The
// Linux and the Windows builds must print the same lines; a test compares them.
//
//   frame_crcs [--frames N] [--size WxH]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace {

using qeltest::Instance;
using qeltest::PluginLibrary;

// Frames at which the parameters change, and what they change to.
constexpr int kFirstChange = 6;
constexpr int kSecondChange = 11;

// Parameter p's value from kFirstChange on: tenths from 0 to 1, spread over the indices.
float firstChange(uint32_t p) {
  return static_cast<float>((p * 7 + 3) % 11) / 10.0f;
}

// From kSecondChange on: above the range, below it, and a middle value in turn.
float secondChange(uint32_t p) {
  switch (p % 3) {
    case 0:
      return 1.5f;
    case 1:
      return -0.25f;
    default:
      return 0.5f;
  }
}

void applySchedule(const Instance& instance, uint32_t numParams, int frame) {
  if (frame == kFirstChange) {
    for (uint32_t p = 0; p < numParams; ++p) instance.setParameter(p, firstChange(p));
  } else if (frame == kSecondChange) {
    for (uint32_t p = 0; p < numParams; ++p) instance.setParameter(p, secondChange(p));
  }
}

// Checksum of every output frame of the sequence, chained, or "failed at frame N".
std::string runSequence(const PluginLibrary& library, int width, int height, int bytesPerPixel,
                        int frames, bool copyMode) {
  Instance instance(library, width, height, bytesPerPixel);
  if (!instance.valid()) return "refused";
  const uint32_t numParams = library.numParameters();
  std::vector<uint8_t> output(instance.frameBytes(), 0);
  uint32_t crc = 0;
  for (int t = 0; t < frames; ++t) {
    applySchedule(instance, numParams, t);
    std::vector<uint8_t> frame = qeltest::testFrame(width, height, bytesPerPixel, t);
    uint32_t result;
    if (copyMode) {
      // The output frame keeps what the plug-in wrote last time, as in a host's loop.
      result = instance.processFrameCopy({frame.data()}, output.data());
    } else {
      result = instance.processFrame(frame.data());
      output = frame;
    }
    if (result != FF_SUCCESS) return "failed at frame " + std::to_string(t);
    crc = qeltest::crc32(output.data(), output.size(), crc);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
  return text;
}

// Display texts of awkward values, as the host would show them.
std::string displays(const PluginLibrary& library) {
  Instance instance(library, 8, 8, 4);
  if (!instance.valid()) return "refused";
  const float kValues[] = {0.0f,
                           1.0f,
                           0.125f,
                           1.0f / 3.0f,
                           -0.0f,
                           1e-7f,
                           2.5e9f,
                           std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN()};
  std::string line;
  for (float value : kValues) {
    instance.setParameter(0, value);
    const char* text = instance.display(0);
    line += " \"" + std::string(text, strnlen(text, 16)) + "\"";
  }
  return line;
}

bool parseSize(const char* text, int& width, int& height) {
  return std::sscanf(text, "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 16, width = 67, height = 45;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc &&
               parseSize(argv[i + 1], width, height)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: frame_crcs [--frames N] [--size WxH]\n");
      return 2;
    }
  }
  try {
    for (const char* name : qeltest::kDeliverableNames) {
      PluginLibrary library(name);
      for (int bytesPerPixel : {3, 4}) {
        for (bool copyMode : {false, true}) {
          std::printf("%s %d-bit %dx%d %d frames %s: %s\n", name, bytesPerPixel * 8, width, height,
                      frames, copyMode ? "copy" : "in place",
                      runSequence(library, width, height, bytesPerPixel, frames, copyMode).c_str());
        }
      }
      std::printf("%s displays:%s\n", name, displays(library).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
