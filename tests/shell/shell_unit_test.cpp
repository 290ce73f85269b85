// The shell with a probe effect in place of a real one: what the effect is handed, what
// the host gets back, and what survives a failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "shell/float_mode.h"
#include "shell/plug_obj.h"
#include "tests/shell/probe_effect.h"

namespace {

FFMixed pointerInput(const void* p) {
  FFMixed m;
  std::memset(&m, 0, sizeof m);
  m.PointerValue = const_cast<void*>(p);
  return m;
}

uint32_t call(uint32_t code, const void* input, void* instance) {
  return plugMain(code, pointerInput(input), instance).UIntValue;
}

class ShellUnit : public testing::Test {
 protected:
  static constexpr int kWidth = 7, kHeight = 5, kBpp = 4;
  static constexpr size_t kBytes = kWidth * kHeight * kBpp;

  void SetUp() override {
    gProbe = ProbeRecord{};
    VideoInfoStruct info{kWidth, kHeight, FF_DEPTH_32, FF_ORIENTATION_BL};
    obj = static_cast<PlugObj*>(plugMain(FF_INSTANTIATE, pointerInput(&info), nullptr).PointerValue);
    ASSERT_NE(reinterpret_cast<uintptr_t>(obj), uintptr_t{FF_FAIL});
  }
  void TearDown() override {
    EXPECT_EQ(call(FF_DEINSTANTIATE, nullptr, obj), FF_SUCCESS);
    EXPECT_EQ(gProbe.creates, gProbe.releases);
  }

  static std::vector<uint8_t> pattern(uint8_t seed) {
    std::vector<uint8_t> bytes(kBytes);
    for (size_t i = 0; i < kBytes; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
  }

  static void expectEmpty(const FrameSlot* slot) {
    EXPECT_EQ(slot->formatTag, kFormatTagEmpty);
    EXPECT_EQ(slot->bytesPerPixel, 0);
    EXPECT_EQ(slot->data, nullptr);
    EXPECT_EQ(slot->width, 0);
    EXPECT_EQ(slot->height, 0);
    EXPECT_EQ(slot->reservedData, nullptr);
  }

  // After a frame the lists count one slot each, and every slot is empty again: the
  // host's frames were only lent to slot 0 for the call.
  void expectFramesTakenBack() {
    const MultiFrames* multi = obj->fMulti;
    EXPECT_EQ(multi->numInputs, 1u);
    EXPECT_EQ(multi->numOutputs, 1u);
    for (int i = 0; i < kMaxSlots; ++i) {
      expectEmpty(multi->inputs[i]);
      expectEmpty(multi->outputs[i]);
    }
  }

  PlugObj* obj = nullptr;
};

TEST_F(ShellUnit, InstantiateBuildsAnEmptyFrameContext) {
  EXPECT_TRUE(obj->fMultiReady);
  ASSERT_NE(obj->fMulti, nullptr);
  EXPECT_EQ(obj->fMulti->numInputs, 0u);
  EXPECT_EQ(obj->fMulti->numOutputs, 0u);
  for (int i = 0; i < kMaxSlots; ++i) {
    expectEmpty(obj->fMulti->inputs[i]);
    expectEmpty(obj->fMulti->outputs[i]);
  }
  EXPECT_EQ(obj->fVideoInfo.Orientation, FF_ORIENTATION_BL);
  EXPECT_EQ(gProbe.creates, 1);
}

TEST_F(ShellUnit, InPlaceFrameIsLentToBothSlots) {
  gProbe.writeValue = 3;
  std::vector<uint8_t> frame = pattern(1);
  const std::vector<uint8_t> original = frame;
  ASSERT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_SUCCESS);
  EXPECT_EQ(gProbe.lastFrame.input, frame.data()) << "no copy in";
  EXPECT_EQ(gProbe.lastFrame.output, frame.data()) << "no copy out";
  EXPECT_EQ(gProbe.inputSeen, original);
  EXPECT_EQ(gProbe.outputSeen, original);
  EXPECT_EQ(gProbe.lastFrame.width, kWidth);
  EXPECT_EQ(gProbe.lastFrame.height, kHeight);
  EXPECT_EQ(gProbe.lastFrame.bytesPerPixel, kBpp);
  EXPECT_EQ(gProbe.lastFrame.orientation, FF_ORIENTATION_BL);
  for (size_t i = 0; i < kBytes; ++i) ASSERT_EQ(frame[i], uint8_t(original[i] + 3)) << i;
  expectFramesTakenBack();
}

TEST_F(ShellUnit, CopyModeReadsTheFirstInputAndTheCurrentOutput) {
  gProbe.writeValue = 10;
  std::vector<uint8_t> first = pattern(1), second = pattern(50), output = pattern(99);
  const std::vector<uint8_t> outputBefore = output;
  void* inputs[3] = {first.data(), second.data(), nullptr};
  ProcessFrameCopyStruct copy{3, inputs, output.data()};
  ASSERT_EQ(call(FF_PROCESSFRAMECOPY, &copy, obj), FF_SUCCESS);
  EXPECT_EQ(gProbe.lastFrame.input, first.data());
  EXPECT_EQ(gProbe.lastFrame.output, output.data());
  EXPECT_EQ(gProbe.inputSeen, first);
  EXPECT_EQ(gProbe.outputSeen, outputBefore);
  for (size_t i = 0; i < kBytes; ++i) ASSERT_EQ(output[i], uint8_t(first[i] + 10)) << i;
  EXPECT_EQ(first, pattern(1));
  expectFramesTakenBack();
}

TEST_F(ShellUnit, FailedFrameLeavesInPlaceFrameAndZeroesCopyOutput) {
  gProbe.failFrames = true;
  SetParameterStruct change{0, pointerInput(nullptr)};
  change.NewParameterValue.FloatValue = 2.0f;
  ASSERT_EQ(call(FF_SETPARAMETER, &change, obj), FF_SUCCESS);

  std::vector<uint8_t> frame = pattern(5);
  EXPECT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_FAIL);
  EXPECT_EQ(frame, pattern(5));
  EXPECT_EQ(obj->fParams[0].value, 1.0f) << "the clamp is kept";

