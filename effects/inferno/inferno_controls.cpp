#include "effects/inferno/inferno_controls.h"

#include <algorithm>
#include <cstdlib>

namespace inferno {

namespace {

// A parameter value in [0, 1]; NaN (which the shell's clamp lets through) reads as 0.
float unitValue(float v) {
  return v > 0.0f ? std::min(v, 1.0f) : 0.0f;
}

// trunc(v x scale), the product rounded to single precision first.
int scaled(float v, float scale) {
  return static_cast<int>(v * scale);
}

// A switch parameter: on only strictly above one half.
bool switchedOn(float v) {
  return v > 0.5f;
}

}  // namespace

Controls deriveControls(const float* values, uint32_t orientation) {
  float v[kParamCount];
  for (int i = 0; i < kParamCount; ++i) v[i] = unitValue(values[i]);

  Controls c{};
  const bool bottomUp = orientation == kOrientationBottomUp;
  c.bottomUp = switchedOn(v[kParamFlipFire]) ? !bottomUp : bottomUp;

  c.keyLevel = scaled(v[kParamColValue], 255.0f);
  c.keyRange = scaled(v[kParamRange], 255.0f);
  // b in -768..768: its sign picks the weight set, its size the amount and the gain.
  const int b = scaled(v[kParamBlend] - 0.5f, 1536.0f);
  c.lowWeights = b < 0;
  c.igniteAmount = std::min(std::abs(b), 256);
  c.igniteGain = std::max(std::abs(b), 256);
  c.alphaWeighted = switchedOn(v[kParamProcessAlpha]);

  c.brightness = scaled(v[kParamBrightness], 2048.0f);
  c.rise = scaled(v[kParamBurnSpeed], 8.0f);
  c.coolBase = scaled(v[kParamCoolMapBase], 64.0f);
  const float mul = v[kParamCoolMapMul];
  const float quotient = 65536.0f / (mul > 0.0f ? mul : 1.0f);
  c.coolFactor = (mul <= 0.0f || quotient >= static_cast<float>(kMaxCoolFactor))
                     ? kMaxCoolFactor
                     : static_cast<int32_t>(quotient);
  c.scrollStep = scaled(v[kParamCoolMapSpeed], 16.0f);
  c.offsetStep = scaled(v[kParamCoolMapAdd], 16.0f);

  c.heatBlend = scaled(v[kParamFlowMapBlend], 256.0f);
  c.fireBlend = scaled(v[kParamFireBlend], 256.0f);
  return c;
}

}  // namespace inferno
