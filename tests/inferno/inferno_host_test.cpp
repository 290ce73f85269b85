// The Inferno plug-ins driven through plugMain as a host drives them.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace {

using qeltest::GuardedFrame;
using qeltest::Instance;
using qeltest::PluginLibrary;

const char* const kInfernoNames[] = {"QelInferno1", "QelInferno2"};

constexpr uint32_t kBrightness = 0, kBlend = 3, kFireBlend = 7, kFlipFire = 8, kUnused = 13;

class InfernoHost : public testing::TestWithParam<const char*> {
 protected:
  PluginLibrary library_{GetParam()};
};

// CRC of `frames` in-place frames of the moving test picture.
uint32_t runFrames(const Instance& instance, int width, int height, int bytesPerPixel, int frames) {
  uint32_t crc = 0;
  for (int i = 0; i < frames; ++i) {
    std::vector<uint8_t> frame = qeltest::testFrame(width, height, bytesPerPixel, i);
    EXPECT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
    crc = qeltest::crc32(frame.data(), frame.size(), crc);
  }
  return crc;
}

TEST_P(InfernoHost, PublishesFourteenParameters) {
  ASSERT_TRUE(library_.loaded());
  const char* names[] = {
      "Brightness",    "Col Value",    "Range",         "Blend",     "Burn Speed",
      "FlowMap Blend", "CoolMap Base", "Fire Blend",    "Flip Fire", "CoolMap Speed",
      "CoolMap Mul",   "CoolMap Add",  "Process Alpha", ""};
  const float defaults[] = {0.75f, 0.75f, 0.5f,  0.6f,  0.54f, 0.95f, 0.2f,
                            1.0f,  0.0f,  0.75f, 0.65f, 0.25f, 0.0f,  0.0f};
  ASSERT_EQ(library_.numParameters(), 14u);
  for (uint32_t i = 0; i < 14; ++i) {
    EXPECT_EQ(library_.parameterName(i), names[i]) << i;
    EXPECT_EQ(library_.parameterDefault(i), defaults[i]) << i;
  }
}

TEST_P(InfernoHost, UnusedParameterChangesNothing) {
  for (float value : {1.0f, 0.37f, std::numeric_limits<float>::quiet_NaN(), 5.0f}) {
    Instance plain(library_, 96, 64, 4), changed(library_, 96, 64, 4);
    changed.setParameter(kUnused, value);
    EXPECT_EQ(runFrames(plain, 96, 64, 4, 10), runFrames(changed, 96, 64, 4, 10)) << value;
  }
}

TEST_P(InfernoHost, NothingIgnitesWithoutKeysInTheBand) {
  struct Case {
    const char* what;
    bool blackInput;
    float blend;
  } cases[] = {{"black input at the defaults", true, 0.6f},
               {"bright input with no ignite amount", false, 0.5f}};
  for (const Case& c : cases) {
    for (int bytesPerPixel : {3, 4}) {
      Instance instance(library_, 80, 60, bytesPerPixel);
      instance.setParameter(kBlend, c.blend);
      for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> frame = qeltest::testFrame(80, 60, bytesPerPixel, i);
        if (c.blackInput) std::fill(frame.begin(), frame.end(), 0);
        ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
        // "Fire Blend" 1.0 shows the fire alone, and there is none.
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t v) { return v == 0; }))
            << c.what << ", " << bytesPerPixel << " bytes, frame " << i;
      }
    }
  }
}

TEST_P(InfernoHost, TestPictureSetsFramesOnFire) {
  Instance instance(library_, 80, 60, 4);
  std::vector<uint8_t> frame;
  for (int i = 0; i < 10; ++i) {
    frame = qeltest::testFrame(80, 60, 4, i);
    ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
  }
  EXPECT_TRUE(std::any_of(frame.begin(), frame.end(), [](uint8_t v) { return v != 0; }));
}

TEST_P(InfernoHost, FlipFireIsTheOtherOrientation) {
  for (int bytesPerPixel : {3, 4}) {
    Instance topDown(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_TL);
    Instance flipped(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_BL);
    Instance bottomUp(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_BL);
    Instance flippedBack(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_TL);
    flipped.setParameter(kFlipFire, 1.0f);
    flippedBack.setParameter(kFlipFire, 0.75f);
    EXPECT_EQ(runFrames(topDown, 100, 70, bytesPerPixel, 12),
              runFrames(flipped, 100, 70, bytesPerPixel, 12));
    EXPECT_EQ(runFrames(bottomUp, 100, 70, bytesPerPixel, 12),
              runFrames(flippedBack, 100, 70, bytesPerPixel, 12));
    Instance other(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_TL);
    EXPECT_NE(runFrames(other, 100, 70, bytesPerPixel, 12),
              runFrames(Instance(library_, 100, 70, bytesPerPixel, FF_ORIENTATION_BL), 100, 70,
                        bytesPerPixel, 12));
  }
}

