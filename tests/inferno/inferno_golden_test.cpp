// Golden checksums of the Inferno plug-ins: 40 frames of the moving test picture per
// deliverable, pixel size and orientation, with parameter changes along the way. The values
// are pinned from this implementation's own output; CTest runs this file with one and with
// two threads, and the Windows build runs it too, so all must agree.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace {

// Large enough for every pass to spread over threads (at least 2^15 pixels per pass), and
// not a multiple of the 32-pixel flow blocks.
constexpr int kWidth = 264;
constexpr int kHeight = 160;
constexpr int kFrames = 40;  // the flow target is regenerated every 4th frame

struct ParameterChange {
  int frame;
  uint32_t index;
  float value;
};

// Every parameter moves at least once; "Flip Fire" turns the flames over for frames 20..29,
// "Blend" switches to the low weight set and then to tripled keys, "Fire Blend" takes the
// mixed path from frame 10 on.
const ParameterChange kSchedule[] = {
    {10, 7, 0.7f},  {10, 4, 0.9f},  {12, 0, 1.0f},  {15, 6, 0.05f}, {20, 8, 1.0f},
    {20, 3, 0.2f},  {20, 12, 1.0f}, {22, 9, 0.3f},  {24, 1, 0.4f},  {24, 2, 0.8f},
    {26, 11, 1.0f}, {28, 10, 0.0f}, {30, 8, 0.0f},  {30, 3, 0.95f}, {30, 5, 0.5f},
    {32, 7, 0.0f},  {34, 7, 0.3f},  {34, 10, 0.3f}, {36, 4, 0.1f},  {38, 13, 1.0f},
};

uint32_t goldenRun(const char* name, int bytesPerPixel, uint32_t orientation) {
  qeltest::PluginLibrary library(name);
  qeltest::Instance instance(library, kWidth, kHeight, bytesPerPixel, orientation);
  EXPECT_TRUE(instance.valid());
  uint32_t crc = 0;
  for (int i = 0; i < kFrames; ++i) {
    for (const ParameterChange& change : kSchedule) {
      if (change.frame == i) instance.setParameter(change.index, change.value);
    }
    std::vector<uint8_t> frame = qeltest::testFrame(kWidth, kHeight, bytesPerPixel, i);
    EXPECT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
    crc = qeltest::crc32(frame.data(), frame.size(), crc);
  }
  return crc;
}

struct Golden {
  const char* name;
  int bytesPerPixel;
  uint32_t orientation;
  uint32_t crc;
};

const Golden kGolden[] = {
    {"QelInferno1", 3, FF_ORIENTATION_TL, 0xEA4004B1u},
    {"QelInferno1", 3, FF_ORIENTATION_BL, 0xFC30D60Au},
    {"QelInferno1", 4, FF_ORIENTATION_TL, 0x07B11B81u},
    {"QelInferno1", 4, FF_ORIENTATION_BL, 0xB479699Du},
    {"QelInferno2", 3, FF_ORIENTATION_TL, 0x2E8B41A5u},
    {"QelInferno2", 3, FF_ORIENTATION_BL, 0xA4D10605u},
    {"QelInferno2", 4, FF_ORIENTATION_TL, 0xCDC08005u},
    {"QelInferno2", 4, FF_ORIENTATION_BL, 0xFD589F3Cu},
};

TEST(InfernoGolden, FramesMatchPinnedChecksums) {
  for (const Golden& g : kGolden) {
    const uint32_t crc = goldenRun(g.name, g.bytesPerPixel, g.orientation);
    char actual[16];
    std::snprintf(actual, sizeof actual, "0x%08Xu", crc);
    EXPECT_EQ(crc, g.crc) << g.name << ", " << g.bytesPerPixel << " bytes per pixel, orientation "
                          << g.orientation << ": got " << actual;
  }
}

// A host may unload a plug-in right after frames that ran on several threads; the worker
// threads must not be left running code that is no longer mapped.
TEST(InfernoLibrary, UnloadsRightAfterParallelFrames) {
  for (int round = 0; round < 6; ++round) {
    qeltest::PluginLibrary library(round % 2 ? "QelInferno2" : "QelInferno1");
    qeltest::Instance instance(library, 640, 360, 4);
    for (int i = 0; i < 2; ++i) {
      std::vector<uint8_t> frame = qeltest::testFrame(640, 360, 4, i);
      ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
    }
  }
}

}  // namespace
