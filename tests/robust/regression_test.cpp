// Faults the fuzz targets found, each pinned by the smallest host sequence that showed it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

uint32_t bitsOf(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

float floatOf(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

class Regression : public testing::TestWithParam<const char*> {
 protected:
  PluginLibrary library{GetParam()};
};

// Frames run with denormals-are-zero, under which a negative denormal compares equal to 0:
// the clamp let such values through, and after a frame they still read back below 0.
TEST_P(Regression, NegativeDenormalParametersAreClampedToZeroByEveryFrameEntry) {
  const uint32_t kBelowZero[] = {
      0x80000001u,  // smallest negative denormal
      0x807FFFFFu,  // largest negative denormal
      0x80800000u,  // -FLT_MIN, the first normal value
      0xFF800000u,  // -inf
  };
  enum Entry { kInPlace, kCopy, kMulti };
  const uint32_t last = library.numParameters() - 1;
  for (Entry entry : {kInPlace, kCopy, kMulti}) {
    for (uint32_t bits : kBelowZero) {
      Instance instance(library, 24, 16, entry == kCopy ? 3 : 4);
      ASSERT_TRUE(instance.valid());
      ASSERT_EQ(instance.setParameter(0, floatOf(bits)), FF_SUCCESS);
      ASSERT_EQ(instance.setParameter(last, floatOf(bits)), FF_SUCCESS);
      std::vector<uint8_t> frame = testFrame(24, 16, entry == kCopy ? 3 : 4, 0);
      std::vector<uint8_t> output(frame.size());
      uint32_t status = FF_FAIL;
      if (entry == kInPlace) {
        status = instance.processFrame(frame.data());
      } else if (entry == kCopy) {
        status = instance.processFrameCopy({frame.data()}, output.data());
      } else {
        FrameSlot in{kFormatTagRgb8, 4, frame.data(), 24, 16, nullptr, 0, 0};
        FrameSlot out{kFormatTagRgb8, 4, output.data(), 24, 16, nullptr, 0, 0};
        MultiFrames record{};
        record.numInputs = record.numOutputs = 1;
        record.inputs[0] = &in;
        record.outputs[0] = &out;
        status = instance.processMulti(&record);
      }
      ASSERT_EQ(status, FF_SUCCESS) << "entry " << entry;
      EXPECT_EQ(bitsOf(instance.parameter(0)), bitsOf(0.0f))
          << "entry " << entry << ", value bits 0x" << std::hex << bits;
      EXPECT_EQ(bitsOf(instance.parameter(last)), bitsOf(0.0f))
          << "entry " << entry << ", value bits 0x" << std::hex << bits;
      EXPECT_STREQ(instance.display(0), "0.000000");
    }
  }
}

// The clamp decides on the sign bit now; a NaN with its sign bit set is not below 0 and
// passes unchanged, as every NaN does.
TEST_P(Regression, NegativeNaNPassesTheClamp) {
  Instance instance(library, 8, 8, 4);
  ASSERT_TRUE(instance.valid());
  ASSERT_EQ(instance.setParameter(0, floatOf(0xFFC00001u)), FF_SUCCESS);
  std::vector<uint8_t> frame = testFrame(8, 8, 4, 3);
  ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
  EXPECT_EQ(bitsOf(instance.parameter(0)), 0xFFC00001u);
}

INSTANTIATE_TEST_SUITE_P(Deliverables, Regression, testing::ValuesIn(kDeliverableNames),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace qeltest
