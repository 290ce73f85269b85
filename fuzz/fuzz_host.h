// A fuzzed FreeFrame host: turns a fuzz input into a sequence of plugMain calls on one
// deliverable of a family and holds every answer to the rules a host relies on:
//
//   - every call returns (crashes, sanitizer reports and hangs are caught by libFuzzer);
//   - every refusal is FF_FAIL, and exactly the calls a host gets wrong are refused;
//   - an instance stays usable after any refusal: its next well-formed frame succeeds and
//     its parameters read back as set (clamped once a frame has passed);
//   - frames and records the host owns are never freed, and inputs are never written.
//
// A broken rule prints what happened and aborts, which libFuzzer records as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "shell/freeframe.h"
#include "tests/harness/plugin_host.h"

namespace qelfuzz {

struct FuzzedDeliverable {
  std::unique_ptr<qeltest::PluginLibrary> library;
  uint32_t numParams = 0;
  std::vector<uint32_t> defaults;  // bit patterns of the parameter defaults
};

// Loads the named deliverables (kept loaded for the life of the process) and keeps a copy
// of standard error for reports of broken rules.
std::vector<FuzzedDeliverable> loadFamily(std::initializer_list<const char*> names);

// Runs one fuzz input against the family: the first byte picks the deliverable.
void runHostSession(const std::vector<FuzzedDeliverable>& family, const uint8_t* data, size_t size);

}  // namespace qelfuzz
