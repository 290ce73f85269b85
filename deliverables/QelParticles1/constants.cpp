// Build-time constants of QelParticles1: identity, parameters, capabilities and the
// Particles effect's settings.
#include "deliverables/QelParticles1/particles_settings.h"
#include "shell/deliverable.h"

namespace {

const ParamRecord kParams[] = {
    {0.26f, "Birth Value"},
    {0.16f, "Birth Range"},
    {0.24f, "Birth Rate"},
    {0.04f, "Fade Strength"},
    {0.49f, "Trail Strength"},
    {0.78f, "Particle Speed"},
    {0.4f, "Max Particles"},
    {0.19f, "Color Keep"},
    {0.5f, "Alpha Mode"},
    {1.0f, "FX Amount"},
};

}  // namespace

const DeliverableConstants kDeliverable = {
    {'k', 'v', '7', '1'},
    "QelParticles1",
    914,
    "Turns input into bursting particles",
    "QelParticles1 - Version 3.x - " QEL_MAKER_NOTICE,
    kParams,
    sizeof kParams / sizeof kParams[0],
    kCapabilityTableA,
    kCapabilityTableASize,
};

const ParticlesSettings kParticlesSettings = kQelParticles1Settings;
