// Instances and the frame pipeline of every deliverable, through plugMain: refusals,
// error reports, copy mode, the multi-frame entry and in-place/copy equivalence.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

// Runs `call` and returns what it reported on standard error.
template <typename Call>
std::string reportsOf(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

class HostPipeline : public testing::TestWithParam<const char*> {
 protected:
  PluginLibrary library{GetParam()};

  uint32_t instantiateRaw(const VideoInfoStruct* info) {
    const FFMixed id = library.call(FF_INSTANTIATE, FFMixed{.PointerValue = const_cast<VideoInfoStruct*>(info)});
    if (reinterpret_cast<uintptr_t>(id.PointerValue) == FF_FAIL) return FF_FAIL;
    library.callUInt(FF_DEINSTANTIATE, 0, id.PointerValue);
    return FF_SUCCESS;
  }
};

TEST_P(HostPipeline, InstantiateAcceptsOnlySupportedFormats) {
  struct Case {
    VideoInfoStruct info;
    uint32_t want;
  };
  const Case kCases[] = {
      {{64, 48, FF_DEPTH_24, 1}, FF_SUCCESS},   {{64, 48, FF_DEPTH_32, 2}, FF_SUCCESS},
      {{64, 48, FF_DEPTH_16, 1}, FF_FAIL},      {{64, 48, 3, 1}, FF_FAIL},
      {{64, 48, 0xFFFFFFFF, 1}, FF_FAIL},       {{0, 48, FF_DEPTH_32, 1}, FF_FAIL},
      {{64, 0, FF_DEPTH_32, 1}, FF_FAIL},       {{1, 1, FF_DEPTH_32, 1}, FF_SUCCESS},
      {{32767, 1, FF_DEPTH_32, 1}, FF_SUCCESS}, {{32768, 1, FF_DEPTH_32, 1}, FF_FAIL},
      {{1, 32768, FF_DEPTH_24, 1}, FF_FAIL},    {{8193, 8193, FF_DEPTH_32, 1}, FF_FAIL},
      {{0xFFFFFFFF, 0xFFFFFFFF, FF_DEPTH_32, 1}, FF_FAIL},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(instantiateRaw(&c.info), c.want)
        << c.info.FrameWidth << "x" << c.info.FrameHeight << " depth " << c.info.BitDepth;
  }
  EXPECT_EQ(instantiateRaw(nullptr), FF_FAIL);
}

TEST_P(HostPipeline, NullFramesAreRefusedAndTheInstanceStaysUsable) {
  Instance instance(library, 20, 10, 4);
  ASSERT_TRUE(instance.valid());
  GuardedFrame input(instance.frameBytes(), 90);
  GuardedFrame output(instance.frameBytes(), 33);
  const std::string reports = reportsOf([&] {
    EXPECT_EQ(instance.processFrame(nullptr), FF_FAIL);
    EXPECT_EQ(library.callPointer(FF_PROCESSFRAMECOPY, nullptr, instance.id()), FF_FAIL);
    EXPECT_EQ(instance.processFrameCopy({nullptr}, output.data()), FF_FAIL);
    EXPECT_EQ(instance.processFrameCopy({input.data()}, nullptr), FF_FAIL);
    void** noList = nullptr;
    ProcessFrameCopyStruct copy{1, noList, output.data()};
    EXPECT_EQ(library.callPointer(FF_PROCESSFRAMECOPY, &copy, instance.id()), FF_FAIL);
    // No input frame at all: refused without a report and without touching the output.
    EXPECT_EQ(instance.processFrameCopy({}, output.data()), FF_FAIL);
  });
  EXPECT_EQ(reports, "");
  EXPECT_EQ(output.bytes(), std::vector<uint8_t>(output.size(), 33));
  EXPECT_EQ(instance.processFrameCopy({input.data()}, output.data()), FF_SUCCESS);
  EXPECT_TRUE(output.guardsIntact());
}

TEST_P(HostPipeline, MultiFrameEntryReportsMissingRecordsAndData) {
  Instance instance(library, 12, 8, 3);
  ASSERT_TRUE(instance.valid());
  EXPECT_EQ(reportsOf([&] { EXPECT_EQ(instance.processMulti(nullptr), FF_FAIL); }),
            "Qel_Multi: Error: pFrameData == NULL\n");
  // A standard host passes a channel number with this code.
  EXPECT_EQ(reportsOf([&] {
              EXPECT_EQ(library.callUInt(FF_GETINPUTSTATUS, 1, instance.id()), FF_FAIL);
            }),
            "Qel_Multi: Error: pFrameData == NULL\n");

  std::vector<uint8_t> in(instance.frameBytes(), 50), out(instance.frameBytes(), 0);
  FrameSlot inSlot{kFormatTagRgb8, 3, in.data(), 12, 8, nullptr, 0, 0};
  FrameSlot outSlot{kFormatTagRgb8, 3, out.data(), 12, 8, nullptr, 0, 0};
  const std::string noData = "Qel_Multi: Error: No valid input data present\n";
  struct Case {
    const char* what;
    uint32_t numInputs, numOutputs;
    FrameSlot* input;
    FrameSlot* output;
  };
  FrameSlot noBuffer{kFormatTagRgb8, 3, nullptr, 12, 8, nullptr, 0, 0};
  FrameSlot narrow{kFormatTagRgb8, 3, in.data(), 11, 8, nullptr, 0, 0};
  FrameSlot lower{kFormatTagRgb8, 3, in.data(), 12, 7, nullptr, 0, 0};
  FrameSlot otherPixelSize{kFormatTagRgb8, 4, in.data(), 12, 6, nullptr, 0, 0};
  const Case kCases[] = {
      {"no inputs", 0, 1, &inSlot, &outSlot},
      {"no outputs", 1, 0, &inSlot, &outSlot},
      {"null input slot", 1, 1, nullptr, &outSlot},
      {"null output slot", 1, 1, &inSlot, nullptr},
      {"input without data", 1, 1, &noBuffer, &outSlot},
      {"output without data", 1, 1, &inSlot, &noBuffer},
      {"narrower input", 1, 1, &narrow, &outSlot},
      {"lower output", 1, 1, &inSlot, &lower},
      {"other pixel size", 1, 1, &otherPixelSize, &outSlot},
  };
  for (const Case& c : kCases) {
    MultiFrames record{};
    record.numInputs = c.numInputs;
    record.numOutputs = c.numOutputs;
    record.inputs[0] = c.input;
    record.outputs[0] = c.output;
    EXPECT_EQ(reportsOf([&] { EXPECT_EQ(instance.processMulti(&record), FF_FAIL) << c.what; }),
              noData)
        << c.what;
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0)) << c.what;
  }
}

