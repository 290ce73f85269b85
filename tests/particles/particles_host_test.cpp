// The Particles plug-ins through plugMain: the input frame is never written, in-place,
// copy and multi-frame calls give the same frames, NaN parameters count as 0, the
// eleventh parameter of QelParticles2 changes nothing, and tiny frames work.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

constexpr uint32_t kBirthRange = 1, kBirthRate = 2, kTrailStrength = 4, kMaxParticles = 6,
                   kColorKeep = 7, kAlphaMode = 8, kFxAmount = 9;

// Enough births on a small frame for the tests to see particles.
void raiseBirths(const Instance& instance) {
  instance.setParameter(kMaxParticles, 1.0f);
  instance.setParameter(kBirthRate, 0.8f);
  instance.setParameter(kBirthRange, 0.6f);
}

struct Variant {
  const char* plugin;
  int bpp;
};

std::string variantName(const testing::TestParamInfo<Variant>& info) {
  return std::string(info.param.plugin) + "_" + std::to_string(info.param.bpp * 8);
}

class ParticlesHost : public testing::TestWithParam<Variant> {
 protected:
  PluginLibrary library{GetParam().plugin};
  int bpp = GetParam().bpp;
};

TEST_P(ParticlesHost, InputIsNeverWrittenAndNothingOutsideTheFrames) {
  const int width = 61, height = 47;
  Instance instance(library, width, height, bpp);
  ASSERT_TRUE(instance.valid());
  raiseBirths(instance);
  GuardedFrame input(instance.frameBytes());
  GuardedFrame output(instance.frameBytes(), 0x5A);
  int changed = 0;
  for (int frame = 0; frame < 12; ++frame) {
    renderTestFrame(input.data(), width, height, bpp, frame);
    const std::vector<uint8_t> before = input.bytes();
    ASSERT_EQ(instance.processFrameCopy({input.data()}, output.data()), FF_SUCCESS);
    EXPECT_EQ(input.bytes(), before) << "frame " << frame;
    ASSERT_TRUE(input.guardsIntact());
    ASSERT_TRUE(output.guardsIntact());
    if (output.bytes() != before) ++changed;
  }
  EXPECT_GT(changed, 0) << "the effect never showed";
}

TEST_P(ParticlesHost, InPlaceCopyAndOneBufferMultiFrameCallsAgree) {
  const int width = 50, height = 38;
  Instance inPlace(library, width, height, bpp);
  Instance copy(library, width, height, bpp);
  Instance multi(library, width, height, bpp);
  ASSERT_TRUE(inPlace.valid() && copy.valid() && multi.valid());
  for (const Instance* instance : {&inPlace, &copy, &multi}) raiseBirths(*instance);
  for (int frame = 0; frame < 16; ++frame) {
    if (frame == 5) {
      for (const Instance* instance : {&inPlace, &copy, &multi}) {
        instance->setParameter(kMaxParticles, 0.7f);
        instance->setParameter(kFxAmount, 0.6f);
        instance->setParameter(kTrailStrength, 0.9f);
        instance->setParameter(kAlphaMode, 0.0f);
      }
    }
    const std::vector<uint8_t> source = testFrame(width, height, bpp, frame);
    std::vector<uint8_t> a = source;
    ASSERT_EQ(inPlace.processFrame(a.data()), FF_SUCCESS);
    std::vector<uint8_t> b(source.size(), 0x33);
    ASSERT_EQ(copy.processFrameCopy({source.data()}, b.data()), FF_SUCCESS);
    std::vector<uint8_t> c = source;
    FrameSlot slot{kFormatTagRgb8, bpp, c.data(), width, height, nullptr, 0, 0};
    MultiFrames record{};
    record.numInputs = 1;
    record.numOutputs = 1;
    record.inputs[0] = &slot;
    record.outputs[0] = &slot;
    ASSERT_EQ(multi.processMulti(&record), FF_SUCCESS);
    EXPECT_EQ(a, b) << "frame " << frame;
    EXPECT_EQ(a, c) << "frame " << frame;
  }
}

