// The Inferno effect behind the shell's seam: its state, and the frame routine that runs the
// steps of a frame in their fixed order.
#include <memory>
#include <new>
#include <vector>

#include "effects/inferno/flame_field.h"
#include "effects/inferno/flow_composite.h"
#include "effects/inferno/inferno_controls.h"
#include "shell/effect_seam.h"

// The deliverable's cooling texture, 256 x 256 bytes row-major, embedded from its PGM.
extern const uint8_t kCoolMap[inferno::kCoolMapSide * inferno::kCoolMapSide];

struct EffectState {
  std::vector<uint8_t> fFireColors;   // fire colour image, width x height x bytesPerPixel
  std::vector<uint8_t> fFireMap;      // heat, one byte per pixel
  std::vector<uint8_t> fFireMapNext;  // heat produced by the last burn step
  int32_t fCoolMapScroll = 0;         // texture row offset, 0..255
  int32_t fCoolMapOffset = 0;         // added to every texture sample, 0..255
  inferno::FlowGrid fFlowMap{};
  inferno::FlowGrid fFlowTarget{};
  int32_t fFlowCounter = 0;  // frames since the target was regenerated, 0..3
  inferno::RuntimeRandom fRandom;
  inferno::BurnTables fBurnTables{};  // rebuilt each frame; kept here so frames never allocate
};

bool createEffectState(PlugObj* pPlugObj) {
  const size_t pixels = static_cast<size_t>(pPlugObj->width()) * pPlugObj->height();
  std::unique_ptr<EffectState> state(new (std::nothrow) EffectState);
  if (!state) return false;
  // Zero-filled, in this order; a bad_alloc releases what was made (the shell catches it).
  state->fFireColors.assign(pixels * pPlugObj->bytesPerPixel(), 0);
  state->fFireMap.assign(pixels, 0);
  state->fFireMapNext.assign(pixels, 0);
  inferno::fillRandomFlowGrid(state->fFlowMap, state->fRandom);
  inferno::fillRandomFlowGrid(state->fFlowTarget, state->fRandom);
  pPlugObj->fEffect = state.release();
  return true;
}

void releaseEffectState(PlugObj* pPlugObj) {
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  EffectState* state = pPlugObj->fEffect;
  if (!state) return FF_FAIL;

  float values[inferno::kParamCount];
  for (int i = 0; i < inferno::kParamCount; ++i) values[i] = controlValue(pPlugObj, i);
  const inferno::Controls controls = inferno::deriveControls(values, frame.orientation);
  const int width = frame.width;
  const int height = frame.height;
  const int bytesPerPixel = frame.bytesPerPixel;

  inferno::ignite(frame.input, state->fFireMap.data(), width, height, bytesPerPixel, controls);
  inferno::advanceCoolingTexture(state->fCoolMapScroll, state->fCoolMapOffset, controls.scrollStep,
                                 controls.offsetStep);
  inferno::buildBurnTables(state->fBurnTables, kCoolMap, state->fCoolMapOffset, controls);
  inferno::burn(state->fFireMap.data(), state->fFireMapNext.data(), state->fFireColors.data(),
                width, height, bytesPerPixel, controls.rise, controls.bottomUp,
                state->fCoolMapScroll, state->fBurnTables);
  inferno::updateFlow(state->fFlowMap, state->fFlowTarget, state->fFlowCounter, state->fRandom);
  inferno::blendHeat(state->fFireMap.data(), state->fFireMapNext.data(), width, height,
                     controls.heatBlend);
  inferno::composite({frame.input, frame.output, state->fFireColors.data(), width, height,
                      bytesPerPixel, controls.bottomUp, controls.fireBlend, &state->fFlowMap});
  return FF_SUCCESS;
}
