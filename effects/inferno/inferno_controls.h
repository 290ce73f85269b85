// The 14 Inferno parameters and the integer controls that one frame derives from them.
#pragma once

#include <cstdint>

namespace inferno {

// Parameter indices, in the order of the deliverables' parameter tables.
enum ParamIndex : int {
  kParamBrightness = 0,
  kParamColValue,
  kParamRange,
  kParamBlend,
  kParamBurnSpeed,
  kParamFlowMapBlend,
  kParamCoolMapBase,
  kParamFireBlend,
  kParamFlipFire,
  kParamCoolMapSpeed,
  kParamCoolMapMul,
  kParamCoolMapAdd,
  kParamProcessAlpha,
  kParamUnused,  // stored and clamped like the others, read by nothing
  kParamCount
};

// FreeFrame orientation 2: the first row of a frame is the bottom of the picture.
constexpr uint32_t kOrientationBottomUp = 2;

// The largest cool factor: 2^31 / 32, so that the factor times the largest cooling excess
// (31) stays below 2^31. "CoolMap Mul" below 65536 / 2^26 (about 0.001), 0 and NaN give it.
constexpr int32_t kMaxCoolFactor = int32_t{1} << 26;

// Controls of one frame. Each is trunc(value x constant) in single precision.
struct Controls {
  // Effective orientation: true when it is 2 (first row at the bottom), after "Flip Fire".
  bool bottomUp;

  // Ignition.
  int keyLevel;        // 0..255
  int keyRange;        // 0..255; a key passes when |key - keyLevel| < keyRange
  bool lowWeights;     // "Blend" below 0.5 selects the low weight set
  int igniteAmount;    // 0..256: how far a passing key pulls the heat (256: replaces it)
  int igniteGain;      // 256..768: keys are scaled by gain / 256 (capped at 255) above 256
  bool alphaWeighted;  // "Process Alpha" above 0.5; only 32-bit frames use it

  // Burn step and cooling texture.
  int brightness;      // 0..2048: palette colours times brightness / 256
  int rise;            // 0..8 rows per frame
  int coolBase;        // 0..64
  int32_t coolFactor;  // 65536 / "CoolMap Mul", 1..kMaxCoolFactor (65536 = texture excess)
  int scrollStep;      // 0..16 texture rows per frame
  int offsetStep;      // 0..16 added to the texture offset per frame

  // Fire-map blend and composite.
  int heatBlend;  // 0..256: how far the heat map moves to the burn's result
  int fireBlend;  // 0..256: 256 shows the fire image alone

  bool operator==(const Controls&) const = default;
};

// `values` are the kParamCount parameter values, each in [0, 1] (NaN reads as 0 as well).
// `orientation` is the instance's FreeFrame orientation.
Controls deriveControls(const float* values, uint32_t orientation);

}  // namespace inferno