  std::vector<uint8_t> input = pattern(6), output = pattern(7);
  void* inputs[1] = {input.data()};
  ProcessFrameCopyStruct copy{1, inputs, output.data()};
  EXPECT_EQ(call(FF_PROCESSFRAMECOPY, &copy, obj), FF_FAIL);
  EXPECT_EQ(output, std::vector<uint8_t>(kBytes, 0));
  expectFramesTakenBack();

  gProbe.failFrames = false;
  EXPECT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_SUCCESS);
}

TEST_F(ShellUnit, EffectSeesClampedParameters) {
  const float values[3] = {1.5f, -2.0f, std::numeric_limits<float>::quiet_NaN()};
  for (uint32_t i = 0; i < 3; ++i) {
    SetParameterStruct change{i, pointerInput(nullptr)};
    change.NewParameterValue.FloatValue = values[i];
    ASSERT_EQ(call(FF_SETPARAMETER, &change, obj), FF_SUCCESS);
  }
  std::vector<uint8_t> frame = pattern(0);
  ASSERT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_SUCCESS);
  ASSERT_EQ(gProbe.paramsSeen.size(), 3u);
  EXPECT_EQ(gProbe.paramsSeen[0], 1.0f);
  EXPECT_EQ(gProbe.paramsSeen[1], 0.0f);
  EXPECT_TRUE(std::isnan(gProbe.paramsSeen[2]));
  EXPECT_EQ(controlValue(obj, 2), 0.0f) << "controls derive NaN as 0";
}

