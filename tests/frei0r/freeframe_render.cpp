// The reference for the host-tool tests: runs a FreeFrame build over raw 32-bit frames,
// in place, as a FreeFrame host would, with parameter values given in frei0r order.
//
//   freeframe_render <Deliverable> --names
//       prints the frei0r parameters (the named FreeFrame ones), one name a line
//   freeframe_render <Deliverable> <width> <height> <input.bgra> <output.bgra> [value ...]
//       value k goes to the k-th named parameter, as the nearest float
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: freeframe_render <Deliverable> --names\n"
               "       freeframe_render <Deliverable> <width> <height> <in> <out> [value ...]\n");
  return 2;
}

std::vector<uint32_t> namedRows(const qeltest::PluginLibrary& library) {
  std::vector<uint32_t> rows;
  for (uint32_t i = 0; i < library.numParameters(); ++i) {
    if (!library.parameterName(i).empty()) rows.push_back(i);
  }
  return rows;
}

int render(const qeltest::PluginLibrary& library, int argc, char** argv) {
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  if (width <= 0 || height <= 0) return usage();
  const std::vector<uint32_t> rows = namedRows(library);
  const int values = argc - 6;
  if (values > static_cast<int>(rows.size())) {
    std::fprintf(stderr, "%d values for %zu parameters\n", values, rows.size());
    return 2;
  }
  qeltest::Instance instance(library, width, height, 4);
  if (!instance.valid()) {
    std::fprintf(stderr, "instantiate refused %dx%d\n", width, height);
    return 1;
  }
  for (int k = 0; k < values; ++k) {
    instance.setParameter(rows[k], static_cast<float>(std::strtod(argv[6 + k], nullptr)));
  }
  FILE* in = std::fopen(argv[4], "rb");
  FILE* out = std::fopen(argv[5], "wb");
  if (!in || !out) {
    std::fprintf(stderr, "cannot open %s or %s\n", argv[4], argv[5]);
    return 1;
  }
  std::vector<uint8_t> frame(instance.frameBytes());
  int frames = 0;
  while (std::fread(frame.data(), 1, frame.size(), in) == frame.size()) {
    if (instance.processFrame(frame.data()) != FF_SUCCESS) {
      std::fprintf(stderr, "frame %d failed\n", frames);
      return 1;
    }
    if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) return 1;
    ++frames;
  }
  std::fclose(in);
  return std::fclose(out) == 0 && frames > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[2]) == "--names") {
      qeltest::PluginLibrary library(argv[1]);
      for (uint32_t row : namedRows(library))
        std::printf("%s\n", library.parameterName(row).c_str());
      return 0;
    }
    if (argc < 6) return usage();
    qeltest::PluginLibrary library(argv[1]);
    return render(library, argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
