// A minimal FreeFrame host for tests and benchmarks: loads a plug-in library by file
// name and drives it through plugMain only, exactly as a host does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/freeframe.h"

namespace qeltest {

// The six deliverables, in the order the tables of the tests use.
extern const char* const kDeliverableNames[6];

// Path of a built plug-in: $QEL_PLUGIN_DIR (or the build's plug-in folder) / name + suffix.
std::string pluginPath(const std::string& name);

class PluginLibrary {
 public:
  explicit PluginLibrary(const std::string& name);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return plugMain_ != nullptr; }
  const std::string& name() const { return name_; }

  FFMixed call(uint32_t code, FFMixed input, void* instance = nullptr) const;
  uint32_t callUInt(uint32_t code, uint32_t input, void* instance = nullptr) const;
  uint32_t callPointer(uint32_t code, const void* input, void* instance = nullptr) const;
  const void* callForPointer(uint32_t code, uint32_t input, void* instance = nullptr) const;
  float callForFloat(uint32_t code, uint32_t input, void* instance = nullptr) const;

  const PluginInfoStruct* info() const;
  const PluginExtendedInfoStruct* extendedInfo() const;
  uint32_t numParameters() const;
  std::string parameterName(uint32_t index) const;
  float parameterDefault(uint32_t index) const;
  uint32_t caps(uint32_t index) const;

 private:
  std::string name_;
  void* handle_ = nullptr;
  FFMixed(QEL_PLUGIN_CALL* plugMain_)(uint32_t, FFMixed, void*) = nullptr;
};

// One plug-in instance, released when it goes out of scope.
class Instance {
 public:
  Instance(const PluginLibrary& library, uint32_t width, uint32_t height, int bytesPerPixel,
           uint32_t orientation = FF_ORIENTATION_TL);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool valid() const { return id_ != nullptr; }
  void* id() const { return id_; }
  size_t frameBytes() const { return frameBytes_; }

  uint32_t processFrame(uint8_t* frame) const;
  uint32_t processFrameCopy(const std::vector<const uint8_t*>& inputs, uint8_t* output) const;
  uint32_t processMulti(MultiFrames* frames) const;
  uint32_t setParameter(uint32_t index, float value) const;
  float parameter(uint32_t index) const;
  const char* display(uint32_t index) const;

 private:
  const PluginLibrary& library_;
  void* id_ = nullptr;
  size_t frameBytes_ = 0;
};

// A frame buffer with guard bytes on both sides, to catch writes outside the frame.
class GuardedFrame {
 public:
  explicit GuardedFrame(size_t bytes, uint8_t fill = 0);
  uint8_t* data() { return storage_.data() + kGuard; }
  const uint8_t* data() const { return storage_.data() + kGuard; }
  size_t size() const { return bytes_; }
  bool guardsIntact() const;
  std::vector<uint8_t> bytes() const { return {data(), data() + bytes_}; }

 private:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;
  size_t bytes_;
  std::vector<uint8_t> storage_;
};

// CRC-32 (IEEE 802.3, reflected, as zlib), chainable through `crc`.
uint32_t crc32(const void* data, size_t bytes, uint32_t crc = 0);

}  // namespace qeltest
