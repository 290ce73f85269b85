// --set "NAME=VALUE" and ramps --set "NAME=A..B": which parameter, which value per frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_library.h"

namespace qelfx {

struct ParameterSetting {
  uint32_t index = 0;
  float from = 0.0f;
  float to = 0.0f;
  bool ramp = false;
};

// Parses every --set text against the plug-in's parameters: by exact name, then by name
// ignoring case, then by index. Throws a usage HostError for an unknown parameter, a value
// that is not a number, or one outside 0..1.
std::vector<ParameterSetting> parseSettings(const std::vector<std::string>& texts,
                                            const PluginLibrary& library);

// The value of `setting` at frame `frame` (0-based) of `frameCount`: a ramp moves linearly
// from its first value at the first frame to its second value at the last frame.
float settingValue(const ParameterSetting& setting, long frame, long frameCount);

}  // namespace qelfx