TEST_P(HostPipeline, CallerRecordsStayTheCallers) {
  // A caller's slots and buffers are used for one call; the instance neither keeps nor
  // releases them (a sanitizer build catches a release), and goes on with its own.
  Instance instance(library, 24, 16, 4);
  ASSERT_TRUE(instance.valid());
  std::vector<uint8_t> frame = testFrame(24, 16, 4, 0);
  ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
  auto in = std::make_unique<uint8_t[]>(instance.frameBytes());
  auto out = std::make_unique<uint8_t[]>(instance.frameBytes());
  renderTestFrame(in.get(), 24, 16, 4, 1);
  const std::vector<uint8_t> inBefore(in.get(), in.get() + instance.frameBytes());
  FrameSlot inSlot{kFormatTagRgb8, 4, in.get(), 24, 16, in.get(), 0, 0};
  FrameSlot outSlot{kFormatTagRgb8, 4, out.get(), 24, 16, nullptr, 0, 0};
  MultiFrames record{};
  record.numInputs = 3;  // counts above one are allowed; only slot 0 is read
  record.numOutputs = 1;
  record.inputs[0] = &inSlot;
  record.outputs[0] = &outSlot;
  EXPECT_EQ(instance.processMulti(&record), FF_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(in.get(), in.get() + instance.frameBytes()), inBefore);
  EXPECT_EQ(inSlot.data, in.get());
  EXPECT_EQ(inSlot.reservedData, in.get());
  for (int i = 2; i < 6; ++i) {
    std::vector<uint8_t> next = testFrame(24, 16, 4, i);
    EXPECT_EQ(instance.processFrame(next.data()), FF_SUCCESS);
  }
}

