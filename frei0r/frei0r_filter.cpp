#include "frei0r/frei0r_filter.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "shell/deliverable.h"
#include "shell/effect_seam.h"
#include "shell/float_mode.h"
#include "shell/frame_pipeline.h"

namespace {

constexpr int kBytesPerPixel = 4;  // frei0r frames are packed 32-bit

// Bytes of a width x height frame, or 0 when that cannot be the size of any buffer.
size_t frameBytes(const Frei0rFilter* filter) {
  const uint64_t pixels = static_cast<uint64_t>(filter->width) * filter->height;
  if (pixels > SIZE_MAX / kBytesPerPixel) return 0;
  return static_cast<size_t>(pixels) * kBytesPerPixel;
}

void passFrame(const Frei0rFilter* filter, const uint32_t* input, uint32_t* output) {
  if (input != output) std::memmove(output, input, frameBytes(filter));
}

// The PlugObj of the filter, made on the first call; null once it could not be made.
PlugObj* plugObjOf(Frei0rFilter* filter) {
  if (filter->plug || filter->passThrough) return filter->plug;
  const VideoInfoStruct info{filter->width, filter->height, FF_DEPTH_32, FF_ORIENTATION_TL};
  filter->plug = instantiate(&info);
  filter->passThrough = filter->plug == nullptr;
  return filter->plug;
}

FrameSlot frameSlot(unsigned width, unsigned height) {
  FrameSlot slot = {};
  slot.formatTag = kFormatTagRgb8;
  slot.bytesPerPixel = kBytesPerPixel;
  // Sizes the shell refuses never reach processFrameMulti, so the casts only matter for
  // accepted ones (at most 32767 on a side).
  slot.width = static_cast<int32_t>(width);
  slot.height = static_cast<int32_t>(height);
  return slot;
}

}  // namespace

int frei0rParamCount() {
  int count = 0;
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    if (kDeliverable.params[i].text[0] != '\0') ++count;
  }
  return count;
}

int tableIndexOfParam(int index) {
  if (index < 0) return -1;
  int named = 0;
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    if (kDeliverable.params[i].text[0] == '\0') continue;
    if (named == index) return static_cast<int>(i);
    ++named;
  }
  return -1;
}

Frei0rFilter* constructFilter(unsigned width, unsigned height) {
  auto* filter = new (std::nothrow) Frei0rFilter;
  if (!filter) return nullptr;
  filter->width = width;
  filter->height = height;
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    filter->values[i] = kDeliverable.params[i].value;
  }
  filter->input = frameSlot(width, height);
  filter->output = frameSlot(width, height);
  filter->frames.numInputs = 1;
  filter->frames.inputs[0] = &filter->input;
  filter->frames.numOutputs = 1;
  filter->frames.outputs[0] = &filter->output;
  return filter;
}

void destructFilter(Frei0rFilter* filter) {
  if (!filter) return;
  if (filter->plug) deInstantiate(filter->plug);
  delete filter;
}

void setFilterParam(Frei0rFilter* filter, int index, double value) {
  const int row = tableIndexOfParam(index);
  if (row < 0) return;
  // What a FreeFrame host does with a double: the nearest float. Beyond the float range
  // that is +-infinity and NaN stays NaN; the frame pipeline's clamp takes it from there.
  filter->values[row] = static_cast<float>(value);
}

void getFilterParam(const Frei0rFilter* filter, int index, double* value) {
  const int row = tableIndexOfParam(index);
  if (row < 0) return;
  *value = filter->values[row];
}

void updateFilter(Frei0rFilter* filter, const uint32_t* input, uint32_t* output) {
  if (!output) return;
  if (!input) {
    std::memset(output, 0, frameBytes(filter));
    return;
  }
  PlugObj* pPlugObj = plugObjOf(filter);
  if (!pPlugObj) {
    passFrame(filter, input, output);
    return;
  }
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    pPlugObj->fParams[i].value = filter->values[i];
  }
  // The effect reads the input through a non-const slot pointer but never writes it.
  filter->input.data = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(input));
  filter->output.data = reinterpret_cast<uint8_t*>(output);
  uint32_t status = FF_FAIL;
  try {
    ScopedFlushDenormals floatMode;
    status = processFrameMulti(pPlugObj, &filter->frames);
  } catch (...) {
    // Nothing may escape into the host; the frame is answered as a failed one.
  }
  filter->input.data = nullptr;
  filter->output.data = nullptr;
  // Only a fault in the record or the effect could fail the frame; the host still gets
  // a sound picture: the input.
  if (status != FF_SUCCESS) passFrame(filter, input, output);
}
