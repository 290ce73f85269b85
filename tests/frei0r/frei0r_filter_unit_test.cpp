// The frei0r front end with a probe effect in place of a real one: which parameters a
// host sees and what reaches the effect, one step per frame, frames without copies,
// lazily made instances, and what a host gets when a frame cannot be processed.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "shell/float_mode.h"
#include "tests/frei0r/frei0r_probe_effect.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A filter instance that is destructed at the end of the test.
class Filter {
 public:
  Filter(unsigned width, unsigned height) : instance_(f0r_construct(width, height)) {}
  ~Filter() { f0r_destruct(instance_); }
  f0r_instance_t get() const { return instance_; }
  void set(int index, double value) const { f0r_set_param_value(instance_, &value, index); }
  double get(int index) const {
    double value = -12345.0;
    f0r_get_param_value(instance_, &value, index);
    return value;
  }
  void update(const std::vector<uint8_t>& input, std::vector<uint8_t>& output,
              double time = 0.0) const {
    f0r_update(instance_, time, reinterpret_cast<const uint32_t*>(input.data()),
               reinterpret_cast<uint32_t*>(output.data()));
  }

 private:
  f0r_instance_t instance_;
};

std::vector<uint8_t> pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < bytes; ++i) frame[i] = static_cast<uint8_t>(seed + i * 13);
  return frame;
}

std::vector<uint8_t> processed(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> out(input.size());
  for (size_t i = 0; i < input.size(); ++i) out[i] = static_cast<uint8_t>(input[i] + kProbeAdd);
  return out;
}

bool sameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

class Frei0rFilterUnit : public testing::Test {
 protected:
  static constexpr unsigned kWidth = 9, kHeight = 5;
  static constexpr size_t kBytes = kWidth * kHeight * 4;
  void SetUp() override {
    gFrei0rProbe = Frei0rProbe{};
    ASSERT_EQ(f0r_init(), 1);
  }
  void TearDown() override {
    f0r_deinit();
    EXPECT_EQ(gFrei0rProbe.creates, gFrei0rProbe.releases);
  }
};

TEST_F(Frei0rFilterUnit, HostsSeeTheNamedParametersInTableOrder) {
  f0r_plugin_info_t info{};
  f0r_get_plugin_info(&info);
  EXPECT_STREQ(info.name, "Frei0rProbe");
  EXPECT_STREQ(info.explanation, "Records what the frei0r front end hands it");
  EXPECT_EQ(info.minor_version, 7);
  ASSERT_EQ(info.num_params, 3);

  const char* const kNames[] = {"First", "Third", "Fourth"};
  const double kDefaults[] = {0.25, 0.75, 0.5};
  Filter filter(kWidth, kHeight);
  for (int k = 0; k < 3; ++k) {
    f0r_param_info_t param{};
    f0r_get_param_info(&param, k);
    EXPECT_STREQ(param.name, kNames[k]);
    EXPECT_EQ(param.type, F0R_PARAM_DOUBLE);
    EXPECT_EQ(filter.get(k), kDefaults[k]);
  }
  for (int index : {-1, 3, 4, INT_MAX, INT_MIN}) {
    f0r_param_info_t param{"untouched", 77, nullptr};
    f0r_get_param_info(&param, index);
    EXPECT_STREQ(param.name, "untouched") << index;
    EXPECT_EQ(param.type, 77) << index;
    EXPECT_EQ(filter.get(index), -12345.0) << index;
  }
  EXPECT_EQ(gFrei0rProbe.createAttempts, 0);  // reading defaults makes no effect state
}

// A double reaches the effect as the float a FreeFrame host would have sent, clamped by
// the frame pipeline; the host reads back the float it set, unclamped, before and after
// frames.
TEST_F(Frei0rFilterUnit, ValuesReachTheEffectAsFloats) {
  struct Case {
    int index;  // frei0r index
    double value;
    double readBack;
    float seen;  // by the effect, at table row 0, 2 or 3
  };
  const Case kCases[] = {
      {0, 0.3, 0.30000001192092896, 0.3f},
      {1, 0.1, 0.10000000149011612, 0.1f},
      {2, 1.5, 1.5, 1.0f},
      {0, -0.25, -0.25, 0.0f},
      {1, 1e300, kInf, 1.0f},
      {2, -1e300, -kInf, 0.0f},
      {0, 1e-50, 0.0, 0.0f},
      {1, 0.999999999, 1.0, 1.0f},
      {2, 0.0, 0.0, 0.0f},
      {0, kNaN, kNaN, std::numeric_limits<float>::quiet_NaN()},
  };
  const int kRow[] = {0, 2, 3};
  Filter filter(kWidth, kHeight);
  const std::vector<uint8_t> input = pattern(kBytes, 1);
  std::vector<uint8_t> output(kBytes);
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.index) + " = " + std::to_string(c.value));
    filter.set(c.index, c.value);
    EXPECT_TRUE(sameValue(filter.get(c.index), c.readBack)) << filter.get(c.index);
    filter.update(input, output);
    ASSERT_EQ(gFrei0rProbe.paramsSeen.size(), 4u);
    const float seen = gFrei0rProbe.paramsSeen[kRow[c.index]];
    EXPECT_TRUE(sameValue(seen, c.seen)) << seen;
    EXPECT_EQ(gFrei0rProbe.paramsSeen[1], 0.0f);  // the unnamed row keeps its default
    EXPECT_TRUE(sameValue(filter.get(c.index), c.readBack)) << filter.get(c.index);
  }
}

