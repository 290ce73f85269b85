#include "host/plugin_library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "host/host_error.h"

#ifndef QELFX_PLUGIN_DIR
#define QELFX_PLUGIN_DIR ""
#endif
#ifndef QELFX_MODULE_SUFFIX
#define QELFX_MODULE_SUFFIX ".so"
#endif

namespace qelfx {

namespace {

const std::string kModuleSuffix = QELFX_MODULE_SUFFIX;

// An answer that should be an address: null, FF_FAIL in the union (0xFFFFFFFF) and
// anything in the lowest 64 KiB, where no record can live, are refusals.
const void* answerAddress(FFMixed answer) {
  const auto address = reinterpret_cast<uintptr_t>(answer.PointerValue);
  if (address < 0x10000 || address == FF_FAIL) return nullptr;
  return answer.PointerValue;
}

std::string boundedText(const char* text, size_t capacity) {
  return std::string(text, strnlen(text, capacity));
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  if (access(path.c_str(), R_OK) != 0) {
    throw HostError("cannot open plug-in " + path + ": " + std::strerror(errno));
  }
  if (!isRegularFile(path)) throw HostError(path + " is not a plug-in library (not a file)");
  // A path without a slash would make dlopen search the library path instead.
  const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* reason = dlerror();
    throw HostError(path + " is not a plug-in library: " + (reason ? reason : "cannot load"));
  }
  plugMain_ = reinterpret_cast<decltype(plugMain_)>(dlsym(handle_, "plugMain"));
  if (!plugMain_) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(path + " is not a FreeFrame plug-in: it has no plugMain");
  }

  const auto* info =
      static_cast<const PluginInfoStruct*>(answerAddress(call(FF_GETINFO, ffMixedUInt(0), nullptr)));
  if (!info) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(path + " is not a FreeFrame plug-in: it gives no plug-in information");
  }
  identity_.apiMajor = info->APIMajorVersion;
  identity_.apiMinor = info->APIMinorVersion;
  identity_.uniqueId = boundedText(info->PluginUniqueID, sizeof info->PluginUniqueID);
  identity_.name = boundedText(info->PluginName, sizeof info->PluginName);
  identity_.type = info->PluginType;
  if (identity_.apiMajor != 1) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(path + " speaks FreeFrame " + std::to_string(identity_.apiMajor) +
                    ", not FreeFrame 1");
  }

  const auto* extended = static_cast<const PluginExtendedInfoStruct*>(
      answerAddress(call(FF_GETEXTENDEDINFO, ffMixedUInt(0), nullptr)));
  if (extended) {
    identity_.hasExtendedInfo = true;
    identity_.versionMajor = extended->PluginMajorVersion;
    identity_.versionMinor = extended->PluginMinorVersion;
    if (extended->Description && reinterpret_cast<uintptr_t>(extended->Description) >= 0x10000) {
      identity_.description = boundedText(extended->Description, 4096);
    }
    if (extended->About && reinterpret_cast<uintptr_t>(extended->About) >= 0x10000) {
      identity_.about = boundedText(extended->About, 4096);
    }
  }

  // FreeFrame 1.0 allows few parameters; a huge count is a broken plug-in.
  constexpr uint32_t kMaxParameters = 1024;
  const uint32_t count = call(FF_GETNUMPARAMETERS, ffMixedUInt(0), nullptr).UIntValue;
  if (count == FF_FAIL || count > kMaxParameters) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(path + " is not a usable FreeFrame plug-in: it reports " +
                    std::to_string(static_cast<int32_t>(count)) + " parameters");
  }
  for (uint32_t i = 0; i < count; ++i) {
    ParameterInfo parameter;
    parameter.index = i;
    const auto* name =
        static_cast<const char*>(answerAddress(call(FF_GETPARAMETERNAME, ffMixedUInt(i), nullptr)));
    if (name) parameter.name = boundedText(name, 16);
    parameter.defaultValue = call(FF_GETPARAMETERDEFAULT, ffMixedUInt(i), nullptr).FloatValue;
    parameters_.push_back(parameter);
  }
}

PluginLibrary::~PluginLibrary() {
#if !defined(__SANITIZE_ADDRESS__)
  // Under AddressSanitizer the library stays loaded, so that a leak report can name it.
  if (handle_) dlclose(handle_);
#endif
}

FFMixed PluginLibrary::call(uint32_t code, FFMixed input, void* instance) const {
  return plugMain_(code, input, instance);
}

uint32_t PluginLibrary::capability(uint32_t index) const {
  return call(FF_GETPLUGINCAPS, ffMixedUInt(index), nullptr).UIntValue;
}

