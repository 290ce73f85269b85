// A FreeFrame 1.0 effect plug-in loaded with dlopen and driven through plugMain only, as
// any host drives it; nothing here knows how a particular plug-in is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/freeframe.h"

namespace qelfx {

struct PluginIdentity {
  std::string uniqueId;  // the four ID characters
  std::string name;      // at most 16 characters
  uint32_t apiMajor = 0;
  uint32_t apiMinor = 0;
  uint32_t type = 0;  // 0 effect, 1 source
  bool hasExtendedInfo = false;
  uint32_t versionMajor = 0;
  uint32_t versionMinor = 0;
  std::string description;
  std::string about;
};

struct ParameterInfo {
  uint32_t index = 0;
  std::string name;  // empty for an unnamed parameter
  float defaultValue = 0.0f;
};

// FreeFrame capability numbers (code 10).
enum : uint32_t {
  kCap16Bit = 0,
  kCap24Bit = 1,
  kCap32Bit = 2,
  kCapProcessFrameCopy = 3,
  kCapMinimumInputFrames = 10,
  kCapMaximumInputFrames = 11,
  kCapCopyOrInPlace = 15,
};

class PluginLibrary {
 public:
  // Loads `path` and reads its identity and parameter table; throws HostError when the
  // file cannot be loaded or is not a FreeFrame 1.0 plug-in.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& path() const { return path_; }
  const PluginIdentity& identity() const { return identity_; }
  const std::vector<ParameterInfo>& parameters() const { return parameters_; }
  uint32_t capability(uint32_t index) const;
  bool isEffect() const { return identity_.type == FF_EFFECT; }
  bool supportsBytesPerPixel(int bytesPerPixel) const;
  bool supportsCopy() const { return capability(kCapProcessFrameCopy) != 0; }

  FFMixed call(uint32_t code, FFMixed input, void* instance) const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  FFMixed(QEL_PLUGIN_CALL* plugMain_)(uint32_t, FFMixed, void*) = nullptr;
  PluginIdentity identity_;
  std::vector<ParameterInfo> parameters_;
};

// One instance for one frame format; released with the object.
class PluginInstance {
 public:
  // Throws HostError when the plug-in refuses the format.
  PluginInstance(const PluginLibrary& library, int width, int height, int bytesPerPixel);
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  size_t frameBytes() const { return frameBytes_; }
  void setParameter(uint32_t index, float value) const;
  float parameter(uint32_t index) const;
  std::string display(uint32_t index) const;
  bool processInPlace(uint8_t* frame) const;
  bool processCopy(const uint8_t* input, uint8_t* output) const;

 private:
  const PluginLibrary& library_;
  void* id_ = nullptr;
  size_t frameBytes_ = 0;
};

// Where plug-ins are looked for by default: the folder of the qelfx program, then the
// build's plug-in folder.
std::vector<std::string> defaultPluginDirs();

// The plug-in libraries (files with the platform's module suffix) in `dir`, sorted.
std::vector<std::string> pluginFilesIn(const std::string& dir);

// A plug-in given by path (anything with a '/' or the module suffix) or by name (the
// file name without suffix, looked for in `dirs`). Throws HostError when not found.
std::string resolvePlugin(const std::string& given, const std::vector<std::string>& dirs);

}  // namespace qelfx