TEST_F(Frei0rFilterUnit, UnknownIndicesChangeNothing) {
  Filter filter(kWidth, kHeight);
  for (int index : {-1, 3, 100, INT_MIN, INT_MAX}) filter.set(index, 0.9);
  f0r_set_param_value(filter.get(), nullptr, 0);
  f0r_get_param_value(filter.get(), nullptr, 0);
  const std::vector<uint8_t> input = pattern(kBytes, 2);
  std::vector<uint8_t> output(kBytes);
  filter.update(input, output);
  EXPECT_EQ(gFrei0rProbe.paramsSeen, (std::vector<float>{0.25f, 0.0f, 0.75f, 0.5f}));
}

TEST_F(Frei0rFilterUnit, EachUpdateIsOneStepWhateverTheClock) {
  const double kClock[] = {0.0, 0.0, 0.0, 1e9, -5.0, kNaN, kInf, 0.04, 40.0, 0.04};
  Filter filter(kWidth, kHeight);
  const std::vector<uint8_t> input = pattern(kBytes, 3);
  std::vector<uint8_t> output(kBytes);
  int calls = 0;
  for (double time : kClock) {
    filter.update(input, output, time);
    ++calls;
    EXPECT_EQ(gFrei0rProbe.instanceFrames, calls) << "time " << time;
  }
}

TEST_F(Frei0rFilterUnit, InstancesKeepTheirOwnState) {
  Filter a(kWidth, kHeight), b(kWidth, kHeight);
  const std::vector<uint8_t> input = pattern(kBytes, 4);
  std::vector<uint8_t> output(kBytes);
  struct Step {
    const Filter* filter;
    int framesSeen;
  };
  const Step kSteps[] = {{&a, 1}, {&b, 1}, {&a, 2}, {&a, 3}, {&b, 2}, {&a, 4}};
  for (const Step& s : kSteps) {
    s.filter->update(input, output);
    EXPECT_EQ(gFrei0rProbe.instanceFrames, s.framesSeen);
  }
  EXPECT_EQ(gFrei0rProbe.creates, 2);
}

TEST_F(Frei0rFilterUnit, TheEffectIsMadeOnTheFirstFrameOnly) {
  {
    Filter unused(1920, 1080);
    Filter a(kWidth, kHeight), b(kWidth, kHeight);
    EXPECT_EQ(gFrei0rProbe.createAttempts, 0);
    const std::vector<uint8_t> input = pattern(kBytes, 5);
    std::vector<uint8_t> output(kBytes);
    for (int f = 0; f < 3; ++f) a.update(input, output);
    EXPECT_EQ(gFrei0rProbe.createAttempts, 1);
  }
  EXPECT_EQ(gFrei0rProbe.releases, 1);
}

// The effect works on the host's own buffers, 32-bit, top row first, also in place.
TEST_F(Frei0rFilterUnit, FramesReachTheEffectWithoutCopies) {
  Filter filter(kWidth, kHeight);
  const std::vector<uint8_t> input = pattern(kBytes, 6);
  std::vector<uint8_t> output(kBytes, 0xA5);
  filter.update(input, output);
  const FrameContext& seen = gFrei0rProbe.lastFrame;
  EXPECT_EQ(seen.input, input.data());
  EXPECT_EQ(seen.output, output.data());
  EXPECT_EQ(seen.width, static_cast<int>(kWidth));
  EXPECT_EQ(seen.height, static_cast<int>(kHeight));
  EXPECT_EQ(seen.bytesPerPixel, 4);
  EXPECT_EQ(seen.orientation, FF_ORIENTATION_TL);
  EXPECT_EQ(output, processed(input));
  EXPECT_EQ(input, pattern(kBytes, 6));

  std::vector<uint8_t> frame = pattern(kBytes, 7);
  filter.update(frame, frame);
  EXPECT_EQ(gFrei0rProbe.lastFrame.input, frame.data());
  EXPECT_EQ(gFrei0rProbe.lastFrame.output, frame.data());
  EXPECT_EQ(frame, processed(pattern(kBytes, 7)));

  std::vector<uint8_t> viaUpdate2(kBytes);
  const std::vector<uint8_t> unused = pattern(kBytes, 99);
  f0r_update2(filter.get(), 0.0, reinterpret_cast<const uint32_t*>(input.data()),
              reinterpret_cast<const uint32_t*>(unused.data()), nullptr,
              reinterpret_cast<uint32_t*>(viaUpdate2.data()));
  EXPECT_EQ(viaUpdate2, processed(input));
  EXPECT_EQ(gFrei0rProbe.instanceFrames, 3);
}