TEST_P(ParticlesHost, NaNParametersCountAsZero) {
  const int width = 40, height = 32;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (uint32_t param = 0; param < 10; ++param) {
    Instance withNaN(library, width, height, bpp);
    Instance withZero(library, width, height, bpp);
    ASSERT_TRUE(withNaN.valid() && withZero.valid());
    for (const Instance* instance : {&withNaN, &withZero}) {
      raiseBirths(*instance);
      instance->setParameter(kColorKeep, 0.6f);
    }
    withNaN.setParameter(param, nan);
    withZero.setParameter(param, 0.0f);
    for (int frame = 0; frame < 6; ++frame) {
      std::vector<uint8_t> a = testFrame(width, height, bpp, frame), b = a;
      ASSERT_EQ(withNaN.processFrame(a.data()), FF_SUCCESS);
      ASSERT_EQ(withZero.processFrame(b.data()), FF_SUCCESS);
      ASSERT_EQ(a, b) << "parameter " << param << " frame " << frame;
    }
  }
}

TEST_P(ParticlesHost, TinyFramesWork) {
  const int kSizes[][2] = {{1, 1}, {3, 3}, {2, 9}, {9, 2}, {4, 4}, {5, 4}};
  for (const auto& size : kSizes) {
    Instance instance(library, size[0], size[1], bpp);
    ASSERT_TRUE(instance.valid());
    raiseBirths(instance);
    GuardedFrame frame(instance.frameBytes());
    for (int i = 0; i < 5; ++i) {
      renderTestFrame(frame.data(), size[0], size[1], bpp, i);
      ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
      ASSERT_TRUE(frame.guardsIntact()) << size[0] << "x" << size[1];
    }
  }
}

const Variant kVariants[] = {
    {"QelParticles1", 3}, {"QelParticles1", 4}, {"QelParticles2", 3},
    {"QelParticles2", 4}, {"QelParticles3", 3}, {"QelParticles3", 4},
};
INSTANTIATE_TEST_SUITE_P(All, ParticlesHost, testing::ValuesIn(kVariants), variantName);

// A host may unload a plug-in after frames that ran on several threads and load it again;
// the threading runtime's parked workers must survive that. (No other handle on the
// library is open here, so each round really unloads it.)
TEST(ParticlesHost, UnloadingAfterParallelFramesAndReloadingWorks) {
  const int width = 320, height = 240;  // large enough for the passes to run in parallel
  for (const Variant& v : kVariants) {
    std::vector<uint8_t> first;
    for (int round = 0; round < 2; ++round) {
      PluginLibrary library(v.plugin);
      Instance instance(library, width, height, v.bpp);
      ASSERT_TRUE(instance.valid());
      std::vector<uint8_t> frame;
      for (int i = 0; i < 3; ++i) {
        frame = testFrame(width, height, v.bpp, i);
        ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
      }
      if (round == 0) {
        first = frame;
      } else {
        EXPECT_EQ(frame, first) << v.plugin << " " << v.bpp * 8 << " bits";
      }
    }
  }
}

TEST(ParticlesHost, TheEleventhParameterOfQelParticles2ChangesNothing) {
  PluginLibrary library("QelParticles2");
  ASSERT_EQ(library.numParameters(), 11u);
  const float kValues[] = {1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN(), -7.0f, 1e30f};
  for (int bpp : {3, 4}) {
    Instance plain(library, 48, 40, bpp);
    Instance touched(library, 48, 40, bpp);
    ASSERT_TRUE(plain.valid() && touched.valid());
    raiseBirths(plain);
    raiseBirths(touched);
    for (int frame = 0; frame < 10; ++frame) {
      touched.setParameter(10, kValues[frame % 5]);
      std::vector<uint8_t> a = testFrame(48, 40, bpp, frame), b = a;
      ASSERT_EQ(plain.processFrame(a.data()), FF_SUCCESS);
      ASSERT_EQ(touched.processFrame(b.data()), FF_SUCCESS);
      ASSERT_EQ(a, b) << "bpp " << bpp << " frame " << frame;
    }
  }
}

}  // namespace
}  // namespace qeltest
