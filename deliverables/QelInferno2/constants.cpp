// Build-time constants of QelInferno2: identity, parameters, capabilities.
#include "effects/inferno/inferno_parameters.h"
#include "shell/deliverable.h"

const DeliverableConstants kDeliverable = {
    {'k', 'v', '8', '2'},
    "QelInferno2",
    888,
    "Put anything filmed or still into flames",
    "QelInferno2 - Version 3.x - " QEL_MAKER_NOTICE,
    kInfernoParams,
    inferno::kParamCount,
    kCapabilityTableA,
    kCapabilityTableASize,
};