bool PluginLibrary::supportsBytesPerPixel(int bytesPerPixel) const {
  const uint32_t answer = capability(bytesPerPixel == 4 ? kCap32Bit : kCap24Bit);
  return answer != 0 && answer != FF_FAIL;
}

PluginInstance::PluginInstance(const PluginLibrary& library, int width, int height,
                               int bytesPerPixel)
    : library_(library),
      frameBytes_(static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerPixel) {
  VideoInfoStruct info{static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                       bytesPerPixel == 4 ? FF_DEPTH_32 : FF_DEPTH_24, FF_ORIENTATION_TL};
  const FFMixed answer = library_.call(FF_INSTANTIATE, ffMixedPointer(&info), nullptr);
  // FF_FAIL arrives as 0xFFFFFFFF in the whole union; a null ID is no instance either.
  const auto id = reinterpret_cast<uintptr_t>(answer.PointerValue);
  if (id == 0 || id == FF_FAIL) {
    throw HostError(library_.identity().name + " refused frames of " + std::to_string(width) + "x" +
                    std::to_string(height) + " at " + std::to_string(bytesPerPixel * 8) +
                    " bits per pixel");
  }
  id_ = answer.PointerValue;
}

PluginInstance::~PluginInstance() {
  library_.call(FF_DEINSTANTIATE, ffMixedUInt(0), id_);
}

void PluginInstance::setParameter(uint32_t index, float value) const {
  SetParameterStruct change;
  std::memset(&change, 0, sizeof change);
  change.ParameterNumber = index;
  change.NewParameterValue.FloatValue = value;
  library_.call(FF_SETPARAMETER, ffMixedPointer(&change), id_);
}

float PluginInstance::parameter(uint32_t index) const {
  return library_.call(FF_GETPARAMETER, ffMixedUInt(index), id_).FloatValue;
}

std::string PluginInstance::display(uint32_t index) const {
  const auto* text = static_cast<const char*>(
      answerAddress(library_.call(FF_GETPARAMETERDISPLAY, ffMixedUInt(index), id_)));
  if (!text) return "";
  std::string shown = boundedText(text, 16);
  while (!shown.empty() && shown.back() == ' ') shown.pop_back();
  return shown;
}

bool PluginInstance::processInPlace(uint8_t* frame) const {
  return library_.call(FF_PROCESSFRAME, ffMixedPointer(frame), id_).UIntValue == FF_SUCCESS;
}

bool PluginInstance::processCopy(const uint8_t* input, uint8_t* output) const {
  void* inputs[1] = {const_cast<uint8_t*>(input)};
  ProcessFrameCopyStruct copy{1, inputs, output};
  return library_.call(FF_PROCESSFRAMECOPY, ffMixedPointer(&copy), id_).UIntValue == FF_SUCCESS;
}

std::vector<std::string> defaultPluginDirs() {
  std::vector<std::string> dirs;
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string exe(self, static_cast<size_t>(length));
    dirs.push_back(exe.substr(0, exe.rfind('/')));
  }
  const std::string built = QELFX_PLUGIN_DIR;
  if (!built.empty() && std::find(dirs.begin(), dirs.end(), built) == dirs.end()) {
    dirs.push_back(built);
  }
  return dirs;
}

std::vector<std::string> pluginFilesIn(const std::string& dir) {
  std::vector<std::string> files;
  DIR* listing = opendir(dir.c_str());
  if (!listing) return files;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() <= kModuleSuffix.size() || !endsWith(name, kModuleSuffix)) continue;
    const std::string path = dir + "/" + name;
    if (isRegularFile(path)) files.push_back(path);
  }
  closedir(listing);
  std::sort(files.begin(), files.end());
  return files;
}

std::string resolvePlugin(const std::string& given, const std::vector<std::string>& dirs) {
  if (given.empty()) throw usageError("no plug-in named");
  if (given.find('/') != std::string::npos || endsWith(given, kModuleSuffix)) {
    if (access(given.c_str(), F_OK) != 0) {
      throw HostError("cannot open plug-in " + given + ": " + std::strerror(errno));
    }
    return given;
  }
  for (const std::string& dir : dirs) {
    const std::string path = dir + "/" + given + kModuleSuffix;
    if (isRegularFile(path)) return path;
  }
  std::string searched;
  for (const std::string& dir : dirs) searched += (searched.empty() ? "" : ", ") + dir;
  throw HostError("unknown plug-in " + given + " (looked in " + searched + ")");
}

}  // namespace qelfx
