// Build-time constants of QelInferno1: identity, parameters, capabilities.
#include "shell/deliverable.h"

namespace {

const ParamRecord kParams[] = {
    {0.75f, "Brightness"},
    {0.75f, "Col Value"},
    {0.5f, "Range"},
    {0.6f, "Blend"},
    {0.54f, "Burn Speed"},
    {0.95f, "FlowMap Blend"},
    {0.2f, "CoolMap Base"},
    {1.0f, "Fire Blend"},
    {0.0f, "Flip Fire"},
    {0.75f, "CoolMap Speed"},
    {0.65f, "CoolMap Mul"},
    {0.25f, "CoolMap Add"},
    {0.0f, "Process Alpha"},
    {0.0f, ""},
};

}  // namespace

const DeliverableConstants kDeliverable = {
    {'k', 'v', '8', '1'},
    "QelInferno1",
    891,
    "Put anything filmed or still into flames",
    "QelInferno1 - Version 3.x - " QEL_MAKER_NOTICE,
    kParams,
    sizeof kParams / sizeof kParams[0],
    kCapabilityTableA,
    kCapabilityTableASize,
};
