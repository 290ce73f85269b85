// A minimal frei0r host for tests: loads a frei0r module by file name and drives it
// through its f0r_* functions only, as FFmpeg, GStreamer and MLT do.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <frei0r.h>
}

namespace qeltest {

// Path of a built frei0r module: the build's frei0r folder / lower-case name + ".so".
std::string frei0rModulePath(const std::string& deliverableName);

class Frei0rModule {
 public:
  // Throws std::runtime_error unless the module loads and defines every f0r_* function.
  explicit Frei0rModule(const std::string& deliverableName);
  ~Frei0rModule();
  Frei0rModule(const Frei0rModule&) = delete;
  Frei0rModule& operator=(const Frei0rModule&) = delete;

  f0r_plugin_info_t info() const;
  f0r_param_info_t paramInfo(int index) const;

  int (*init)(void) = nullptr;
  void (*deinit)(void) = nullptr;
  void (*getPluginInfo)(f0r_plugin_info_t*) = nullptr;
  void (*getParamInfo)(f0r_param_info_t*, int) = nullptr;
  f0r_instance_t (*construct)(unsigned int, unsigned int) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*setParamValue)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*getParamValue)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*,
                  uint32_t*) = nullptr;

 private:
  void* handle_ = nullptr;
};

// One filter instance, destructed when it goes out of scope.
class Frei0rInstance {
 public:
  Frei0rInstance(const Frei0rModule& module, unsigned width, unsigned height);
  ~Frei0rInstance();
  Frei0rInstance(const Frei0rInstance&) = delete;
  Frei0rInstance& operator=(const Frei0rInstance&) = delete;

  bool valid() const { return instance_ != nullptr; }
  f0r_instance_t handle() const { return instance_; }
  void setParam(int index, double value) const;
  double param(int index) const;
  // Frames are byte buffers of width x height x 4 bytes.
  void update(double time, const uint8_t* input, uint8_t* output) const;

 private:
  const Frei0rModule& module_;
  f0r_instance_t instance_;
};

}  // namespace qeltest
