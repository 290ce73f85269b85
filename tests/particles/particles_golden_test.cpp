// Golden checks of the three Particles plug-ins: a CRC-32 of every output frame of a
// sequence of moving test pictures, with parameter changes along the way (Max Particles
// among them, which restarts the particle system). Run at one and at two threads; the
// pinned values come from this implementation's own output and must hold for both.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

struct Change {
  int frame;
  uint32_t param;
  float value;
};

// Parameter indices: 0 Birth Value, 1 Birth Range, 2 Birth Rate, 3 Fade Strength,
// 4 Trail Strength, 5 Particle Speed, 6 Max Particles, 7 Color Keep, 8 Alpha Mode,
// 9 FX Amount.
const Change kChanges[] = {
    {0, 6, 0.9f},   {0, 2, 0.7f},  {0, 1, 0.5f},  {6, 4, 0.8f},  {9, 7, 0.9f},    {12, 6, 0.35f},
    {14, 9, 0.55f}, {16, 8, 0.0f}, {18, 5, 0.3f}, {20, 3, 0.5f}, {22, 6, 0.352f}, {24, 4, 0.0f},
    {25, 4, 0.6f},  {27, 8, 1.0f}, {29, 9, 1.0f}, {31, 6, 0.6f}, {33, 0, 0.8f},   {35, 5, 1.0f},
};
constexpr int kFrames = 36;
constexpr int kWidth = 320, kHeight = 240;  // large enough for the passes to run in parallel

uint32_t sequenceCrc(const char* plugin, int bpp) {
  PluginLibrary library(plugin);
  Instance instance(library, kWidth, kHeight, bpp);
  if (!instance.valid()) return 0;
  std::vector<uint8_t> input(instance.frameBytes()), output(instance.frameBytes());
  uint32_t crc = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    for (const Change& c : kChanges) {
      if (c.frame == frame) instance.setParameter(c.param, c.value);
    }
    renderTestFrame(input.data(), kWidth, kHeight, bpp, frame);
    if (instance.processFrameCopy({input.data()}, output.data()) != FF_SUCCESS) return 0;
    crc = crc32(output.data(), output.size(), crc);
  }
  return crc;
}

TEST(ParticlesGolden, FrameSequences) {
  struct Case {
    const char* plugin;
    int bpp;
    uint32_t crc;
  };
  const Case kCases[] = {
      {"QelParticles1", 3, 0x3FE5FC0Du}, {"QelParticles1", 4, 0xB6F7E590u},
      {"QelParticles2", 3, 0x19668BB0u}, {"QelParticles2", 4, 0x23A64752u},
      {"QelParticles3", 3, 0x0B9248A8u}, {"QelParticles3", 4, 0x6D9D866Cu},
  };
  for (const Case& c : kCases) {
    const uint32_t crc = sequenceCrc(c.plugin, c.bpp);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08Xu", static_cast<unsigned>(crc));
    EXPECT_EQ(crc, c.crc) << c.plugin << " " << c.bpp * 8 << " bits: " << text;
  }
}

}  // namespace
}  // namespace qeltest
