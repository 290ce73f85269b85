// Identity, capability and dispatch answers of every deliverable, through plugMain.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/harness/plugin_host.h"

namespace qeltest {
namespace {

struct Identity {
  const char* name;
  const char* id;
  uint32_t numParams;
  uint32_t minorVersion;
  const char* description;
  char capsTable;  // 'A' or 'B'
};

const Identity kIdentities[] = {
    {"QelParticles1", "kv71", 10, 914, "Turns input into bursting particles", 'A'},
    {"QelParticles2", "kv72", 11, 912, "Turns input into bursting particles - bigger (slower)", 'A'},
    {"QelParticles3", "kv73", 10, 904, "Turns input into bursting particles - biggest (slowest)",
     'A'},
    {"QelInferno1", "kv81", 14, 891, "Put anything filmed or still into flames", 'A'},
    {"QelInferno2", "kv82", 14, 888, "Put anything filmed or still into flames", 'A'},
    {"QelStains1", "kv91", 9, 908,
     "Input produces dots (stains), that are drawn with controllable transparency onto previous "
     "(persistent buffer)",
     'B'},
};

const uint32_t kCapsA[22] = {0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 3, 1, 2,
                             65535, 65535, 65535, 65535};
const uint32_t kCapsB[16] = {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1};

class HostIdentity : public testing::TestWithParam<Identity> {
 protected:
  PluginLibrary library{GetParam().name};
};

TEST_P(HostIdentity, InfoRecordHoldsTheDeliverableIdentity) {
  const Identity& want = GetParam();
  const PluginInfoStruct* info = library.info();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info, library.info()) << "the record's address is stable";
  EXPECT_EQ(info->APIMajorVersion, 1u);
  EXPECT_EQ(info->APIMinorVersion, 0u);
  EXPECT_EQ(std::string(info->PluginUniqueID, 4), want.id);
  EXPECT_EQ(info->PluginType, FF_EFFECT);
  const size_t nameLength = std::strlen(want.name);
  EXPECT_EQ(std::string(info->PluginName, nameLength), want.name);
  for (size_t i = nameLength; i < sizeof info->PluginName; ++i) {
    EXPECT_EQ(info->PluginName[i], 0) << "byte " << i << " after the name";
  }
}

TEST_P(HostIdentity, RecordsAreRestoredAfterAHostWritesIntoThem) {
  auto* info = const_cast<PluginInfoStruct*>(library.info());
  auto* ext = const_cast<PluginExtendedInfoStruct*>(library.extendedInfo());
  std::memset(info->PluginName, 'x', sizeof info->PluginName);
  info->APIMajorVersion = 7;
  ext->PluginMinorVersion = 1;
  ext->About = nullptr;
  EXPECT_EQ(library.info(), info);
  EXPECT_EQ(info->APIMajorVersion, 1u);
  EXPECT_EQ(std::string(info->PluginName), GetParam().name);
  EXPECT_EQ(library.extendedInfo(), ext);
  EXPECT_EQ(ext->PluginMinorVersion, GetParam().minorVersion);
  EXPECT_NE(ext->About, nullptr);
}

TEST_P(HostIdentity, ExtendedInfoRecordHoldsVersionAndTexts) {
  const Identity& want = GetParam();
  const PluginExtendedInfoStruct* ext = library.extendedInfo();
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(ext, library.extendedInfo());
  EXPECT_EQ(ext->PluginMajorVersion, 3u);
  EXPECT_EQ(ext->PluginMinorVersion, want.minorVersion);
  EXPECT_STREQ(ext->Description, want.description);
  const std::string aboutStart = std::string(want.name) + " - Version 3.x - ";
  ASSERT_NE(ext->About, nullptr);
  const std::string about = ext->About;
  EXPECT_EQ(about.substr(0, aboutStart.size()), aboutStart);
  EXPECT_GT(about.size(), aboutStart.size()) << "a maker notice follows";
  EXPECT_EQ(about.find('\n'), std::string::npos) << "one line";
  EXPECT_EQ(ext->FreeFrameExtendedDataSize, 0u);
  EXPECT_EQ(ext->FreeFrameExtendedDataBlock, nullptr);
}

TEST_P(HostIdentity, CapabilityTableAndBeyond) {
  const bool tableA = GetParam().capsTable == 'A';
  const uint32_t* table = tableA ? kCapsA : kCapsB;
  const uint32_t size = tableA ? 22 : 16;
  for (uint32_t i = 0; i < 22; ++i) {
    EXPECT_EQ(library.caps(i), i < size ? table[i] : 0u) << "capability " << i;
  }
  for (uint32_t index : {22u, 23u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(library.caps(index), 0u) << "capability " << index;
  }
}

TEST_P(HostIdentity, CountsAndTypes) {
  const uint32_t n = GetParam().numParams;
  EXPECT_EQ(library.numParameters(), n);
  for (uint32_t index : {0u, n - 1, n, 0xFFFFFFFFu}) {
    EXPECT_EQ(library.callUInt(FF_GETPARAMETERTYPE, index), FF_TYPE_STANDARD) << index;
  }
}

TEST_P(HostIdentity, UnknownCodesAndMissingInstancesFail) {
  for (uint32_t code : {17u, 18u, 1000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(library.callUInt(code, 0), FF_FAIL) << "code " << code;
  }
  for (uint32_t code : {3u, 7u, 8u, 9u, 14u, 16u}) {
    EXPECT_EQ(library.callUInt(code, 0, nullptr), FF_FAIL) << "code " << code;
  }
  EXPECT_EQ(library.callUInt(FF_DEINSTANTIATE, 0, nullptr), FF_FAIL);
}

TEST_P(HostIdentity, InitialiseAndDeinitialiseAlwaysSucceed) {
  EXPECT_EQ(library.callUInt(FF_INITIALISE, 0), FF_SUCCESS);
  {
    Instance instance(library, 16, 16, 4);
    ASSERT_TRUE(instance.valid());
    EXPECT_EQ(library.callUInt(FF_DEINITIALISE, 0), FF_SUCCESS);
    EXPECT_EQ(library.callUInt(FF_INITIALISE, 0), FF_SUCCESS);
  }
  EXPECT_EQ(library.callUInt(FF_DEINITIALISE, 0), FF_SUCCESS);
}

TEST_P(HostIdentity, AnswersFillTheWholeUnion) {
  // FF_FAIL and integer answers leave the upper half of a 64-bit union zero, and integer
  // inputs are read from the low 32 bits only.
  FFMixed input;
  std::memset(&input, 0xAB, sizeof input);
  input.UIntValue = 1;
  const FFMixed caps = library.call(FF_GETPLUGINCAPS, input);
  uint64_t bits = 0;
  std::memcpy(&bits, &caps, sizeof caps);
  EXPECT_EQ(bits, 1u);
  const FFMixed fail = library.call(17, input);
  std::memcpy(&bits, &fail, sizeof fail);
  EXPECT_EQ(bits, uint64_t{FF_FAIL});
  input.UIntValue = 2;
  const auto* name = static_cast<const char*>(library.call(FF_GETPARAMETERNAME, input).PointerValue);
  EXPECT_EQ(std::string(name), library.parameterName(2));
}

INSTANTIATE_TEST_SUITE_P(Deliverables, HostIdentity, testing::ValuesIn(kIdentities),
                         [](const testing::TestParamInfo<Identity>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace qeltest