TEST_F(ShellUnit, MultiFrameEntryUsesTheCallersSlotsForOneCall) {
  std::vector<uint8_t> warmup = pattern(0);
  ASSERT_EQ(call(FF_PROCESSFRAME, warmup.data(), obj), FF_SUCCESS);
  MultiFrames own = *obj->fMulti;
  FrameSlot ownIn = *own.inputs[0];

  std::vector<uint8_t> in = pattern(20), out = pattern(40);
  FrameSlot inSlot{kFormatTagRgb8, kBpp, in.data(), kWidth, kHeight, nullptr, 0, 0};
  FrameSlot outSlot{kFormatTagRgb8, kBpp, out.data(), kWidth, kHeight, nullptr, 0, 0};
  MultiFrames record{};
  record.numInputs = record.numOutputs = 1;
  record.inputs[0] = &inSlot;
  record.outputs[0] = &outSlot;
  gProbe.writeValue = 1;
  ASSERT_EQ(call(FF_GETINPUTSTATUS, &record, obj), FF_SUCCESS);
  EXPECT_EQ(gProbe.lastFrame.input, in.data());
  EXPECT_EQ(gProbe.lastFrame.output, out.data());
  for (size_t i = 0; i < kBytes; ++i) ASSERT_EQ(out[i], uint8_t(in[i] + 1));

  EXPECT_EQ(std::memcmp(obj->fMulti, &own, sizeof own), 0) << "the instance's record is kept";
  EXPECT_EQ(std::memcmp(obj->fMulti->inputs[0], &ownIn, sizeof ownIn), 0);
}

TEST_F(ShellUnit, InstanceNotReadyIsReported) {
  std::vector<uint8_t> frame = pattern(3);
  void* inputs[1] = {frame.data()};
  std::vector<uint8_t> output(kBytes);
  ProcessFrameCopyStruct copy{1, inputs, output.data()};
  const std::string notReady =
      "pPlugObj->fMultiReady is false, setup for processing hasn't been done.\n";

  obj->fMultiReady = false;
  testing::internal::CaptureStderr();
  EXPECT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_FAIL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "processFrame Error: " + notReady);
  testing::internal::CaptureStderr();
  EXPECT_EQ(call(FF_PROCESSFRAMECOPY, &copy, obj), FF_FAIL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "processFrameCopy Error: " + notReady);
  testing::internal::CaptureStderr();
  EXPECT_EQ(call(FF_GETINPUTSTATUS, obj->fMulti, obj), FF_FAIL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Qel_Multi: Error: fMultiReady == false\n");
  obj->fMultiReady = true;

  MultiFrames* multi = obj->fMulti;
  obj->fMulti = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(call(FF_GETINPUTSTATUS, multi, obj), FF_FAIL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Qel_Multi: Error: fMulti == NULL\n");
  obj->fMulti = multi;
  EXPECT_EQ(gProbe.frames, 0);
  EXPECT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_SUCCESS);
}

TEST_F(ShellUnit, FrameWorkFlushesDenormalsAndRestoresTheHostMode) {
#ifdef QEL_HAVE_MXCSR
  const unsigned hostMode = _mm_getcsr() & ~kFlushDenormalsMask;
  _mm_setcsr(hostMode);
  std::vector<uint8_t> frame = pattern(0);
  ASSERT_EQ(call(FF_PROCESSFRAME, frame.data(), obj), FF_SUCCESS);
  EXPECT_EQ(gProbe.floatModeSeen & kFlushDenormalsMask, kFlushDenormalsMask);
  EXPECT_EQ(_mm_getcsr(), hostMode);
#else
  GTEST_SKIP() << "no SSE control register on this target";
#endif
}

TEST(ShellUnitCreate, FailedEffectCreationReleasesEverything) {
  gProbe = ProbeRecord{};
  gProbe.failCreate = true;
  VideoInfoStruct info{16, 16, FF_DEPTH_24, 1};
  EXPECT_EQ(plugMain(FF_INSTANTIATE, pointerInput(&info), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(gProbe.creates, 0);
  gProbe.failCreate = false;
}

}  // namespace
