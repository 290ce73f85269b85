// A long run of every deliverable, as a live-video host gives it: thousands of frames
// through every frame entry with the parameters swept over and beyond their range (NaN,
// infinities, huge values and denormals among them), now and then a call the plug-in must
// refuse. No frame may fail, every parameter must read back clamped after a frame, and the
// heap must hold exactly as many bytes at the end as after the warm-up: an effect never
// allocates per frame, and the shell only on the first frame of an instance.
//
// QEL_SOAK_FRAMES sets the number of frames per instance (default 300; test.sh runs
// thousands).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"
#include "tests/robust/heap_counter.h"

namespace qeltest {
namespace {

int soakFrames() {
  const char* text = std::getenv("QEL_SOAK_FRAMES");
  const int frames = text ? std::atoi(text) : 0;
  return frames > 0 ? frames : 300;
}

constexpr int kWarmUpFrames = 48;
constexpr int kRefusalEvery = 16;  // frames between two refused calls
constexpr int kSampleEvery = 128;  // frames between two heap samples

// What the host sends for parameter `index` at frame `f`: a triangle sweep over
// [-0.5, 1.5] whose period differs per parameter, and on one frame in 29 a value from the
// far ends of the float range.
float sweptValue(int f, uint32_t index) {
  static const float kExtremes[] = {std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    1e30f,
                                    -1e30f,
                                    std::numeric_limits<float>::denorm_min(),
                                    -std::numeric_limits<float>::denorm_min(),
                                    1.0000001f,
                                    -0.0f};
  constexpr int kExtremeCount = sizeof kExtremes / sizeof kExtremes[0];
  if ((f + static_cast<int>(index)) % 29 == 0) return kExtremes[(f / 29 + index) % kExtremeCount];
  const int half = 64 + 7 * static_cast<int>(index);  // frames from -0.5 up to 1.5
  const int t = f % (2 * half);
  const float up = static_cast<float>(t < half ? t : 2 * half - t) / static_cast<float>(half);
  return -0.5f + 2.0f * up;
}

struct Format {
  uint32_t width;
  uint32_t height;
  int bytesPerPixel;
  uint32_t orientation;
};

constexpr Format kFormats[] = {{160, 120, 4, FF_ORIENTATION_TL}, {120, 90, 3, FF_ORIENTATION_BL}};

// One instance with its own host buffers, allocated once.
struct Stream {
  Stream(const PluginLibrary& library, const Format& format)
      : format(format),
        instance(library, format.width, format.height, format.bytesPerPixel, format.orientation),
        input(instance.frameBytes()),
        output(instance.frameBytes()),
        wrongSize(instance.frameBytes() + 1) {}

  const Format format;
  Instance instance;
  std::vector<uint8_t> input, output, wrongSize;
  int failedFrames = 0;
  int refusedSets = 0;
  int unclampedReads = 0;
  int acceptedRefusals = 0;
  int reports = 0;  // refused calls that report on standard error

  // One frame through the entry chosen by `f`, parameters set first.
  void frame(int f, uint32_t params) {
    bool setNaN[16] = {};
    for (uint32_t i = 0; i < params; ++i) {
      const float value = sweptValue(f, i);
      setNaN[i] = std::isnan(value);
      if (instance.setParameter(i, value) != FF_SUCCESS) ++refusedSets;
    }
    renderTestFrame(input.data(), static_cast<int>(format.width), static_cast<int>(format.height),
                    format.bytesPerPixel, f);
    uint32_t status = FF_FAIL;
    switch (f % 3) {
      case 0:
        status = instance.processFrame(input.data());
        break;
      case 1:
        status = instance.processFrameCopy({input.data()}, output.data());
        break;
      default: {
        // One buffer for input and output: a multi-frame caller working in place.
        const auto w = static_cast<int32_t>(format.width), h = static_cast<int32_t>(format.height);
        FrameSlot slot{kFormatTagRgb8, format.bytesPerPixel, input.data(), w, h, nullptr, 0, 0};
        MultiFrames record{};
        record.numInputs = record.numOutputs = 1;
        record.inputs[0] = record.outputs[0] = &slot;
        status = instance.processMulti(&record);
        break;
      }
    }
    if (status != FF_SUCCESS) ++failedFrames;
    for (uint32_t i = 0; i < params; ++i) {
      const float value = instance.parameter(i);
      const bool ok = setNaN[i] ? std::isnan(value) : (value >= 0.0f && value <= 1.0f);
      if (!ok) ++unclampedReads;
    }
  }