// Whenever the effect cannot give a frame, the host gets its input back, in place or not.
TEST_F(Frei0rFilterUnit, FramesPassThroughWhenTheEffectCannotRun) {
  struct Case {
    const char* what;
    unsigned width, height;
    bool failCreate, failFrames, throwFrames;
    int wantCreateAttempts;
  };
  const Case kCases[] = {
      {"zero width", 0, 5, false, false, false, 0},
      {"zero height", 9, 0, false, false, false, 0},
      {"too wide", 32768, 1, false, false, false, 0},
      {"too tall", 1, 32768, false, false, false, 0},
      {"state not made", kWidth, kHeight, true, false, false, 1},
      {"frame refused", kWidth, kHeight, false, true, false, 1},
      {"frame threw", kWidth, kHeight, false, false, true, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    gFrei0rProbe = Frei0rProbe{};
    gFrei0rProbe.failCreate = c.failCreate;
    gFrei0rProbe.failFrames = c.failFrames;
    gFrei0rProbe.throwFrames = c.throwFrames;
    const size_t bytes = static_cast<size_t>(c.width) * c.height * 4;
    {
      Filter filter(c.width, c.height);
      for (int f = 0; f < 3; ++f) {
        const std::vector<uint8_t> input = pattern(bytes, static_cast<uint8_t>(f));
        std::vector<uint8_t> output(bytes, 0xA5);
        filter.update(input, output);
        EXPECT_EQ(output, input);
        std::vector<uint8_t> frame = input;
        filter.update(frame, frame);
        EXPECT_EQ(frame, input);
      }
    }
    // A failed start is not retried frame after frame.
    EXPECT_EQ(gFrei0rProbe.createAttempts, c.wantCreateAttempts);
    EXPECT_EQ(gFrei0rProbe.creates, gFrei0rProbe.releases);
  }
}

TEST_F(Frei0rFilterUnit, MissingFramesAndInstancesAreRefusedQuietly) {
  Filter filter(kWidth, kHeight);
  std::vector<uint8_t> output(kBytes, 0xA5);
  f0r_update(filter.get(), 0.0, nullptr, reinterpret_cast<uint32_t*>(output.data()));
  EXPECT_EQ(output, std::vector<uint8_t>(kBytes, 0));  // no input: a black, clear frame
  EXPECT_EQ(gFrei0rProbe.frames, 0);
  const std::vector<uint8_t> input = pattern(kBytes, 8);
  f0r_update(filter.get(), 0.0, reinterpret_cast<const uint32_t*>(input.data()), nullptr);
  EXPECT_EQ(gFrei0rProbe.frames, 0);

  f0r_update(nullptr, 0.0, reinterpret_cast<const uint32_t*>(input.data()),
             reinterpret_cast<uint32_t*>(output.data()));
  f0r_update2(nullptr, 0.0, nullptr, nullptr, nullptr, nullptr);
  double value = 0.5;
  f0r_set_param_value(nullptr, &value, 0);
  f0r_get_param_value(nullptr, &value, 0);
  EXPECT_EQ(value, 0.5);
  f0r_get_plugin_info(nullptr);
  f0r_get_param_info(nullptr, 0);
  f0r_destruct(nullptr);
  EXPECT_EQ(gFrei0rProbe.frames, 0);
  EXPECT_EQ(output, std::vector<uint8_t>(kBytes, 0));
}

#ifdef QEL_HAVE_MXCSR
// Frames run with denormals flushed; the host's own mode is back when the call returns.
TEST_F(Frei0rFilterUnit, FloatModeIsSetForTheFrameAndRestored) {
  const unsigned hostMode = _mm_getcsr() & ~kFlushDenormalsMask;
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(hostMode);
  Filter filter(kWidth, kHeight);
  const std::vector<uint8_t> input = pattern(kBytes, 9);
  std::vector<uint8_t> output(kBytes);
  filter.update(input, output);
  const unsigned after = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_EQ(gFrei0rProbe.floatModeSeen & kFlushDenormalsMask, kFlushDenormalsMask);
  EXPECT_EQ(after, hostMode);
}
#endif

}  // namespace
