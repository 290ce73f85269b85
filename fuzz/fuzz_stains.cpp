// libFuzzer target: the stains plug-ins driven through plugMain by a fuzzed host.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_host.h"

namespace {
std::vector<qelfuzz::FuzzedDeliverable>* gFamily = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gFamily = new std::vector<qelfuzz::FuzzedDeliverable>(qelfuzz::loadFamily({"QelStains1"}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qelfuzz::runHostSession(*gFamily, data, size);
  return 0;
}