// In place, in copy mode and through the multi-frame entry, the same inputs give the same
// outputs frame after frame; copy mode never writes its input, and no mode writes
// outside the frames.
TEST_P(HostPipeline, InPlaceCopyAndMultiFrameModesAgree) {
  for (int bytesPerPixel : {3, 4}) {
    const int width = 41, height = 27;
    Instance inPlace(library, width, height, bytesPerPixel);
    Instance copying(library, width, height, bytesPerPixel);
    Instance multi(library, width, height, bytesPerPixel);
    ASSERT_TRUE(inPlace.valid() && copying.valid() && multi.valid());
    for (const Instance* instance : {&inPlace, &copying, &multi}) {
      // Settings that give every effect something to do on a small frame.
      for (uint32_t p = 0; p < library.numParameters(); ++p) {
        instance->setParameter(p, library.parameterDefault(p));
      }
      if (library.numParameters() >= 10 && std::string(GetParam()).rfind("QelParticles", 0) == 0) {
        instance->setParameter(6, 1.0f);  // Max Particles
        instance->setParameter(2, 1.0f);  // Birth Rate
      }
    }
    for (int t = 0; t < 12; ++t) {
      const std::vector<uint8_t> source = testFrame(width, height, bytesPerPixel, t);
      GuardedFrame a(source.size());
      std::memcpy(a.data(), source.data(), source.size());
      ASSERT_EQ(inPlace.processFrame(a.data()), FF_SUCCESS);

      GuardedFrame in(source.size()), out(source.size(), static_cast<uint8_t>(t * 31));
      std::memcpy(in.data(), source.data(), source.size());
      ASSERT_EQ(copying.processFrameCopy({in.data(), source.data(), source.data()}, out.data()),
                FF_SUCCESS);
      EXPECT_EQ(in.bytes(), source) << "copy mode wrote its input";

      GuardedFrame mIn(source.size()), mOut(source.size(), 0xEE);
      std::memcpy(mIn.data(), source.data(), source.size());
      FrameSlot inSlot{kFormatTagRgb8, bytesPerPixel, mIn.data(), width, height, nullptr, 0, 0};
      FrameSlot outSlot{kFormatTagRgb8, bytesPerPixel, mOut.data(), width, height, nullptr, 0, 0};
      MultiFrames record{};
      record.numInputs = record.numOutputs = 1;
      record.inputs[0] = &inSlot;
      record.outputs[0] = &outSlot;
      ASSERT_EQ(multi.processMulti(&record), FF_SUCCESS);

      ASSERT_EQ(a.bytes(), out.bytes()) << "frame " << t << ", " << bytesPerPixel << " bytes";
      ASSERT_EQ(a.bytes(), mOut.bytes()) << "frame " << t << ", " << bytesPerPixel << " bytes";
      EXPECT_EQ(mIn.bytes(), source);
      EXPECT_TRUE(a.guardsIntact() && in.guardsIntact() && out.guardsIntact() &&
                  mIn.guardsIntact() && mOut.guardsIntact());
    }
  }
}

TEST_P(HostPipeline, ManyInstancesComeAndGo) {
  // Leaks show in the sanitizer build; here every instance must also work on its own.
  std::vector<std::unique_ptr<Instance>> instances;
  for (int i = 0; i < 8; ++i) {
    instances.push_back(std::make_unique<Instance>(library, 8 + i, 5 + i, 3 + (i & 1)));
    ASSERT_TRUE(instances.back()->valid());
  }
  for (auto& instance : instances) {
    std::vector<uint8_t> frame(instance->frameBytes(), 128);
    EXPECT_EQ(instance->processFrame(frame.data()), FF_SUCCESS);
  }
  instances.clear();
}

INSTANTIATE_TEST_SUITE_P(Deliverables, HostPipeline, testing::ValuesIn(kDeliverableNames),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace qeltest
