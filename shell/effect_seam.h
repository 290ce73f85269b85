// What an effect offers the shell, and what the shell offers an effect.
//
// An effect supplies createEffectState, releaseEffectState and processFrameMulti; its
// parameter table is part of the deliverable's constants. Every processFrameMulti begins
// with beginFrameMulti, the shell's prologue, and then works on the FrameContext it gets.
#pragma once

#include <cstdint>

#include "shell/freeframe.h"
#include "shell/plug_obj.h"

// Allocates and initialises pPlugObj->fEffect. Called once the frame format is accepted
// and the parameter values hold their defaults. Returns false when memory runs out (or
// throws std::bad_alloc), with nothing of the effect's left allocated.
bool createEffectState(PlugObj* pPlugObj);

// Releases everything createEffectState allocated; safe when fEffect is null.
void releaseEffectState(PlugObj* pPlugObj);

// The effect's frame routine. Returns FF_SUCCESS or FF_FAIL.
uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData);

// The frame an effect works on once the prologue has passed. Input and output are
// width x height pixels of bytesPerPixel bytes each, rows without gaps, and both match
// the instance's format. They are the host's own frames, and they are the same memory
// for an in-place frame (or when a caller of the multi-frame entry passes one buffer for
// both): an effect writes every output byte and reads no input byte it has already
// overwritten. The output holds what the caller supplied until the effect writes it.
struct FrameContext {
  const uint8_t* input;
  uint8_t* output;
  int width;
  int height;
  int bytesPerPixel;
  uint32_t orientation;  // FF_ORIENTATION_TL or FF_ORIENTATION_BL (or whatever the host gave)
};

// The prologue of every processFrameMulti: clamps the parameter values into [0, 1] in
// place, checks the instance and the frame context (reporting each failure before it
// answers FF_FAIL) and fills `frame`. The caller's record is used for this call only.
uint32_t beginFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData, FrameContext& frame);

// A parameter value as the effects derive their controls from it: the clamped value, or
// 0 when it is NaN (the clamp lets NaN through unchanged).
inline float controlValue(const PlugObj* pPlugObj, int index) {
  const float v = pPlugObj->fParams[index].value;
  return v == v ? v : 0.0f;
}