TEST_P(InfernoHost, TinyFramesStayInsideEveryBuffer) {
  for (uint32_t width = 1; width <= 3; ++width) {
    for (uint32_t height = 1; height <= 3; ++height) {
      for (int bytesPerPixel : {3, 4}) {
        for (uint32_t orientation : {FF_ORIENTATION_TL, FF_ORIENTATION_BL}) {
          SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + "x" +
                       std::to_string(bytesPerPixel) + " orientation " +
                       std::to_string(orientation));
          Instance instance(library_, width, height, bytesPerPixel, orientation);
          ASSERT_TRUE(instance.valid());
          const size_t bytes = instance.frameBytes();
          for (int i = 0; i < 6; ++i) {
            instance.setParameter(kFireBlend, i % 2 ? 0.5f : 1.0f);
            instance.setParameter(kBrightness, 1.0f);
            GuardedFrame inPlace(bytes, 0xEE), input(bytes, 0xEE), output(bytes, 0x11);
            EXPECT_EQ(instance.processFrame(inPlace.data()), FF_SUCCESS);
            EXPECT_EQ(instance.processFrameCopy({input.data()}, output.data()), FF_SUCCESS);
            EXPECT_TRUE(inPlace.guardsIntact());
            EXPECT_TRUE(input.guardsIntact());
            EXPECT_TRUE(output.guardsIntact());
            EXPECT_TRUE(std::all_of(input.data(), input.data() + bytes,
                                    [](uint8_t v) { return v == 0xEE; }));
          }
        }
      }
    }
  }
}

// The multi-frame entry with one buffer for input and output gives what copy mode gives,
// including on the mixed path, which reads the input where it writes the output.
TEST_P(InfernoHost, OneBufferForInputAndOutput) {
  const int width = 90, height = 50;
  for (int bytesPerPixel : {3, 4}) {
    for (float fireBlend : {1.0f, 0.6f}) {
      Instance copy(library_, width, height, bytesPerPixel);
      Instance shared(library_, width, height, bytesPerPixel);
      copy.setParameter(kFireBlend, fireBlend);
      shared.setParameter(kFireBlend, fireBlend);
      for (int i = 0; i < 9; ++i) {
        const std::vector<uint8_t> input = qeltest::testFrame(width, height, bytesPerPixel, i);
        std::vector<uint8_t> output(input.size(), 0);
        ASSERT_EQ(copy.processFrameCopy({input.data()}, output.data()), FF_SUCCESS);
        std::vector<uint8_t> buffer = input;
        FrameSlot slot{kFormatTagRgb8, bytesPerPixel, buffer.data(), width, height, nullptr, 0, 0};
        MultiFrames record{};
        record.numInputs = 1;
        record.inputs[0] = &slot;
        record.numOutputs = 1;
        record.outputs[0] = &slot;
        ASSERT_EQ(shared.processMulti(&record), FF_SUCCESS);
        ASSERT_EQ(buffer, output) << bytesPerPixel << " bytes, fire blend " << fireBlend
                                  << ", frame " << i;
      }
    }
  }
}

// A frame whose prologue fails changes no state: the flow counter, the cooling texture and
// the heat carry on as if the call had not been made.
TEST_P(InfernoHost, FailedFramesDoNotCount) {
  const int width = 64, height = 48;
  Instance steady(library_, width, height, 4), interrupted(library_, width, height, 4);
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> a = qeltest::testFrame(width, height, 4, i), b = a;
    MultiFrames empty{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(interrupted.processMulti(&empty), FF_FAIL);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(steady.processFrame(a.data()), FF_SUCCESS);
    ASSERT_EQ(interrupted.processFrame(b.data()), FF_SUCCESS);
    ASSERT_EQ(a, b) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Inferno, InfernoHost, testing::ValuesIn(kInfernoNames),
                         [](const auto& info) { return std::string(info.param); });

// The two deliverables run the same effect over different cooling textures.
TEST(InfernoDeliverables, CoolingTexturesDiffer) {
  PluginLibrary first("QelInferno1"), second("QelInferno2");
  Instance a(first, 120, 90, 4), b(second, 120, 90, 4);
  EXPECT_NE(runFrames(a, 120, 90, 4, 12), runFrames(b, 120, 90, 4, 12));
}

}  // namespace
