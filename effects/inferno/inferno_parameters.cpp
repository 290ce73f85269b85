#include "effects/inferno/inferno_parameters.h"

const ParamRecord kInfernoParams[inferno::kParamCount] = {
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
    {0.0f, ""},  // stored and clamped like the others, read by no step
};