  // Calls a host gets wrong; each must be refused.
  void refusals() {
    if (instance.processFrame(nullptr) != FF_FAIL) ++acceptedRefusals;
    const auto w = static_cast<int32_t>(format.width), h = static_cast<int32_t>(format.height);
    FrameSlot in{kFormatTagRgb8, format.bytesPerPixel, wrongSize.data(), w + 1, h, nullptr, 0, 0};
    FrameSlot out{kFormatTagRgb8, format.bytesPerPixel, output.data(), w, h, nullptr, 0, 0};
    MultiFrames record{};
    record.numInputs = record.numOutputs = 1;
    record.inputs[0] = &in;
    record.outputs[0] = &out;
    if (instance.processMulti(&record) != FF_FAIL) ++acceptedRefusals;
    ++reports;  // the mismatched slot is reported ("No valid input data present")
  }
};

size_t countLines(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * 4;
}

// The OpenMP runtime builds the host thread's worker pool on the first parallel region
// that has more than one thread, and keeps it for the life of the process. That block
// belongs to the runtime, not to an effect, and an effect may first go parallel only once
// its particle count or frame size passes a threshold, so the pool is built here, before
// any heap sample. The plug-ins share this process's runtime.
void startThreadPool() {
#ifdef _OPENMP
#pragma omp parallel
  { [[maybe_unused]] volatile int worker = 0; }
#endif
}

class Soak : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { startThreadPool(); }
  PluginLibrary library{GetParam()};
};

TEST_P(Soak, ThousandsOfFramesWithParametersSweptKeepMemoryFlat) {
  const uint32_t params = library.numParameters();
  const int frames = soakFrames();
  std::vector<std::unique_ptr<Stream>> streams;
  for (const Format& format : kFormats) {
    streams.push_back(std::make_unique<Stream>(library, format));
    ASSERT_TRUE(streams.back()->instance.valid());
  }
  testing::internal::CaptureStderr();
  for (int f = 0; f < kWarmUpFrames; ++f) {
    for (auto& stream : streams) stream->frame(f, params);
  }
  for (auto& stream : streams) stream->refusals();

  const size_t warm = heapBytesInUse();
  const long warmResident = residentKiB();
  size_t peak = warm;
  for (int f = kWarmUpFrames; f < kWarmUpFrames + frames; ++f) {
    for (auto& stream : streams) {
      stream->frame(f, params);
      if (f % kRefusalEvery == 0) stream->refusals();
    }
    if (f % kSampleEvery == 0) peak = std::max(peak, heapBytesInUse());
  }
  const size_t end = heapBytesInUse();
  const long endResident = residentKiB();
  const std::string reports = testing::internal::GetCapturedStderr();

  int expectedReports = 0;
  for (const auto& stream : streams) {
    SCOPED_TRACE(std::to_string(stream->format.width) + "x" +
                 std::to_string(stream->format.height));
    EXPECT_EQ(stream->failedFrames, 0);
    EXPECT_EQ(stream->refusedSets, 0);
    EXPECT_EQ(stream->unclampedReads, 0);
    EXPECT_EQ(stream->acceptedRefusals, 0);
    expectedReports += stream->reports;
  }
  EXPECT_EQ(countLines(reports, "Qel_Multi: Error: No valid input data present\n"),
            static_cast<size_t>(expectedReports));
  EXPECT_EQ(end, warm) << "heap bytes in use changed over " << frames << " frames";
  EXPECT_EQ(peak, warm) << "heap bytes in use rose during the run";
  std::printf(
      "%s: %d frames x %zu instances; heap %zu bytes after warm-up, %zu at the end; "
      "resident %ld KiB -> %ld KiB\n",
      library.name().c_str(), frames, streams.size(), warm, end, warmResident, endResident);
}

TEST_P(Soak, CreatingAndDestroyingInstancesLeavesNothingBehind) {
  const uint32_t params = library.numParameters();
  auto lifetime = [&](int round) {
    Stream stream(library, kFormats[round % 2]);
    if (!stream.instance.valid()) return false;
    for (int f = 0; f < 3; ++f) stream.frame(round * 3 + f, params);
    return stream.failedFrames == 0;
  };
  ASSERT_TRUE(lifetime(0));
  ASSERT_TRUE(lifetime(1));
  const size_t base = heapBytesInUse();
  for (int round = 2; round < 42; ++round) {
    ASSERT_TRUE(lifetime(round)) << "round " << round;
    ASSERT_EQ(heapBytesInUse(), base) << "after round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Deliverables, Soak, testing::ValuesIn(kDeliverableNames),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace qeltest
