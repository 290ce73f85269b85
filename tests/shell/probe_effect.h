// A test effect that records what the shell hands it, linked with the shell into the
// shell's unit tests in place of a real effect.
#pragma once

#include <cstdint>
#include <vector>

#include "shell/effect_seam.h"

struct ProbeRecord {
  int creates = 0;
  int releases = 0;
  int frames = 0;
  bool failCreate = false;
  bool failFrames = false;         // processFrameMulti answers FF_FAIL after the prologue
  FrameContext lastFrame{};
  std::vector<float> paramsSeen;   // parameter values after the prologue's clamp
  std::vector<uint8_t> inputSeen;  // the input frame as the effect saw it
  std::vector<uint8_t> outputSeen; // the output slot's contents on entry
  unsigned floatModeSeen = 0;      // MXCSR during the frame
  uint8_t writeValue = 0;          // every output byte becomes writeValue + input byte
};

extern ProbeRecord gProbe;
