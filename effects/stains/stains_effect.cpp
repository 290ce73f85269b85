// Placeholder until the effect's frame work lands: the state is empty and a frame passes
// through unchanged.
#include <cstring>
#include <new>

#include "shell/effect_seam.h"

struct EffectState {};

bool createEffectState(PlugObj* pPlugObj) {
  pPlugObj->fEffect = new (std::nothrow) EffectState;
  return pPlugObj->fEffect != nullptr;
}

void releaseEffectState(PlugObj* pPlugObj) {
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  std::memmove(frame.output, frame.input,
               static_cast<size_t>(frame.width) * frame.height * frame.bytesPerPixel);
  return FF_SUCCESS;
}
