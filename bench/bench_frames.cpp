// Frame-rate benchmark: times processFrame through plugMain, as a host calls it, over real
// footage decoded and scaled by ffmpeg, and counts the allocations of steady-state frames.
//
//   bench_frames [--plugins A,B,..] [--sizes WxH,..] [--depths 24,32] [--threads 1,2]
//                [--warmup N] [--frames N] [--media FILE]
//
// Prints one line per plug-in, size, depth and thread count: ms per frame (mean and
// median), Mpixel/s and heap allocations per timed frame.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"

// Every heap allocation of the process, the plug-ins' included, passes through here.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
static std::atomic<long> gAllocations{0};
extern "C" void* malloc(size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, sep)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// Decodes up to `count` frames of `media`, scaled to width x height, as packed BGR or BGRA.
std::vector<std::vector<uint8_t>> decodeFootage(const std::string& media, int width, int height,
                                                int bytesPerPixel, int count) {
  const std::string command = "ffmpeg -v error -i '" + media + "' -vf scale=" +
                              std::to_string(width) + ":" + std::to_string(height) +
                              " -frames:v " + std::to_string(count) + " -pix_fmt " +
                              (bytesPerPixel == 4 ? "bgra" : "bgr24") + " -f rawvideo -";
  FILE* pipe = popen(command.c_str(), "r");
  std::vector<std::vector<uint8_t>> frames;
  if (!pipe) return frames;
  const size_t bytes = static_cast<size_t>(width) * height * bytesPerPixel;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> frame(bytes);
    if (std::fread(frame.data(), 1, bytes, pipe) != bytes) break;
    frames.push_back(std::move(frame));
  }
  pclose(pipe);
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options = {
      {"--plugins", "QelParticles1,QelParticles2,QelParticles3,QelInferno1,QelInferno2,QelStains1"},
      {"--sizes", "640x480,1280x720,1920x1080,3840x2160"},
      {"--depths", "32,24"},
      {"--threads", "1,2"},
      {"--warmup", "60"},
      {"--frames", "60"},
      {"--media", QEL_MEDIA_DIR "/vtest.avi"},
  };
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!options.count(argv[i])) {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
    options[argv[i]] = argv[i + 1];
  }
  const int warmup = std::atoi(options["--warmup"].c_str());
  const int timed = std::max(1, std::atoi(options["--frames"].c_str()));
  constexpr int kClipFrames = 30;  // decoded once per size and cycled

  std::printf("%-14s %11s %5s %7s %9s %9s %9s %12s\n", "plugin", "size", "bits", "threads",
              "ms mean", "ms median", "Mpix/s", "allocs/frame");
  for (const std::string& size : split(options["--sizes"], ',')) {
    int width = 0, height = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2) {
      std::fprintf(stderr, "bad size %s\n", size.c_str());
      return 2;
    }
    for (const std::string& depth : split(options["--depths"], ',')) {
      const int bytesPerPixel = depth == "24" ? 3 : 4;
      const auto clip = decodeFootage(options["--media"], width, height, bytesPerPixel, kClipFrames);
      if (clip.empty()) {
        std::fprintf(stderr, "cannot decode %s (is ffmpeg installed?)\n",
                     options["--media"].c_str());
        return 1;
      }
      for (const std::string& name : split(options["--plugins"], ',')) {
        qeltest::PluginLibrary library(name);
        for (const std::string& threads : split(options["--threads"], ',')) {
          omp_set_num_threads(std::atoi(threads.c_str()));
          qeltest::Instance instance(library, width, height, bytesPerPixel);
          if (!instance.valid()) {
            std::fprintf(stderr, "%s refused %s\n", name.c_str(), size.c_str());
            return 1;
          }
          std::vector<uint8_t> frame(instance.frameBytes());
          std::vector<double> ms;
          long allocations = 0;
          for (int i = 0; i < warmup + timed; ++i) {
            const auto& source = clip[i % clip.size()];
            std::memcpy(frame.data(), source.data(), frame.size());
            const long before = gAllocations.load();
            const auto start = std::chrono::steady_clock::now();
            if (instance.processFrame(frame.data()) != FF_SUCCESS) {
              std::fprintf(stderr, "%s: frame %d failed\n", name.c_str(), i);
              return 1;
            }
            const auto end = std::chrono::steady_clock::now();
            if (i >= warmup) {
              allocations += gAllocations.load() - before;
              ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            }
          }
          double sum = 0;
          for (double v : ms) sum += v;
          const double mean = sum / ms.size();
          std::sort(ms.begin(), ms.end());
          const double median = ms[ms.size() / 2];
          std::printf("%-14s %11s %5s %7s %9.3f %9.3f %9.1f %12.2f\n", name.c_str(), size.c_str(),
                      depth.c_str(), threads.c_str(), mean, median,
                      width * double(height) / median / 1000.0, double(allocations) / timed);
          std::fflush(stdout);
        }
      }
    }
  }
  return 0;
}
