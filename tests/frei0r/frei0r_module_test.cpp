// The six frei0r modules against their FreeFrame builds, through the f0r_* functions and
// plugMain only: identity and parameters as frei0r hosts read them, the same output
// bytes for the same frames and parameter values, and sizes the FreeFrame side refuses.
//
// Effects may keep process-wide state (the C library's rand() above all). Each test here
// runs in a process of its own (one CTest test per gtest test), loads each library once
// and resets rand() before each of its two runs, so both runs start alike.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/frei0r/frei0r_host.h"
#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

// Table rows of the FreeFrame build that carry a name, in order: the frei0r parameters.
std::vector<uint32_t> namedRows(const PluginLibrary& library) {
  std::vector<uint32_t> rows;
  for (uint32_t i = 0; i < library.numParameters(); ++i) {
    if (!library.parameterName(i).empty()) rows.push_back(i);
  }
  return rows;
}

struct Identity {
  const char* name;
  int frei0rParams;  // the named FreeFrame parameters
};

const Identity kIdentities[] = {
    {"QelParticles1", 10}, {"QelParticles2", 10}, {"QelParticles3", 10},
    {"QelInferno1", 13},   {"QelInferno2", 13},   {"QelStains1", 9},
};

class Frei0rIdentity : public testing::TestWithParam<Identity> {};

TEST_P(Frei0rIdentity, InfoAndParametersMatchTheFreeFrameBuild) {
  const Identity& want = GetParam();
  PluginLibrary freeframe(want.name);
  Frei0rModule module(want.name);
  EXPECT_EQ(module.init(), 1);

  const f0r_plugin_info_t info = module.info();
  ASSERT_NE(info.name, nullptr);
  EXPECT_STREQ(info.name, want.name);
  EXPECT_STREQ(info.name, std::string(freeframe.info()->PluginName, 16).c_str());
  ASSERT_NE(info.author, nullptr);
  EXPECT_GT(std::strlen(info.author), 0u);
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_EQ(info.major_version, 3);
  EXPECT_EQ(info.minor_version, static_cast<int>(freeframe.extendedInfo()->PluginMinorVersion));
  ASSERT_NE(info.explanation, nullptr);
  EXPECT_STREQ(info.explanation, freeframe.extendedInfo()->Description);
  EXPECT_EQ(info.num_params, want.frei0rParams);

  const std::vector<uint32_t> rows = namedRows(freeframe);
  ASSERT_EQ(rows.size(), static_cast<size_t>(want.frei0rParams));
  Frei0rInstance instance(module, 64, 48);
  ASSERT_TRUE(instance.valid());
  for (int k = 0; k < info.num_params; ++k) {
    const f0r_param_info_t param = module.paramInfo(k);
    ASSERT_NE(param.name, nullptr);
    EXPECT_EQ(param.name, freeframe.parameterName(rows[k])) << k;
    EXPECT_EQ(param.type, F0R_PARAM_DOUBLE) << k;
    // Hosts read defaults from a fresh instance.
    EXPECT_EQ(instance.param(k), static_cast<double>(freeframe.parameterDefault(rows[k])))
        << param.name;
  }
  module.deinit();
}

INSTANTIATE_TEST_SUITE_P(All, Frei0rIdentity, testing::ValuesIn(kIdentities),
                         [](const auto& info) { return std::string(info.param.name); });

// How the frei0r host hands over its frames.
enum class CallMode {
  kSeparate,  // f0r_update into an output buffer full of stale bytes
  kInPlace,   // f0r_update with the output buffer as the input too
  kUpdate2,   // f0r_update2 with the unused inputs null, clock values that make no sense
};

struct EquivalenceCase {
  const char* deliverable;
  int width;
  int height;
  CallMode mode;
};

constexpr int kFrames = 10;
constexpr int kFirstChange = 3;   // parameters change before this frame ...
constexpr int kSecondChange = 7;  // ... and again before this one

// In-range values for the first change, cycled over the parameters.
const double kValuesA[] = {0.3, 0.85, 0.05, 0.6, 0.95, 0.15, 0.5, 0.7, 0.4, 0.25, 0.9, 0.1, 0.65};
// Edges for the second: the range ends, values the clamp must catch, a double that no
// float holds, NaN.
const double kValuesB[] = {0.0,
                           1.0,
                           1.5,
                           -0.25,
                           0.123456789012345,
                           1e300,
                           std::numeric_limits<double>::quiet_NaN(),
                           0.999999999,
                           -1e-300};

double changedValue(int frame, size_t k) {
  if (frame >= kSecondChange) return kValuesB[k % std::size(kValuesB)];
  return kValuesA[k % std::size(kValuesA)];
}

bool changesBefore(int frame) {
  return frame == kFirstChange || frame == kSecondChange;
}

class Frei0rEquivalence : public testing::TestWithParam<EquivalenceCase> {};

