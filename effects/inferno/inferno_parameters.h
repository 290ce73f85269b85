// The parameter table (defaults and names, in index order) shared by both Inferno
// deliverables; the indices are those of inferno::ParamIndex.
#pragma once

#include "effects/inferno/inferno_controls.h"
#include "shell/freeframe.h"

extern const ParamRecord kInfernoParams[inferno::kParamCount];
