// The instance object. Its address is the FreeFrame instance ID.
#pragma once

#include <cstdint>

#include "shell/freeframe.h"

// The effect's own state; each effect defines it (one effect per plug-in library).
struct EffectState;

// No deliverable has more parameters than this.
constexpr uint32_t kMaxParams = 16;

struct PlugObj {
  bool fMultiReady = false;
  MultiFrames* fMulti = nullptr;    // owned, with its 32 slot records
  ParamRecord fParams[kMaxParams];  // the first kDeliverable.numParams are in use
  VideoInfoStruct fVideoInfo = {};
  EffectState* fEffect = nullptr;   // owned by the effect's create/release pair

  // Bytes per pixel of the instance's frames: 3 for 24-bit, 4 for 32-bit.
  int bytesPerPixel() const { return fVideoInfo.BitDepth == FF_DEPTH_32 ? 4 : 3; }
  int width() const { return static_cast<int>(fVideoInfo.FrameWidth); }
  int height() const { return static_cast<int>(fVideoInfo.FrameHeight); }
};
