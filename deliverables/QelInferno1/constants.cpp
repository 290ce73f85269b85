// Build-time constants of QelInferno1: identity, parameters, capabilities.
#include "effects/inferno/inferno_parameters.h"
#include "shell/deliverable.h"

const DeliverableConstants kDeliverable = {
    {'k', 'v', '8', '1'},
    "QelInferno1",
    891,
    "Put anything filmed or still into flames",
    "QelInferno1 - Version 3.x - " QEL_MAKER_NOTICE,
    kInfernoParams,
    inferno::kParamCount,
    kCapabilityTableA,
    kCapabilityTableASize,
};
