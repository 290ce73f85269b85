#include "host/parameter_settings.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "host/host_error.h"

namespace qelfx {

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

uint32_t findParameter(const std::string& key, const PluginLibrary& library) {
  const auto& parameters = library.parameters();
  if (!key.empty()) {
    for (const ParameterInfo& p : parameters) {
      if (p.name == key) return p.index;
    }
    for (const ParameterInfo& p : parameters) {
      if (lowerCase(p.name) == lowerCase(key)) return p.index;
    }
    bool digits = key.size() <= 9;
    for (char c : key) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    if (digits) {
      const unsigned long index = std::strtoul(key.c_str(), nullptr, 10);
      if (index < parameters.size()) return static_cast<uint32_t>(index);
    }
  }
  throw usageError(library.identity().name + " has no parameter \"" + key + "\" (see: qelfx info " +
                   library.identity().name + ")");
}

float parseValue(const std::string& text, const std::string& key, const PluginLibrary& library) {
  const std::string value = trimmed(text);
  char* end = nullptr;
  const double number = value.empty() ? NAN : std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !std::isfinite(number)) {
    throw usageError("value \"" + text + "\" for parameter \"" + key + "\" is not a number");
  }
  // The plug-ins' parameters are floats from 0 to 1.
  if (number < 0.0 || number > 1.0) {
    throw usageError("value " + value + " for parameter \"" + key + "\" of " +
                     library.identity().name + " is out of range 0..1");
  }
  return static_cast<float>(number);
}

}  // namespace

std::vector<ParameterSetting> parseSettings(const std::vector<std::string>& texts,
                                            const PluginLibrary& library) {
  std::vector<ParameterSetting> settings;
  for (const std::string& text : texts) {
    const size_t equals = text.rfind('=');
    if (equals == std::string::npos) {
      throw usageError("--set needs NAME=VALUE or NAME=A..B, not \"" + text + "\"");
    }
    const std::string key = trimmed(text.substr(0, equals));
    const std::string value = text.substr(equals + 1);
    ParameterSetting setting;
    setting.index = findParameter(key, library);
    const size_t dots = value.find("..");
    if (dots == std::string::npos) {
      setting.from = setting.to = parseValue(value, key, library);
    } else {
      setting.ramp = true;
      setting.from = parseValue(value.substr(0, dots), key, library);
      setting.to = parseValue(value.substr(dots + 2), key, library);
    }
    settings.push_back(setting);
  }
  return settings;
}

float settingValue(const ParameterSetting& setting, long frame, long frameCount) {
  if (!setting.ramp || frameCount <= 1) return setting.from;
  const double position = static_cast<double>(frame) / static_cast<double>(frameCount - 1);
  return static_cast<float>(setting.from +
                            (static_cast<double>(setting.to) - setting.from) * position);
}

}  // namespace qelfx
