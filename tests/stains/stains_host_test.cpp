// QelStains1 through plugMain: reset frames, the canvas as output, shared input and output
// memory, parameter values outside 0 .. 1, and frames of extreme sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

enum {
  kDrawing = 0,
  kDotScale = 1,
  kColorizeSpeed = 2,
  kNumParticles = 3,
  kStepMax = 7,
  kMagnetForce = 8
};

bool allZero(const std::vector<uint8_t>& frame) {
  for (uint8_t b : frame) {
    if (b) return false;
  }
  return true;
}

// The first frame after creation and every frame with Drawing 0 output all-zero pixels,
// the fourth byte of 32-bit pixels included, whatever the input; frames in between draw.
TEST(StainsHost, ResetFramesAreAllZero) {
  PluginLibrary library("QelStains1");
  ASSERT_TRUE(library.loaded());
  for (int bpp : {3, 4}) {
    Instance instance(library, 160, 120, bpp);
    ASSERT_TRUE(instance.valid());
    instance.setParameter(kDotScale, 1.0f);
    const bool kDrawingPerFrame[] = {true, true, true, false, false, true, true, false};
    for (int t = 0; t < 8; ++t) {
      instance.setParameter(kDrawing, kDrawingPerFrame[t] ? 1.0f : 0.0f);
      std::vector<uint8_t> frame(instance.frameBytes(), 0xFF);  // white, alpha 255
      ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
      const bool reset = t == 0 || !kDrawingPerFrame[t];
      EXPECT_EQ(allZero(frame), reset) << "frame " << t << ", " << bpp << " bytes";
      if (bpp == 4) {
        for (size_t i = 3; i < frame.size(); i += 4) ASSERT_EQ(frame[i], 0) << "frame " << t;
      }
    }
  }
}

// Nothing fades the canvas: with Colorize Speed 0 every dot is white, so a pixel once
// painted never darkens again while Drawing stays above 0.
TEST(StainsHost, CanvasOnlyBrightensUnderWhiteDots) {
  PluginLibrary library("QelStains1");
  Instance instance(library, 128, 96, 3);
  ASSERT_TRUE(instance.valid());
  instance.setParameter(kColorizeSpeed, 0.0f);
  std::vector<uint8_t> previous(instance.frameBytes(), 0);
  for (int t = 0; t < 10; ++t) {
    std::vector<uint8_t> frame = testFrame(128, 96, 3, t);
    ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
    for (size_t i = 0; i < frame.size(); ++i) ASSERT_GE(frame[i], previous[i]) << "frame " << t;
    if (t >= 2) {
      EXPECT_FALSE(allZero(frame)) << "frame " << t;
    }
    previous = frame;
  }
}

// A caller of the multi-frame entry may pass one buffer as input and output: the results
// are those of separate buffers.
TEST(StainsHost, SharedInputAndOutputMemoryGivesTheSameFrames) {
  PluginLibrary library("QelStains1");
  for (int bpp : {3, 4}) {
    const int width = 150, height = 110;
    Instance separate(library, width, height, bpp);
    Instance shared(library, width, height, bpp);
    ASSERT_TRUE(separate.valid() && shared.valid());
    for (int t = 0; t < 6; ++t) {
      const std::vector<uint8_t> source = testFrame(width, height, bpp, t);
      GuardedFrame in(source.size()), out(source.size(), 0x5A), both(source.size());
      std::memcpy(in.data(), source.data(), source.size());
      std::memcpy(both.data(), source.data(), source.size());
      FrameSlot inSlot{kFormatTagRgb8, bpp, in.data(), width, height, nullptr, 0, 0};
      FrameSlot outSlot{kFormatTagRgb8, bpp, out.data(), width, height, nullptr, 0, 0};
      FrameSlot bothSlot{kFormatTagRgb8, bpp, both.data(), width, height, nullptr, 0, 0};
      MultiFrames apart{}, together{};
      apart.numInputs = apart.numOutputs = together.numInputs = together.numOutputs = 1;
      apart.inputs[0] = &inSlot;
      apart.outputs[0] = &outSlot;
      together.inputs[0] = together.outputs[0] = &bothSlot;
      ASSERT_EQ(separate.processMulti(&apart), FF_SUCCESS);
      ASSERT_EQ(shared.processMulti(&together), FF_SUCCESS);
      ASSERT_EQ(out.bytes(), both.bytes()) << "frame " << t << ", " << bpp << " bytes";
      EXPECT_EQ(in.bytes(), source);
      EXPECT_TRUE(in.guardsIntact() && out.guardsIntact() && both.guardsIntact());
    }
  }
}

// Values a host may send beyond 0 .. 1 act as the clamped value, NaN as 0.
TEST(StainsHost, ParameterValuesOutsideTheRangeActClamped) {
  PluginLibrary library("QelStains1");
  struct Case {
    uint32_t index;
    float sent, actsAs;
  };
  const float nan = std::nanf("");
  const Case kCases[] = {
      {kDrawing, nan, 0.0f},
      {kDrawing, -INFINITY, 0.0f},
      {kDotScale, INFINITY, 1.0f},
      {kDotScale, nan, 0.0f},
      {kColorizeSpeed, 1e30f, 1.0f},
      {kNumParticles, 7.5f, 1.0f},
      {kNumParticles, nan, 0.0f},
      {4, -1e30f, 0.0f},
      {5, nan, 0.0f},
      {6, 2.0f, 1.0f},
      {kStepMax, INFINITY, 1.0f},
      {kMagnetForce, nan, 0.0f},
      {kMagnetForce, 1e38f, 1.0f},
  };
  for (const Case& c : kCases) {
    Instance odd(library, 96, 72, 4), plain(library, 96, 72, 4);
    ASSERT_TRUE(odd.valid() && plain.valid());
    odd.setParameter(c.index, c.sent);
    plain.setParameter(c.index, c.actsAs);
    for (int t = 0; t < 5; ++t) {
      std::vector<uint8_t> a = testFrame(96, 72, 4, t), b = a;
      ASSERT_EQ(odd.processFrame(a.data()), FF_SUCCESS);
      ASSERT_EQ(plain.processFrame(b.data()), FF_SUCCESS);
      ASSERT_EQ(a, b) << "parameter " << c.index << " sent " << c.sent << ", frame " << t;
    }
  }
}

// The smallest and the most extreme frames the shell accepts neither crash nor stall,
// even with the largest dots (on a 32767-pixel-wide frame a dot can be hundreds of
// thousands of pixels across), and never write outside the frame.
TEST(StainsHost, ExtremeFrameSizes) {
  PluginLibrary library("QelStains1");
  struct Case {
    uint32_t width, height;
    int bpp;
  };
  const Case kCases[] = {{1, 1, 4},     {2, 2, 3},      {3, 3, 4},      {32767, 1, 3},
                         {1, 32767, 4}, {32767, 40, 3}, {40, 32767, 4}, {4096, 3, 3}};
  for (const Case& c : kCases) {
    Instance instance(library, c.width, c.height, c.bpp);
    ASSERT_TRUE(instance.valid()) << c.width << "x" << c.height;
    instance.setParameter(kDotScale, 1.0f);
    instance.setParameter(kNumParticles, 1.0f);
    for (int t = 0; t < 4; ++t) {
      GuardedFrame frame(instance.frameBytes(), uint8_t(40 * t + 7));
      ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS) << c.width << "x" << c.height;
      ASSERT_TRUE(frame.guardsIntact()) << c.width << "x" << c.height;
    }
  }
}

}  // namespace
}  // namespace qeltest
