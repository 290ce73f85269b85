// A frei0r filter instance over the shell's FreeFrame instance.
//
// frei0r hosts (FFmpeg, GStreamer, MLT) construct an instance for a frame size, set
// double parameters and call f0r_update once per frame with packed 32-bit BGRA frames of
// width x 4 bytes per row. The filter drives the very code a FreeFrame host reaches: a
// PlugObj made by instantiate, the parameter values in fParams and the effect's
// processFrameMulti, fed through a MultiFrames record of its own whose slots point at the
// host's frames (no copy in or out).
#pragma once

#include <cstdint>

#include "shell/freeframe.h"
#include "shell/plug_obj.h"

// frei0r parameters are the deliverable's named parameters in table order; unnamed
// table rows are not offered. Returns the table index of frei0r parameter `index`, or -1
// when there is no such parameter.
int tableIndexOfParam(int index);
int frei0rParamCount();

struct Frei0rFilter {
  unsigned width = 0;
  unsigned height = 0;
  // The value of every table parameter as a FreeFrame host would have set it: the float
  // nearest the frei0r double. Copied into the PlugObj before each frame, where the
  // frame pipeline clamps it; kept here unclamped, because frei0r hosts read back what
  // they set.
  float values[kMaxParams] = {};
  // Made on the first frame, so that constructing a filter stays cheap (hosts construct
  // instances just to read defaults while they list their plug-ins).
  PlugObj* plug = nullptr;
  // Set on the first frame when no PlugObj can be made (a frame size the shell refuses,
  // or no memory): every frame then passes through unchanged.
  bool passThrough = false;
  // The record handed to processFrameMulti: input and output slot 0 point at the
  // host's frames for the duration of one call.
  FrameSlot input = {};
  FrameSlot output = {};
  MultiFrames frames = {};
};

// Never fails for any size (null only when memory runs out for the small record itself).
Frei0rFilter* constructFilter(unsigned width, unsigned height);
void destructFilter(Frei0rFilter* filter);

// Out-of-range indices are ignored (set) or leave *value untouched (get).
void setFilterParam(Frei0rFilter* filter, int index, double value);
void getFilterParam(const Frei0rFilter* filter, int index, double* value);

// One step of the effect for one frame, whatever the host's clock says. `input` and
// `output` are width x height packed 32-bit pixels and may be the same memory. With no
// input the output becomes all zero bytes and the state does not step.
void updateFilter(Frei0rFilter* filter, const uint32_t* input, uint32_t* output);