TEST_P(Frei0rEquivalence, OutputEqualsTheFreeFrame32BitOutput) {
  const EquivalenceCase& c = GetParam();
  const size_t bytes = static_cast<size_t>(c.width) * c.height * 4;

  // The reference: a FreeFrame host, 32-bit frames in place, parameters set as floats.
  std::vector<std::vector<uint8_t>> want;
  {
    PluginLibrary freeframe(c.deliverable);
    const std::vector<uint32_t> rows = namedRows(freeframe);
    std::srand(1);
    Instance instance(freeframe, c.width, c.height, 4);
    ASSERT_TRUE(instance.valid());
    for (int f = 0; f < kFrames; ++f) {
      if (changesBefore(f)) {
        for (size_t k = 0; k < rows.size(); ++k) {
          instance.setParameter(rows[k], static_cast<float>(changedValue(f, k)));
        }
      }
      std::vector<uint8_t> frame = testFrame(c.width, c.height, 4, f);
      ASSERT_EQ(instance.processFrame(frame.data()), FF_SUCCESS);
      want.push_back(frame);
    }
  }

  Frei0rModule module(c.deliverable);
  const int params = module.info().num_params;
  std::srand(1);
  Frei0rInstance instance(module, c.width, c.height);
  ASSERT_TRUE(instance.valid());
  GuardedFrame output(bytes, 0xA5);
  const double kClock[] = {0.0, 0.0, 1e9, -3.0, std::numeric_limits<double>::quiet_NaN()};
  for (int f = 0; f < kFrames; ++f) {
    if (changesBefore(f)) {
      for (int k = 0; k < params; ++k) instance.setParam(k, changedValue(f, k));
    }
    const std::vector<uint8_t> input = testFrame(c.width, c.height, 4, f);
    switch (c.mode) {
      case CallMode::kSeparate:
        instance.update(f * 0.04, input.data(), output.data());
        EXPECT_EQ(input, testFrame(c.width, c.height, 4, f)) << "input written, frame " << f;
        break;
      case CallMode::kInPlace:
        std::memcpy(output.data(), input.data(), bytes);
        instance.update(f * 40.0, output.data(), output.data());
        break;
      case CallMode::kUpdate2:
        module.update2(instance.handle(), kClock[f % std::size(kClock)],
                       reinterpret_cast<const uint32_t*>(input.data()), nullptr, nullptr,
                       reinterpret_cast<uint32_t*>(output.data()));
        break;
    }
    ASSERT_TRUE(output.guardsIntact()) << "frame " << f;
    ASSERT_EQ(output.bytes(), want[f]) << "frame " << f;
  }
}

const char* modeName(CallMode mode) {
  switch (mode) {
    case CallMode::kSeparate:
      return "Separate";
    case CallMode::kInPlace:
      return "InPlace";
    case CallMode::kUpdate2:
      return "Update2";
  }
  return "";
}

std::vector<EquivalenceCase> equivalenceCases() {
  std::vector<EquivalenceCase> cases;
  for (const char* name : kDeliverableNames) {
    cases.push_back({name, 64, 48, CallMode::kSeparate});
    cases.push_back({name, 37, 21, CallMode::kInPlace});
    cases.push_back({name, 13, 7, CallMode::kUpdate2});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(All, Frei0rEquivalence, testing::ValuesIn(equivalenceCases()),
                         [](const auto& info) {
                           const EquivalenceCase& c = info.param;
                           return std::string(c.deliverable) + "_" + std::to_string(c.width) + "x" +
                                  std::to_string(c.height) + "_" + modeName(c.mode);
                         });

class Frei0rSizes : public testing::TestWithParam<const char*> {};

// Hosts construct filters for any size, some only to read defaults. Sizes the FreeFrame
// side refuses still give a filter that keeps its parameters and passes frames through.
TEST_P(Frei0rSizes, RefusedSizesConstructAndPassFramesThrough) {
  Frei0rModule module(GetParam());
  struct Size {
    unsigned width;
    unsigned height;
    bool update;  // small enough to hand it frames here
  };
  const Size kSizes[] = {
      {0, 0, true},     {0, 48, true},       {64, 0, true},         {32768, 2, true},
      {2, 32768, true}, {8193, 8193, false}, {65536, 65536, false}, {UINT_MAX, UINT_MAX, false},
  };
  for (const Size& s : kSizes) {
    SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
    Frei0rInstance instance(module, s.width, s.height);
    ASSERT_TRUE(instance.valid());
    instance.setParam(0, 0.625);
    EXPECT_EQ(instance.param(0), 0.625);
    if (!s.update) continue;
    const size_t bytes = static_cast<size_t>(s.width) * s.height * 4;
    std::vector<uint8_t> input(bytes);
    for (size_t i = 0; i < bytes; ++i) input[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    GuardedFrame output(bytes, 0xA5);
    for (int f = 0; f < 3; ++f) {
      instance.update(f, input.data(), output.data());
      EXPECT_EQ(output.bytes(), input);
      EXPECT_TRUE(output.guardsIntact());
    }
    std::vector<uint8_t> inPlace = input;
    instance.update(3, inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, input);
  }
}

INSTANTIATE_TEST_SUITE_P(All, Frei0rSizes, testing::ValuesIn(kDeliverableNames));

}  // namespace
}  // namespace qeltest
