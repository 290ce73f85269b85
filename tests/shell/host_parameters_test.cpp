// The parameter bank of every deliverable, through plugMain.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"

namespace qeltest {
namespace {

struct Param {
  const char* name;
  float defaultValue;
};

struct ParameterTable {
  const char* deliverable;
  std::vector<Param> params;
};

const std::vector<Param> kInfernoParams = {
    {"Brightness", 0.75f},   {"Col Value", 0.75f},     {"Range", 0.5f},
    {"Blend", 0.6f},         {"Burn Speed", 0.54f},    {"FlowMap Blend", 0.95f},
    {"CoolMap Base", 0.2f},  {"Fire Blend", 1.0f},     {"Flip Fire", 0.0f},
    {"CoolMap Speed", 0.75f}, {"CoolMap Mul", 0.65f},  {"CoolMap Add", 0.25f},
    {"Process Alpha", 0.0f}, {"", 0.0f}};

const ParameterTable kTables[] = {
    {"QelParticles1",
     {{"Birth Value", 0.26f}, {"Birth Range", 0.16f}, {"Birth Rate", 0.24f},
      {"Fade Strength", 0.04f}, {"Trail Strength", 0.49f}, {"Particle Speed", 0.78f},
      {"Max Particles", 0.4f}, {"Color Keep", 0.19f}, {"Alpha Mode", 0.5f}, {"FX Amount", 1.0f}}},
    {"QelParticles2",
     {{"Birth Value", 0.26f}, {"Birth Range", 0.24f}, {"Birth Rate", 0.17f},
      {"Fade Strength", 1.0f}, {"Trail Strength", 0.49f}, {"Particle Speed", 0.2f},
      {"Max Particles", 0.24f}, {"Color Keep", 0.3f}, {"Alpha Mode", 0.5f}, {"FX Amount", 1.0f},
      {"", 0.0f}}},
    {"QelParticles3",
     {{"Birth Value", 0.26f}, {"Birth Range", 0.16f}, {"Birth Rate", 0.24f},
      {"Fade Strength", 0.04f}, {"Trail Strength", 0.49f}, {"Particle Speed", 0.78f},
      {"Max Particles", 0.07f}, {"Color Keep", 0.19f}, {"Alpha Mode", 0.5f}, {"FX Amount", 1.0f}}},
    {"QelInferno1", kInfernoParams},
    {"QelInferno2", kInfernoParams},
    {"QelStains1",
     {{"Drawing", 1.0f}, {"Dot Scale", 0.4f}, {"Colorize Speed", 0.5f}, {"Num Particles", 0.3f},
      {"Rot Angle X", 0.73f}, {"Rot Angle Y", 0.18f}, {"Rot Angle Z", 0.94f}, {"Step Max", 0.5f},
      {"Magnet Force", 0.5f}}},
};

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class HostParameters : public testing::TestWithParam<ParameterTable> {
 protected:
  PluginLibrary library{GetParam().deliverable};
  uint32_t count() const { return static_cast<uint32_t>(GetParam().params.size()); }
};

TEST_P(HostParameters, NamesAndDefaults) {
  ASSERT_EQ(library.numParameters(), count());
  for (uint32_t i = 0; i < count(); ++i) {
    const Param& want = GetParam().params[i];
    const auto* field = static_cast<const char*>(library.callForPointer(FF_GETPARAMETERNAME, i));
    ASSERT_NE(field, nullptr);
    EXPECT_STREQ(field, want.name) << "parameter " << i;
    for (size_t k = std::strlen(want.name); k < 16; ++k) EXPECT_EQ(field[k], 0) << i << ":" << k;
    EXPECT_EQ(bitsOf(library.parameterDefault(i)), bitsOf(want.defaultValue)) << "parameter " << i;
  }
}

TEST_P(HostParameters, FreshInstanceHoldsTheDefaults) {
  Instance instance(library, 32, 24, 4);
  ASSERT_TRUE(instance.valid());
  for (uint32_t i = 0; i < count(); ++i) {
    EXPECT_EQ(bitsOf(instance.parameter(i)), bitsOf(library.parameterDefault(i))) << i;
  }
}

TEST_P(HostParameters, IndicesOutsideTheTableAreRefused) {
  Instance instance(library, 8, 8, 3);
  ASSERT_TRUE(instance.valid());
  for (uint32_t index : {count(), count() + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(library.callUInt(FF_GETPARAMETERNAME, index), FF_FAIL) << index;
    EXPECT_EQ(library.callUInt(FF_GETPARAMETERDEFAULT, index), FF_FAIL) << index;
    EXPECT_EQ(library.callUInt(FF_GETPARAMETERDISPLAY, index, instance.id()), FF_FAIL) << index;
    EXPECT_EQ(library.callUInt(FF_GETPARAMETER, index, instance.id()), FF_FAIL) << index;
    EXPECT_EQ(instance.setParameter(index, 0.5f), FF_FAIL) << index;
  }
  EXPECT_EQ(library.callPointer(FF_SETPARAMETER, nullptr, instance.id()), FF_FAIL);
  // The instance is untouched and still works.
  EXPECT_EQ(bitsOf(instance.parameter(0)), bitsOf(library.parameterDefault(0)));
  std::vector<uint8_t> frame(instance.frameBytes(), 7);
  EXPECT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
}

TEST_P(HostParameters, ValuesAreStoredAsSentAndClampedByTheNextFrame) {
  Instance instance(library, 16, 12, 4);
  ASSERT_TRUE(instance.valid());
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const uint32_t last = count() - 1;
  ASSERT_EQ(instance.setParameter(0, 1.5f), FF_SUCCESS);
  ASSERT_EQ(instance.setParameter(1, -0.25f), FF_SUCCESS);
  ASSERT_EQ(instance.setParameter(last, nan), FF_SUCCESS);
  EXPECT_EQ(instance.parameter(0), 1.5f);
  EXPECT_EQ(instance.parameter(1), -0.25f);
  EXPECT_TRUE(std::isnan(instance.parameter(last)));
  std::vector<uint8_t> frame(instance.frameBytes(), 100);
  ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
  EXPECT_EQ(instance.parameter(0), 1.0f);
  EXPECT_EQ(bitsOf(instance.parameter(1)), bitsOf(0.0f));
  EXPECT_TRUE(std::isnan(instance.parameter(last))) << "NaN passes the clamp";
  EXPECT_STREQ(instance.display(0), "1.000000");
}

INSTANTIATE_TEST_SUITE_P(Deliverables, HostParameters, testing::ValuesIn(kTables),
                         [](const testing::TestParamInfo<ParameterTable>& info) {
                           return std::string(info.param.deliverable);
                         });

struct DisplayCase {
  float value;
  const char* text;  // at most 15 characters, followed by a NUL and spaces
};

TEST(HostParameterDisplay, FixedNotationPaddedWithSpaces) {
  const DisplayCase kCases[] = {
      {0.5f, "0.500000"},         {1.0f, "1.000000"},         {-0.25f, "-0.250000"},
      {0.0f, "0.000000"},         {1e7f, "10000000.000000"},  {-1e6f, "-1000000.000000"},
      {1e8f, "100000000.00000"},  {-1e7f, "-10000000.00000"},
  };
  PluginLibrary library("QelInferno1");
  Instance instance(library, 8, 8, 4);
  ASSERT_TRUE(instance.valid());
  for (const DisplayCase& c : kCases) {
    ASSERT_EQ(instance.setParameter(3, c.value), FF_SUCCESS);
    const char* text = instance.display(3);
    const size_t length = std::strlen(c.text);
    ASSERT_LE(length, 15u);
    EXPECT_EQ(std::string(text, length), c.text) << c.value;
    EXPECT_EQ(text[length], '\0') << c.value;
    for (size_t k = length + 1; k < 16; ++k) EXPECT_EQ(text[k], ' ') << c.value << " byte " << k;
  }
  EXPECT_EQ(instance.display(3), instance.display(3)) << "the buffer's address is stable";
}

}  // namespace
}  // namespace qeltest
