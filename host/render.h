// Running one plug-in over a clip: the work behind `qelfx render` and each row of
// `qelfx gallery`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/frame_io.h"
#include "host/parameter_settings.h"
#include "host/plugin_library.h"
#include "host/progress.h"

namespace qelfx {

// Largest frame qelfx handles: each side 1..32767 pixels and at most 2^26 pixels, the
// frame limits of this project's plug-ins.
constexpr int kMaxSide = 32767;
constexpr long kMaxPixels = 1L << 26;

struct InputClip {
  std::unique_ptr<FrameSource> source;
  int width = 0;
  int height = 0;
  FrameRate rate;
  long frames = -1;    // frames to process; -1: every frame of the source, until it ends
  long expected = -1;  // frames expected (the container's count when frames is -1), or -1
};

// Opens `input` (empty: the built-in picture). A zero width or height takes the input's
// own size; negative `frames` takes all of the input (the built-in picture: its default
// length).
InputClip openInput(const std::string& input, int width, int height, int bytesPerPixel,
                    long frames);

// Processes the clip with a new instance and hands each processed frame to `deliver`
// (frame number from 0, packed pixels). When the source ends before clip.frames, its
// last frame is held for the rest. In copy mode the output frame persists between calls.
// Ramps run over clip.frames, or over clip.expected when every frame is processed.
void processClip(const PluginLibrary& library, InputClip& clip, int bytesPerPixel, bool copy,
                 const std::vector<ParameterSetting>& settings,
                 const std::function<void(long, const uint8_t*)>& deliver, Progress& progress);

struct RenderJob {
  std::string plugin;  // path of the library
  std::string input;   // empty: the built-in picture
  std::string output;  // video file, PNG sequence pattern, PNG still or "-"
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;  // 0: 32-bit when the plug-in takes it, else 24-bit
  long frames = -1;
  bool copy = false;
  std::vector<std::string> settings;
};

void runRender(const RenderJob& job);

// Set from a signal handler; the frame loop stops at the next frame and nothing is left
// behind.
void requestStop();

}  // namespace qelfx
