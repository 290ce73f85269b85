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

// The two records the host may keep addresses of. Every call brings them back to the
// deliverable's constants; a field is written only where it differs (a host scribbled on
// it), so concurrent calls from several host threads only read.
PluginInfoStruct gInfo;
PluginExtendedInfoStruct gExtendedInfo;

template <typename Record>
Record* restore(Record& record, const Record& constants) {
  if (std::memcmp(&record, &constants, sizeof record) != 0) {
    std::memcpy(&record, &constants, sizeof record);
  }
  return &record;
}

}  // namespace

PluginInfoStruct* getInfo() {
  PluginInfoStruct info;
  std::memset(&info, 0, sizeof info);
  info.APIMajorVersion = 1;
  info.APIMinorVersion = 0;
  std::memcpy(info.PluginUniqueID, kDeliverable.uniqueId, sizeof info.PluginUniqueID);
  std::strncpy(info.PluginName, kDeliverable.name, sizeof info.PluginName - 1);
  info.PluginType = FF_EFFECT;
  return restore(gInfo, info);
}

PluginExtendedInfoStruct* getExtendedInfo() {
  PluginExtendedInfoStruct info;
  std::memset(&info, 0, sizeof info);
  info.PluginMajorVersion = 3;
  info.PluginMinorVersion = kDeliverable.minorVersion;
  info.Description = kDeliverable.description;
  info.About = kDeliverable.about;
  info.FreeFrameExtendedDataSize = 0;
  info.FreeFrameExtendedDataBlock = nullptr;
  return restore(gExtendedInfo, info);
}

uint32_t getPluginCaps(uint32_t index) {
  return index < kDeliverable.numCaps ? kDeliverable.caps[index] : 0;
}
