// Replays fuzz inputs through the fuzzed host of fuzz/ without libFuzzer:
//   fuzz_replay <particles|inferno|stains> <folder or file>...
// A broken host rule aborts with its report; a missing folder counts as empty.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_host.h"

namespace {

std::vector<qelfuzz::FuzzedDeliverable> family(const std::string& name) {
  if (name == "particles")
    return qelfuzz::loadFamily({"QelParticles1", "QelParticles2", "QelParticles3"});
  if (name == "inferno") return qelfuzz::loadFamily({"QelInferno1", "QelInferno2"});
  if (name == "stains") return qelfuzz::loadFamily({"QelStains1"});
  std::fprintf(stderr, "unknown family %s\n", name.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <particles|inferno|stains> <folder or file>...\n", argv[0]);
    return 2;
  }
  const auto deliverables = family(argv[1]);
  std::vector<std::filesystem::path> inputs;
  for (int i = 2; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (std::filesystem::exists(path)) {
      inputs.push_back(path);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  for (const auto& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    std::printf("%s (%zu bytes)\n", input.filename().c_str(), bytes.size());
    std::fflush(stdout);
    qelfuzz::runHostSession(deliverables, bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed, every host rule held\n", inputs.size());
  return 0;
}
