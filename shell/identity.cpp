#include "shell/identity.h"

#include <cstring>

#include "shell/deliverable.h"

const uint32_t kCapabilityTableA[kCapabilityTableASize] = {
    0,  // 16-bit video
    1,  // 24-bit video
    1,  // 32-bit video
    1,  // processFrameCopy
    1,  // 4: no FreeFrame 1.0 meaning
    0, 0, 0, 0, 0,
    1,  // minimum input frames
    1,  // maximum input frames
    0, 0, 0,
    FF_CAP_PREFER_BOTH,  // copy or in place
    1, 2, 65535, 65535, 65535, 65535,  // 16 to 21: no FreeFrame 1.0 meaning
};

const uint32_t kCapabilityTableB[kCapabilityTableBSize] = {
    0, 1, 1, 1, 0, 0, 0, 0, 0, 0,
    1,  // minimum input frames
    1,  // maximum input frames
    0, 0, 0,
    FF_CAP_PREFER_INPLACE,
};

namespace {
// The two records the host may keep addresses of; every call rewrites them with the
// same constants, so they never change once written.
PluginInfoStruct gInfo;
PluginExtendedInfoStruct gExtendedInfo;
}  // namespace

PluginInfoStruct* getInfo() {
  gInfo.APIMajorVersion = 1;
  gInfo.APIMinorVersion = 0;
  std::memcpy(gInfo.PluginUniqueID, kDeliverable.uniqueId, sizeof gInfo.PluginUniqueID);
  char name[sizeof gInfo.PluginName] = {};
  std::strncpy(name, kDeliverable.name, sizeof name - 1);
  std::memcpy(gInfo.PluginName, name, sizeof name);
  gInfo.PluginType = FF_EFFECT;
  return &gInfo;
}

PluginExtendedInfoStruct* getExtendedInfo() {
  gExtendedInfo.PluginMajorVersion = 3;
  gExtendedInfo.PluginMinorVersion = kDeliverable.minorVersion;
  gExtendedInfo.Description = kDeliverable.description;
  gExtendedInfo.About = kDeliverable.about;
  gExtendedInfo.FreeFrameExtendedDataSize = 0;
  gExtendedInfo.FreeFrameExtendedDataBlock = nullptr;
  return &gExtendedInfo;
}

uint32_t getPluginCaps(uint32_t index) {
  return index < kDeliverable.numCaps ? kDeliverable.caps[index] : 0;
}
