// Build-time constants of QelStains1: identity, parameters, capabilities.
#include "shell/deliverable.h"

namespace {

const ParamRecord kParams[] = {
    {1.0f, "Drawing"},
    {0.4f, "Dot Scale"},
    {0.5f, "Colorize Speed"},
    {0.3f, "Num Particles"},
    {0.73f, "Rot Angle X"},
    {0.18f, "Rot Angle Y"},
    {0.94f, "Rot Angle Z"},
    {0.5f, "Step Max"},
    {0.5f, "Magnet Force"},
};

}  // namespace

const DeliverableConstants kDeliverable = {
    {'k', 'v', '9', '1'},
    "QelStains1",
    908,
    "Input produces dots (stains), that are drawn with controllable transparency onto previous (persistent buffer)",
    "QelStains1 - Version 3.x - " QEL_MAKER_NOTICE,
    kParams,
    sizeof kParams / sizeof kParams[0],
    kCapabilityTableB,
    kCapabilityTableBSize,
};
