// A test effect that records what the frei0r front end hands it, linked with the shell
// and the frei0r entry points into the frei0r unit tests in place of a real effect.
#pragma once

#include <cstdint>
#include <vector>

#include "shell/effect_seam.h"

struct Frei0rProbe {
  int createAttempts = 0;
  int creates = 0;
  int releases = 0;
  int frames = 0;
  bool failCreate = false;
  bool failFrames = false;   // processFrameMulti answers FF_FAIL after the prologue
  bool throwFrames = false;  // processFrameMulti throws after the prologue
  FrameContext lastFrame{};
  int instanceFrames = 0;         // frames the called instance had seen, this one included
  std::vector<float> paramsSeen;  // every table value after the prologue's clamp
  unsigned floatModeSeen = 0;     // MXCSR during the frame
};

extern Frei0rProbe gFrei0rProbe;

// Every output byte is the input byte plus kProbeAdd (mod 256), so that a processed
// frame differs from a frame passed through.
constexpr uint8_t kProbeAdd = 3;
