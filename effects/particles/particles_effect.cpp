// The Particles effect behind the shell's seam: the instance's particle state, created and
// released with the instance, and the frame routine that runs the effect's steps on the
// frame the prologue hands over.
#include <memory>
#include <new>

#include "effects/particles/particle_system.h"
#include "effects/particles/particles_settings.h"
#include "shell/effect_seam.h"

struct EffectState {
  particles::ParticleState particles;
};

bool createEffectState(PlugObj* pPlugObj) {
  try {
    auto state = std::make_unique<EffectState>();
    // Only the optimised frame runs here: it needs no effect image.
    particles::initParticleState(state->particles, pPlugObj->width(), pPlugObj->height(),
                                 pPlugObj->bytesPerPixel(),
                                 controlValue(pPlugObj, particles::kMaxParticles),
                                 /*withFxImage=*/false);
    pPlugObj->fEffect = state.release();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void releaseEffectState(PlugObj* pPlugObj) {
  delete pPlugObj->fEffect;
  pPlugObj->fEffect = nullptr;
}

uint32_t processFrameMulti(PlugObj* pPlugObj, MultiFrames* pFrameData) {
  FrameContext frame;
  const uint32_t status = beginFrameMulti(pPlugObj, pFrameData, frame);
  if (status != FF_SUCCESS) return status;
  if (!pPlugObj->fEffect) return FF_FAIL;
  float values[particles::kNumControls];
  for (int i = 0; i < particles::kNumControls; ++i) values[i] = controlValue(pPlugObj, i);
  particles::runParticlesFrame(pPlugObj->fEffect->particles, kParticlesSettings, values,
                               frame.input, frame.output);
  return FF_SUCCESS;
}
