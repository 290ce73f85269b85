// Instances and the frame pipeline: codes 3, 11, 12, 14 and the slot handling behind
// them. The multi-frame prologue is declared in effect_seam.h.
#pragma once

#include <cstdint>

#include "shell/freeframe.h"
#include "shell/plug_obj.h"

// Frame formats accepted by instantiate. Effects keep pixel positions in 16.16 fixed
// point, so no side may exceed 32767 pixels; the pixel count bound keeps every byte
// offset of a 32-bit frame below 2^28 (and every buffer allocatable on 32-bit hosts).
constexpr uint32_t kMaxFrameSide = 32767;
constexpr uint32_t kMaxFramePixels = 1u << 26;  // 64 Mpixel, twice 7680 x 4320

bool isAcceptedFrameFormat(const VideoInfoStruct& info);

// Returns the new instance, or null for a refused format or when memory runs out (with
// everything allocated so far released).
PlugObj* instantiate(const VideoInfoStruct* info);
uint32_t deInstantiate(PlugObj* pPlugObj);

uint32_t processFrame(PlugObj* pPlugObj, void* frame);
uint32_t processFrameCopy(PlugObj* pPlugObj, const ProcessFrameCopyStruct* frames);

// Slot handling of the instance's own frame context. A host frame is lent to a slot for
// the length of one call: the slot describes it but does not own it, and is empty again
// when the call returns.
void lendSlot(FrameSlot* slot, const void* frame, int width, int height, int bytesPerPixel);
void emptySlot(FrameSlot* slot);
