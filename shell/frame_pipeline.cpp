#include "shell/frame_pipeline.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "shell/deliverable.h"
#include "shell/effect_seam.h"
#include "shell/error_report.h"
#include "shell/parameter_bank.h"

namespace {

constexpr const char* kNotReadyText =
    "pPlugObj->fMultiReady is false, setup for processing hasn't been done.";

size_t frameBytes(const PlugObj* pPlugObj) {
  return static_cast<size_t>(pPlugObj->fVideoInfo.FrameWidth) *
         pPlugObj->fVideoInfo.FrameHeight * pPlugObj->bytesPerPixel();
}

void releaseFrameContext(MultiFrames* multi) {
  if (!multi) return;
  for (FrameSlot* slot : multi->inputs) {
    if (slot) emptySlot(slot);
    delete slot;
  }
  for (FrameSlot* slot : multi->outputs) {
    if (slot) emptySlot(slot);
    delete slot;
  }
  delete multi;
}

// A MultiFrames with both counts 0 and 32 empty slots, or null when memory runs out.
MultiFrames* createFrameContext() {
  auto* multi = new (std::nothrow) MultiFrames{};
  if (!multi) return nullptr;
  for (int i = 0; i < kMaxSlots; ++i) {
    multi->inputs[i] = new (std::nothrow) FrameSlot{kFormatTagEmpty, 0, nullptr, 0, 0, nullptr, 0, 0};
    multi->outputs[i] = new (std::nothrow) FrameSlot{kFormatTagEmpty, 0, nullptr, 0, 0, nullptr, 0, 0};
    if (!multi->inputs[i] || !multi->outputs[i]) {
      releaseFrameContext(multi);
      return nullptr;
    }
  }
  return multi;
}

// Lends one host frame to slot 0 of a list for this call; slots 1 to 15 stay empty.
void lendFrame(FrameSlot* const* slots, uint32_t& count, const void* frame,
               const PlugObj* pPlugObj) {
  count = 1;
  lendSlot(slots[0], frame, pPlugObj->width(), pPlugObj->height(), pPlugObj->bytesPerPixel());
}

// Takes the lent frames back: slot 0 of both lists is empty again and nothing is released,
// since the host owns the frames.
void takeBackFrames(MultiFrames* multi) {
  for (FrameSlot* slot : {multi->inputs[0], multi->outputs[0]}) {
    *slot = FrameSlot{kFormatTagEmpty, 0, nullptr, 0, 0, nullptr, 0, 0};
  }
}

bool slotMatchesInstance(const FrameSlot* slot, const PlugObj* pPlugObj) {
  return slot && slot->data && slot->width == pPlugObj->width() &&
         slot->height == pPlugObj->height() && slot->bytesPerPixel == pPlugObj->bytesPerPixel();
}

}  // namespace

bool isAcceptedFrameFormat(const VideoInfoStruct& info) {
  if (info.BitDepth != FF_DEPTH_24 && info.BitDepth != FF_DEPTH_32) return false;
  if (info.FrameWidth == 0 || info.FrameHeight == 0) return false;
  if (info.FrameWidth > kMaxFrameSide || info.FrameHeight > kMaxFrameSide) return false;
  return static_cast<uint64_t>(info.FrameWidth) * info.FrameHeight <= kMaxFramePixels;
}

void lendSlot(FrameSlot* slot, const void* frame, int width, int height, int bytesPerPixel) {
  slot->formatTag = (bytesPerPixel == 3 || bytesPerPixel == 4) ? kFormatTagRgb8 : kFormatTagEmpty;
  slot->bytesPerPixel = bytesPerPixel;
  // The effect only reads an input slot; a const host frame is never written.
  slot->data = static_cast<uint8_t*>(const_cast<void*>(frame));
  slot->width = width;
  slot->height = height;
  slot->reservedData = nullptr;
  slot->reserved1 = 0;
  slot->reserved2 = 0;
}

void emptySlot(FrameSlot* slot) {
  slot->formatTag = kFormatTagEmpty;
  if (slot->data) {
    if (slot->reservedData != slot->data) delete[] static_cast<uint8_t*>(slot->reservedData);
    delete[] slot->data;
  } else {
    delete[] static_cast<uint8_t*>(slot->reservedData);
  }
  slot->data = nullptr;
  slot->reservedData = nullptr;
  slot->width = 0;
  slot->height = 0;
  slot->bytesPerPixel = 0;
  slot->reserved1 = 0;
  slot->reserved2 = 0;
}

