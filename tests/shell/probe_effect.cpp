#include "tests/shell/probe_effect.h"

#include <new>

#include "shell/deliverable.h"
#include "shell/float_mode.h"

ProbeRecord gProbe;

struct EffectState {
  int frames = 0;
};

namespace {
const ParamRecord kProbeParams[] = {{0.25f, "First"}, {1.0f, "Second"}, {0.0f, ""}};
}  // namespace

const DeliverableConstants kDeliverable = {
    {'t', 's', 't', '1'}, "ShellProbe", 1, "Records what the shell hands it",
    "ShellProbe - Version 3.x - test", kProbeParams, 3, kCapabilityTableA, kCapabilityTableASize,
};

bool createEffectState(PlugObj* pPlugObj) {
  if (gProbe.failCreate) return false;
  pPlugObj->fEffect = new EffectState;
  ++gProbe.creates;
  return true;
}

void releaseEffectState(PlugObj* pPlugObj) {
  if (pPlugObj->fEffect) ++gProbe.releases;
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  ++gProbe.frames;
  ++pPlugObj->fEffect->frames;
  gProbe.lastFrame = frame;
  gProbe.paramsSeen.assign(kDeliverable.numParams, 0.0f);
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    gProbe.paramsSeen[i] = pPlugObj->fParams[i].value;
  }
  const size_t bytes = static_cast<size_t>(frame.width) * frame.height * frame.bytesPerPixel;
  gProbe.inputSeen.assign(frame.input, frame.input + bytes);
  gProbe.outputSeen.assign(frame.output, frame.output + bytes);
#ifdef QEL_HAVE_MXCSR
  gProbe.floatModeSeen = _mm_getcsr();
#endif
  if (gProbe.failFrames) return FF_FAIL;
  for (size_t i = 0; i < bytes; ++i) {
    frame.output[i] = static_cast<uint8_t>(gProbe.writeValue + gProbe.inputSeen[i]);
  }
  return FF_SUCCESS;
}
