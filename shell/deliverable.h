// The build-time constants that make one deliverable out of the shared shell and one
// effect: identity, parameter table and capability table. Each deliverable's folder
// defines kDeliverable; the effect's own per-deliverable settings sit beside it.
#pragma once

#include <cstdint>

#include "shell/freeframe.h"

struct DeliverableConstants {
  char uniqueId[4];           // PluginUniqueID, no terminator
  const char* name;           // PluginName, at most 15 characters
  uint32_t minorVersion;      // PluginMinorVersion (the major version is 3)
  const char* description;    // Description
  const char* about;          // About: name, " - Version 3.x - ", maker notice
  const ParamRecord* params;  // defaults and names, in index order
  uint32_t numParams;
  const uint32_t* caps;       // answers of FF_GETPLUGINCAPS by capability index
  uint32_t numCaps;
};

extern const DeliverableConstants kDeliverable;

// Capability tables shared by the deliverables: A for Particles and Inferno, B for Stains.
constexpr uint32_t kCapabilityTableASize = 22;
constexpr uint32_t kCapabilityTableBSize = 16;
extern const uint32_t kCapabilityTableA[kCapabilityTableASize];
extern const uint32_t kCapabilityTableB[kCapabilityTableBSize];

// The maker notice that ends every About text.
#define QEL_MAKER_NOTICE "Qel video effects for FreeFrame hosts"