PlugObj* instantiate(const VideoInfoStruct* info) {
  if (!info || !isAcceptedFrameFormat(*info)) return nullptr;
  auto* pPlugObj = new (std::nothrow) PlugObj;
  if (!pPlugObj) return nullptr;
  pPlugObj->fVideoInfo = *info;
  loadParameterDefaults(pPlugObj);
  pPlugObj->fMulti = createFrameContext();
  bool created = false;
  if (pPlugObj->fMulti) {
    try {
      created = createEffectState(pPlugObj);
    } catch (const std::bad_alloc&) {
      created = false;
    }
  }
  if (!created) {
    deInstantiate(pPlugObj);
    return nullptr;
  }
  pPlugObj->fMultiReady = true;
  return pPlugObj;
}

uint32_t deInstantiate(PlugObj* pPlugObj) {
  if (!pPlugObj) return FF_FAIL;
  releaseFrameContext(pPlugObj->fMulti);
  pPlugObj->fMulti = nullptr;
  pPlugObj->fMultiReady = false;
  releaseEffectState(pPlugObj);
  delete pPlugObj;
  return FF_SUCCESS;
}

// Frames reach the effect without copies: the host's frame is lent to input slot 0 and
// output slot 0 (in place, both are the same memory, which every effect handles), and the
// effect writes its result straight into the host's frame. The prologue refuses a frame
// before the effect touches anything, so a failed in-place frame is left as it was.
uint32_t processFrame(PlugObj* pPlugObj, void* frame) {
  if (!pPlugObj->fMultiReady || !pPlugObj->fMulti) {
    reportError(kNotReadyText, "processFrame Error");
    return FF_FAIL;
  }
  if (!frame) return FF_FAIL;
  clampParameters(pPlugObj);
  MultiFrames* multi = pPlugObj->fMulti;
  lendFrame(multi->inputs, multi->numInputs, frame, pPlugObj);
  lendFrame(multi->outputs, multi->numOutputs, frame, pPlugObj);
  const uint32_t result = processFrameMulti(pPlugObj, multi);
  takeBackFrames(multi);
  return result;
}

uint32_t processFrameCopy(PlugObj* pPlugObj, const ProcessFrameCopyStruct* frames) {
  if (!pPlugObj->fMultiReady || !pPlugObj->fMulti) {
    reportError(kNotReadyText, "processFrameCopy Error");
    return FF_FAIL;
  }
  if (!frames || frames->numInputFrames == 0 || !frames->ppInputFrames ||
      !frames->ppInputFrames[0] || !frames->pOutputFrame) {
    return FF_FAIL;
  }
  clampParameters(pPlugObj);
  MultiFrames* multi = pPlugObj->fMulti;
  // Input frames beyond the first are not read.
  lendFrame(multi->inputs, multi->numInputs, frames->ppInputFrames[0], pPlugObj);
  lendFrame(multi->outputs, multi->numOutputs, frames->pOutputFrame, pPlugObj);
  const uint32_t result = processFrameMulti(pPlugObj, multi);
  takeBackFrames(multi);
  if (result != FF_SUCCESS) std::memset(frames->pOutputFrame, 0, frameBytes(pPlugObj));
  return result;
}

uint32_t beginFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData, FrameContext& frame) {
  constexpr const char* kCaption = "Qel_Multi";
  clampParameters(pPlugObj);
  if (!pPlugObj->fMultiReady) {
    reportError("Error: fMultiReady == false", kCaption);
    return FF_FAIL;
  }
  if (!pPlugObj->fMulti) {
    reportError("Error: fMulti == NULL", kCaption);
    return FF_FAIL;
  }
  if (!pFrameData) {
    reportError("Error: pFrameData == NULL", kCaption);
    return FF_FAIL;
  }
  // A caller's record is read for this call only: the instance keeps its own 32 slot
  // records and buffers, and never releases what the caller owns. Slot 0 on both sides
  // must hold a frame of the instance's format, which every effect buffer is sized from.
  const FrameSlot* input = pFrameData->numInputs ? pFrameData->inputs[0] : nullptr;
  const FrameSlot* output = pFrameData->numOutputs ? pFrameData->outputs[0] : nullptr;
  if (!slotMatchesInstance(input, pPlugObj) || !slotMatchesInstance(output, pPlugObj)) {
    reportError("Error: No valid input data present", kCaption);
    return FF_FAIL;
  }
  frame.input = input->data;
  frame.output = output->data;
  frame.width = pPlugObj->width();
  frame.height = pPlugObj->height();
  frame.bytesPerPixel = pPlugObj->bytesPerPixel();
  frame.orientation = pPlugObj->fVideoInfo.Orientation;
  return FF_SUCCESS;
}
