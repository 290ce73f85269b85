// A stateful test effect for the host-tool tests, built as the frei0r module
// qelcounter.so. Every output pixel tells which instance made it and how many frames that
// instance had seen before: byte 0 = kMarker, byte 1 = frame count (mod 256), byte 2 =
// instance serial (1 for the first instance made in the process, then 2, ...), byte 3 =
// 255. The marker shows a host's channel order: it lands in byte 2 when a host hands
// the filter RGBA frames although the module declares BGRA.
#include <atomic>
#include <cstring>
#include <new>

#include "shell/deliverable.h"
#include "shell/effect_seam.h"

namespace {

constexpr uint8_t kMarker = 200;  // above any serial a test run reaches
std::atomic<uint32_t> gInstancesMade{0};

const ParamRecord kParams[] = {{0.5f, "Unused"}};

}  // namespace

struct EffectState {
  uint32_t frames = 0;
  uint32_t serial = 0;
};

const DeliverableConstants kDeliverable = {
    {'t', 's', 't', '2'},
    "QelCounter",
    1,
    "Stamps its instance and frame count into every pixel",
    "QelCounter - Version 3.x - test",
    kParams,
    1,
    kCapabilityTableA,
    kCapabilityTableASize,
};

bool createEffectState(PlugObj* pPlugObj) {
  pPlugObj->fEffect = new (std::nothrow) EffectState;
  if (!pPlugObj->fEffect) return false;
  pPlugObj->fEffect->serial = ++gInstancesMade;
  return true;
}

void releaseEffectState(PlugObj* pPlugObj) {
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  EffectState& state = *pPlugObj->fEffect;
  const uint8_t pixel[4] = {kMarker, static_cast<uint8_t>(state.frames),
                            static_cast<uint8_t>(state.serial), 255};
  const size_t pixels = static_cast<size_t>(frame.width) * frame.height;
  for (size_t i = 0; i < pixels; ++i) std::memcpy(frame.output + i * 4, pixel, 4);
  ++state.frames;
  return FF_SUCCESS;
}
