#include "shell/parameter_bank.h"

#include <cstdio>
#include <cstring>

#include "shell/deliverable.h"

bool isParameterIndex(uint32_t index) { return index < kDeliverable.numParams; }

const char* getParameterName(uint32_t index) { return kDeliverable.params[index].text; }

float getParameterDefault(uint32_t index) { return kDeliverable.params[index].value; }

char* getParameterDisplay(PlugObj* pPlugObj, uint32_t index) {
  char* text = pPlugObj->fParams[index].text;
  constexpr size_t kSize = sizeof pPlugObj->fParams[index].text;
  // Spaces first: the bytes after the terminator keep them. Texts longer than 15
  // characters (values of 1e8 and above) are cut, always NUL-terminated.
  std::memset(text, ' ', kSize);
  std::snprintf(text, kSize, "%f", static_cast<double>(pPlugObj->fParams[index].value));
  return text;
}

void setParameter(PlugObj* pPlugObj, const SetParameterStruct* change) {
  // The 4 bytes are stored as sent: no conversion, no clamp.
  std::memcpy(&pPlugObj->fParams[change->ParameterNumber].value,
              &change->NewParameterValue.FloatValue, sizeof(float));
}

float getParameter(const PlugObj* pPlugObj, uint32_t index) {
  return pPlugObj->fParams[index].value;
}

void loadParameterDefaults(PlugObj* pPlugObj) {
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    pPlugObj->fParams[i].value = kDeliverable.params[i].value;
  }
}

namespace {

// True for every value below 0, decided on the bits: frames run with denormals-are-zero
// set, under which a negative denormal compares equal to 0 and `v < 0` would let it
// through. Sign set and a magnitude from the smallest denormal up to infinity; -0 and
// negative NaNs are not below 0.
bool isBelowZero(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const uint32_t magnitude = bits & 0x7FFFFFFFu;
  constexpr uint32_t kInfinityBits = 0x7F800000u;
  return (bits >> 31) != 0 && magnitude != 0 && magnitude <= kInfinityBits;
}

}  // namespace

void clampParameters(PlugObj* pPlugObj) {
  for (uint32_t i = 0; i < kDeliverable.numParams; ++i) {
    float& v = pPlugObj->fParams[i].value;
    if (v > 1.0f) {
      v = 1.0f;
    } else if (isBelowZero(v)) {
      v = 0.0f;
    }
  }
}
