#include "tests/frei0r/frei0r_probe_effect.h"

#include <new>
#include <stdexcept>

#include "shell/deliverable.h"
#include "shell/float_mode.h"

Frei0rProbe gFrei0rProbe;

struct EffectState {
  int frames = 0;
};

namespace {
// An unnamed row between named ones: frei0r index 1 is table row 2.
const ParamRecord kProbeParams[] = {
    {0.25f, "First"}, {0.0f, ""}, {0.75f, "Third"}, {0.5f, "Fourth"}};
}  // namespace

const DeliverableConstants kDeliverable = {
    {'t', 's', 't', '3'},
    "Frei0rProbe",
    7,
    "Records what the frei0r front end hands it",
    "Frei0rProbe - Version 3.x - test",
    kProbeParams,
    4,
    kCapabilityTableA,
    kCapabilityTableASize,
};

bool createEffectState(PlugObj* pPlugObj) {
  ++gFrei0rProbe.createAttempts;
  if (gFrei0rProbe.failCreate) return false;
  pPlugObj->fEffect = new EffectState;
  ++gFrei0rProbe.creates;
  return true;
}

void releaseEffectState(PlugObj* pPlugObj) {
  if (pPlugObj->fEffect) ++gFrei0rProbe.releases;
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  Frei0rProbe& probe = gFrei0rProbe;
  ++probe.frames;
  probe.instanceFrames = ++pPlugObj->fEffect->frames;
  probe.lastFrame = frame;
  probe.paramsSeen.assign(kDeliverable.numParams, 0.0f);
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    probe.paramsSeen[i] = pPlugObj->fParams[i].value;
  }
#ifdef QEL_HAVE_MXCSR
  probe.floatModeSeen = _mm_getcsr();
#endif
  if (probe.throwFrames) throw std::runtime_error("probe frame");
  if (probe.failFrames) return FF_FAIL;
  const size_t bytes = static_cast<size_t>(frame.width) * frame.height * frame.bytesPerPixel;
  for (size_t i = 0; i < bytes; ++i) {
    frame.output[i] = static_cast<uint8_t>(frame.input[i] + kProbeAdd);
  }
  return FF_SUCCESS;
}
