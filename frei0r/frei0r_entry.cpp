// The frei0r entry points: the only extern "C" code of a frei0r module. Every pointer a
// host hands in is checked, and no exception reaches the host.
#include <new>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/frei0r_filter.h"
#include "shell/deliverable.h"

#define QEL_FREI0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// frei0r has no author field in the deliverable's constants; this names the makers.
constexpr const char* kAuthor = "Qel video effects";
constexpr int kPluginMajorVersion = 3;  // the FreeFrame PluginMajorVersion

Frei0rFilter* filterOf(f0r_instance_t instance) {
  return static_cast<Frei0rFilter*>(instance);
}

}  // namespace

QEL_FREI0R_EXPORT int f0r_init(void) {
  return 1;
}

QEL_FREI0R_EXPORT void f0r_deinit(void) {}

QEL_FREI0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = kDeliverable.name;
  info->author = kAuthor;
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  // Byte 0 of a pixel is blue for the effects, as in FreeFrame 32-bit frames.
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = kPluginMajorVersion;
  info->minor_version = static_cast<int>(kDeliverable.minorVersion);
  info->num_params = frei0rParamCount();
  info->explanation = kDeliverable.description;
}

QEL_FREI0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  const int row = tableIndexOfParam(param_index);
  if (!info || row < 0) return;
  info->name = kDeliverable.params[row].text;
  info->type = F0R_PARAM_DOUBLE;
  // The table has names only; some hosts show the explanation as a tooltip.
  info->explanation = kDeliverable.params[row].text;
}

QEL_FREI0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  try {
    return constructFilter(width, height);
  } catch (...) {
    return nullptr;
  }
}

QEL_FREI0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
  try {
    destructFilter(filterOf(instance));
  } catch (...) {
  }
}

QEL_FREI0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                           int param_index) {
  if (!instance || !param) return;
  setFilterParam(filterOf(instance), param_index, *static_cast<const f0r_param_double*>(param));
}

QEL_FREI0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                           int param_index) {
  if (!instance || !param) return;
  getFilterParam(filterOf(instance), param_index, static_cast<f0r_param_double*>(param));
}

// `time` is not read: the effects step once per frame, and hosts pass seconds,
// milliseconds or nothing meaningful.
QEL_FREI0R_EXPORT void f0r_update(f0r_instance_t instance, double /*time*/, const uint32_t* inframe,
                                  uint32_t* outframe) {
  if (!instance) return;
  try {
    updateFilter(filterOf(instance), inframe, outframe);
  } catch (...) {
  }
}

// A filter reads only the first input.
QEL_FREI0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                   const uint32_t* /*inframe2*/, const uint32_t* /*inframe3*/,
                                   uint32_t* outframe) {
  f0r_update(instance, time, inframe1, outframe);
}
