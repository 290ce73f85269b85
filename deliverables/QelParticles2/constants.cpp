// Build-time constants of QelParticles2: identity, parameters, capabilities and the
// Particles effect's settings.
#include "deliverables/QelParticles2/particles_settings.h"
#include "shell/deliverable.h"

namespace {

const ParamRecord kParams[] = {
    {0.26f, "Birth Value"},
    {0.24f, "Birth Range"},
    {0.17f, "Birth Rate"},
    {1.0f, "Fade Strength"},
    {0.49f, "Trail Strength"},
    {0.2f, "Particle Speed"},
    {0.24f, "Max Particles"},
    {0.3f, "Color Keep"},
    {0.5f, "Alpha Mode"},
    {1.0f, "FX Amount"},
    {0.0f, ""},
};

}  // namespace

const DeliverableConstants kDeliverable = {
    {'k', 'v', '7', '2'},
    "QelParticles2",
    912,
    "Turns input into bursting particles - bigger (slower)",
    "QelParticles2 - Version 3.x - " QEL_MAKER_NOTICE,
    kParams,
    sizeof kParams / sizeof kParams[0],
    kCapabilityTableA,
    kCapabilityTableASize,
};

const ParticlesSettings kParticlesSettings = kQelParticles2Settings;
