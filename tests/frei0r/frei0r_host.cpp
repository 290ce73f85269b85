#include "tests/frei0r/frei0r_host.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

#ifndef QEL_FREI0R_DIR
#define QEL_FREI0R_DIR "."
#endif

namespace qeltest {

namespace {

template <typename Function>
void bind(void* handle, const char* symbol, Function& function, const std::string& path) {
  function = reinterpret_cast<Function>(dlsym(handle, symbol));
  if (!function) throw std::runtime_error(path + " does not define " + symbol);
}

}  // namespace

std::string frei0rModulePath(const std::string& deliverableName) {
  std::string file = deliverableName;
  for (char& c : file) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::string(QEL_FREI0R_DIR) + "/" + file + ".so";
}

Frei0rModule::Frei0rModule(const std::string& deliverableName) {
  const std::string path = frei0rModulePath(deliverableName);
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error("cannot load " + path);
  bind(handle_, "f0r_init", init, path);
  bind(handle_, "f0r_deinit", deinit, path);
  bind(handle_, "f0r_get_plugin_info", getPluginInfo, path);
  bind(handle_, "f0r_get_param_info", getParamInfo, path);
  bind(handle_, "f0r_construct", construct, path);
  bind(handle_, "f0r_destruct", destruct, path);
  bind(handle_, "f0r_set_param_value", setParamValue, path);
  bind(handle_, "f0r_get_param_value", getParamValue, path);
  bind(handle_, "f0r_update", update, path);
  bind(handle_, "f0r_update2", update2, path);
}

Frei0rModule::~Frei0rModule() {
#if !defined(__SANITIZE_ADDRESS__)
  // Kept loaded under AddressSanitizer, so that a leak report can name the module's frames.
  if (handle_) dlclose(handle_);
#endif
}

f0r_plugin_info_t Frei0rModule::info() const {
  f0r_plugin_info_t info{};
  getPluginInfo(&info);
  return info;
}

f0r_param_info_t Frei0rModule::paramInfo(int index) const {
  f0r_param_info_t info{};
  getParamInfo(&info, index);
  return info;
}

Frei0rInstance::Frei0rInstance(const Frei0rModule& module, unsigned width, unsigned height)
    : module_(module), instance_(module.construct(width, height)) {}

Frei0rInstance::~Frei0rInstance() {
  if (instance_) module_.destruct(instance_);
}

void Frei0rInstance::setParam(int index, double value) const {
  module_.setParamValue(instance_, &value, index);
}

double Frei0rInstance::param(int index) const {
  double value = -12345.0;  // left as it is for an index the module does not know
  module_.getParamValue(instance_, &value, index);
  return value;
}

void Frei0rInstance::update(double time, const uint8_t* input, uint8_t* output) const {
  module_.update(instance_, time, reinterpret_cast<const uint32_t*>(input),
                 reinterpret_cast<uint32_t*>(output));
}

}  // namespace qeltest
