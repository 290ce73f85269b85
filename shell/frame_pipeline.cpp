#include "shell/frame_pipeline.h"

#include <cstring>
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

// Sets slot 0 of one list from a host frame and empties the other 15 slots.
bool loadSlotList(FrameSlot* const* slots, uint32_t& count, const void* source,
                  const PlugObj* pPlugObj) {
  count = 1;
  for (int i = 1; i < kMaxSlots; ++i) emptySlot(slots[i]);
  return fillSlot(slots[0], source, pPlugObj->width(), pPlugObj->height(),
                  pPlugObj->bytesPerPixel());
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

bool fillSlot(FrameSlot* slot, const void* source, int width, int height, int bytesPerPixel) {
  const size_t bytes = static_cast<size_t>(width) * height * bytesPerPixel;
  if (slot->width != width || slot->height != height || slot->bytesPerPixel != bytesPerPixel ||
      !slot->data) {
    delete[] slot->data;
    slot->data = new (std::nothrow) uint8_t[bytes];
    if (!slot->data) {
      emptySlot(slot);
      return false;
    }
  }
  slot->bytesPerPixel = bytesPerPixel;
  slot->formatTag = (bytesPerPixel == 3 || bytesPerPixel == 4) ? kFormatTagRgb8 : kFormatTagEmpty;
  slot->width = width;
  slot->height = height;
  std::memcpy(slot->data, source, bytes);
  slot->reservedData = nullptr;
  slot->reserved1 = 0;
  slot->reserved2 = 0;
  return true;
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

uint32_t processFrame(PlugObj* pPlugObj, void* frame) {
  if (!pPlugObj->fMultiReady || !pPlugObj->fMulti) {
    reportError(kNotReadyText, "processFrame Error");
    return FF_FAIL;
  }
  if (!frame) return FF_FAIL;
  clampParameters(pPlugObj);
  MultiFrames* multi = pPlugObj->fMulti;
  if (!loadSlotList(multi->inputs, multi->numInputs, frame, pPlugObj) ||
      !loadSlotList(multi->outputs, multi->numOutputs, frame, pPlugObj)) {
    return FF_FAIL;
  }
  const uint32_t result = processFrameMulti(pPlugObj, multi);
  if (result != FF_SUCCESS) return result;
  std::memcpy(frame, multi->outputs[0]->data, frameBytes(pPlugObj));
  return FF_SUCCESS;
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
  uint32_t result = FF_FAIL;
  if (loadSlotList(multi->inputs, multi->numInputs, frames->ppInputFrames[0], pPlugObj) &&
      loadSlotList(multi->outputs, multi->numOutputs, frames->pOutputFrame, pPlugObj)) {
    result = processFrameMulti(pPlugObj, multi);
  }
  if (result == FF_SUCCESS) {
    std::memcpy(frames->pOutputFrame, multi->outputs[0]->data, frameBytes(pPlugObj));
  } else {
    std::memset(frames->pOutputFrame, 0, frameBytes(pPlugObj));
  }
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
