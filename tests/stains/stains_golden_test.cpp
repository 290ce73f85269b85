// Golden checksums of QelStains1 over fixed frame sequences, through plugMain only. The
// same executable runs with one and with two OpenMP threads, and on every platform the
// plug-in is built for; all must give these exact bytes.
//
// Each sequence runs the defaults, a reset through "Drawing" 0 that also takes a new
// "Num Particles", then frames with larger dots, a faster colour pull, a stronger magnet
// force, a lower step limit and a still X axis.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

struct ParameterChange {
  int frame;
  uint32_t index;
  float value;
};

// Frame t's parameter changes happen before frame t is processed.
const ParameterChange kSequence[] = {
    {6, 0, 0.0f},                  // Drawing 0: reset (the output of frame 6 is all zero)
    {6, 3, 0.05f},                 // Num Particles: n = 103 from this reset on
    {7, 0, 1.0f},  {7, 1, 1.0f},   // Dot Scale
    {7, 2, 0.9f},                  // Colorize Speed
    {10, 8, 1.0f}, {10, 7, 0.2f},  // Magnet Force, Step Max
    {10, 4, 0.5f},                 // Rot Angle X: no turning
};
constexpr int kFrames = 14;

uint32_t sequenceChecksum(int width, int height, int bpp) {
  PluginLibrary library("QelStains1");
  Instance instance(library, width, height, bpp);
  if (!instance.valid()) return 0;
  uint32_t crc = 0;
  for (int t = 0; t < kFrames; ++t) {
    for (const ParameterChange& change : kSequence) {
      if (change.frame == t) instance.setParameter(change.index, change.value);
    }
    std::vector<uint8_t> frame = testFrame(width, height, bpp, t);
    if (instance.processFrame(frame.data()) != FF_SUCCESS) return 0;
    crc = crc32(frame.data(), frame.size(), crc);
  }
  return crc;
}

struct Golden {
  int width, height, bpp;
  uint32_t crc;
};

// 320 x 240 is painted in bands over threads; 97 x 61 (odd sizes, lopsided dot extents at
// the borders) stays on one thread.
const Golden kGolden[] = {
    {320, 240, 3, 0x12ac0c7fu},
    {320, 240, 4, 0xceddfe00u},
    {97, 61, 3, 0x27a17ea7u},
    {97, 61, 4, 0x7026280du},
};

TEST(StainsGolden, SequenceChecksums) {
  for (const Golden& g : kGolden) {
    const uint32_t crc = sequenceChecksum(g.width, g.height, g.bpp);
    EXPECT_EQ(crc, g.crc) << g.width << "x" << g.height << "x" << g.bpp * 8 << ": got 0x"
                          << std::hex << crc;
  }
}

}  // namespace
}  // namespace qeltest
