#include "tests/harness/plugin_host.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "tests/harness/message_box_capture.h"
#else
#include <dlfcn.h>
#endif

#ifndef QEL_PLUGIN_DIR
#define QEL_PLUGIN_DIR "."
#endif
#ifndef QEL_PLUGIN_SUFFIX
#define QEL_PLUGIN_SUFFIX ".so"
#endif

namespace qeltest {

const char* const kDeliverableNames[6] = {"QelParticles1", "QelParticles2", "QelParticles3",
                                          "QelInferno1",   "QelInferno2",   "QelStains1"};

std::string pluginPath(const std::string& name) {
  const char* dir = std::getenv("QEL_PLUGIN_DIR");
  return std::string(dir && *dir ? dir : QEL_PLUGIN_DIR) + "/" + name + QEL_PLUGIN_SUFFIX;
}

PluginLibrary::PluginLibrary(const std::string& name) : name_(name) {
  const std::string path = pluginPath(name);
#ifdef _WIN32
  handle_ = LoadLibraryA(path.c_str());
  if (handle_) {
    // Through void (*)(), the generic function pointer type, so that the cast is allowed.
    plugMain_ = reinterpret_cast<decltype(plugMain_)>(reinterpret_cast<void (*)()>(
        GetProcAddress(static_cast<HMODULE>(handle_), "plugMain")));
    if (plugMain_ && !captureMessageBoxes(handle_)) {
      FreeLibrary(static_cast<HMODULE>(handle_));
      throw std::runtime_error(path + " does not import MessageBoxA");
    }
  }
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_) plugMain_ = reinterpret_cast<decltype(plugMain_)>(dlsym(handle_, "plugMain"));
#endif
  if (!plugMain_) throw std::runtime_error("cannot load plugMain from " + path);
}

PluginLibrary::~PluginLibrary() {
#ifdef _WIN32
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#elif defined(__SANITIZE_ADDRESS__)
  // Kept loaded, so that a leak report can name the plug-in's frames.
#else
  if (handle_) dlclose(handle_);
#endif
}

FFMixed PluginLibrary::call(uint32_t code, FFMixed input, void* instance) const {
  return plugMain_(code, input, instance);
}

uint32_t PluginLibrary::callUInt(uint32_t code, uint32_t input, void* instance) const {
  return call(code, ffMixedUInt(input), instance).UIntValue;
}

uint32_t PluginLibrary::callPointer(uint32_t code, const void* input, void* instance) const {
  return call(code, ffMixedPointer(input), instance).UIntValue;
}

const void* PluginLibrary::callForPointer(uint32_t code, uint32_t input, void* instance) const {
  return call(code, ffMixedUInt(input), instance).PointerValue;
}

float PluginLibrary::callForFloat(uint32_t code, uint32_t input, void* instance) const {
  return call(code, ffMixedUInt(input), instance).FloatValue;
}

const PluginInfoStruct* PluginLibrary::info() const {
  return static_cast<const PluginInfoStruct*>(callForPointer(FF_GETINFO, 0));
}

const PluginExtendedInfoStruct* PluginLibrary::extendedInfo() const {
  return static_cast<const PluginExtendedInfoStruct*>(callForPointer(FF_GETEXTENDEDINFO, 0));
}

uint32_t PluginLibrary::numParameters() const { return callUInt(FF_GETNUMPARAMETERS, 0); }

std::string PluginLibrary::parameterName(uint32_t index) const {
  const auto* text = static_cast<const char*>(callForPointer(FF_GETPARAMETERNAME, index));
  return std::string(text, strnlen(text, 16));
}

float PluginLibrary::parameterDefault(uint32_t index) const {
  return callForFloat(FF_GETPARAMETERDEFAULT, index);
}

uint32_t PluginLibrary::caps(uint32_t index) const { return callUInt(FF_GETPLUGINCAPS, index); }

Instance::Instance(const PluginLibrary& library, uint32_t width, uint32_t height,
                   int bytesPerPixel, uint32_t orientation)
    : library_(library), frameBytes_(static_cast<size_t>(width) * height * bytesPerPixel) {
  VideoInfoStruct info{width, height, bytesPerPixel == 4 ? FF_DEPTH_32 : FF_DEPTH_24, orientation};
  // A refusal is FF_FAIL in the whole union (0x00000000FFFFFFFF on 64-bit hosts).
  const FFMixed id = library_.call(FF_INSTANTIATE, ffMixedPointer(&info));
  if (reinterpret_cast<uintptr_t>(id.PointerValue) != FF_FAIL) id_ = id.PointerValue;
}

Instance::~Instance() {
  if (id_) library_.callUInt(FF_DEINSTANTIATE, 0, id_);
}

uint32_t Instance::processFrame(uint8_t* frame) const {
  return library_.callPointer(FF_PROCESSFRAME, frame, id_);
}

uint32_t Instance::processFrameCopy(const std::vector<const uint8_t*>& inputs,
                                    uint8_t* output) const {
  std::vector<void*> frames;
  for (const uint8_t* input : inputs) frames.push_back(const_cast<uint8_t*>(input));
  ProcessFrameCopyStruct copy{static_cast<uint32_t>(frames.size()), frames.data(), output};
  return library_.callPointer(FF_PROCESSFRAMECOPY, &copy, id_);
}

uint32_t Instance::processMulti(MultiFrames* frames) const {
  return library_.callPointer(FF_GETINPUTSTATUS, frames, id_);
}

uint32_t Instance::setParameter(uint32_t index, float value) const {
  SetParameterStruct change;
  std::memset(&change, 0, sizeof change);
  change.ParameterNumber = index;
  change.NewParameterValue.FloatValue = value;
  return library_.callPointer(FF_SETPARAMETER, &change, id_);
}

float Instance::parameter(uint32_t index) const {
  return library_.callForFloat(FF_GETPARAMETER, index, id_);
}

const char* Instance::display(uint32_t index) const {
  return static_cast<const char*>(library_.callForPointer(FF_GETPARAMETERDISPLAY, index, id_));
}

GuardedFrame::GuardedFrame(size_t bytes, uint8_t fill)
    : bytes_(bytes), storage_(bytes + 2 * kGuard, kGuardByte) {
  std::memset(data(), fill, bytes_);
}

bool GuardedFrame::guardsIntact() const {
  for (size_t i = 0; i < kGuard; ++i) {
    if (storage_[i] != kGuardByte || storage_[kGuard + bytes_ + i] != kGuardByte) return false;
  }
  return true;
}

uint32_t crc32(const void* data, size_t bytes, uint32_t crc) {
  static const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < bytes; ++i) crc = kTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace qeltest
