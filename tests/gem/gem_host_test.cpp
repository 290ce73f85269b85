// A real third-party host: Gem for Pure Data loads each plug-in through its pix_freeframe
// object, pushes an image through it frame after frame, and writes every result with
// pix_writer. The bytes must equal what the test harness gives for the same input bytes
// and the same number of frames.
//
// What Gem does, as this test relies on it: it hands frames of R, G, B, A bytes, top row
// first (orientation 1), in place; pix_image reloads the file on every frame, so each
// frame starts from the same input; pix_writer writes the processed image bottom row
// first, as one TIFF per frame numbered from 00000.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"
#include "tests/host/qelfx_runner.h"

namespace qeltest {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kMinFrames = 3;
const char kGemLibrary[] = "/usr/lib/pd/extra/Gem/Gem.pd_linux";

bool onPath(const std::string& program) {
  return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

std::string gemMissing() {
  std::string missing;
  for (const char* program : {"pd", "xvfb-run", "ffmpeg"}) {
    if (!onPath(program)) missing += std::string(" ") + program;
  }
  if (access(kGemLibrary, R_OK) != 0) missing += std::string(" ") + kGemLibrary;
  return missing;
}

// The patch: on load, synchronous image loading, pix_writer set to write every frame,
// then a window (rendering starts); each frame reloads the image before it passes
// through the plug-in; Pd quits after a quarter of a second of its own time.
std::string patchText(const std::string& plugin, const std::string& input,
                      const std::string& outputBase) {
  return "#N canvas 0 0 600 400 12;\n"
         "#X obj 10 10 loadbang;\n"
         "#X obj 10 40 t b b b;\n"
         "#X msg 10 80 dimen " +
         std::to_string(kWidth) + " " + std::to_string(kHeight) +
         " \\, create \\, 1;\n"
         "#X obj 10 120 gemwin;\n"
         "#X obj 200 10 gemhead;\n"
         "#X obj 200 40 t a b;\n"
         "#X msg 260 40 open " +
         input +
         ";\n"
         "#X obj 200 70 pix_image;\n"
         "#X obj 200 100 pix_freeframe " +
         plugin +
         ";\n"
         "#X obj 200 130 pix_writer;\n"
         "#X msg 300 80 file " +
         outputBase +
         " 0 \\, auto 1;\n"
         "#X msg 100 80 thread 0;\n"
         "#X obj 10 160 delay 250;\n"
         "#X msg 10 190 \\; pd quit;\n"
         "#X connect 0 0 1 0;\n"
         "#X connect 1 0 2 0;\n"
         "#X connect 2 0 3 0;\n"
         "#X connect 1 1 10 0;\n"
         "#X connect 1 2 11 0;\n"
         "#X connect 11 0 7 0;\n"
         "#X connect 10 0 9 0;\n"
         "#X connect 4 0 5 0;\n"
         "#X connect 5 1 6 0;\n"
         "#X connect 6 0 7 0;\n"
         "#X connect 5 0 7 0;\n"
         "#X connect 7 0 8 0;\n"
         "#X connect 8 0 9 0;\n"
         "#X connect 1 0 12 0;\n"
         "#X connect 12 0 13 0;\n";
}

struct GemCase {
  const char* plugin;
  bool probe;  // the test plug-in, from its own folder
};

class GemHost : public testing::TestWithParam<GemCase> {};

TEST_P(GemHost, ProcessesLikeTheHarness) {
  const std::string missing = gemMissing();
  if (!missing.empty()) {
    if (std::getenv("CI")) FAIL() << "CI must run the Gem test; missing:" << missing;
    GTEST_SKIP() << "Gem for Pure Data is not installed (missing:" << missing
                 << "); Debian packages: gem gem-plugin-tiff puredata-core xvfb xauth "
                    "libgl1-mesa-dri";
  }
  const GemCase& c = GetParam();
  const std::string pluginDir =
      c.probe ? std::string(QEL_PROBE_DIR) : pluginPath("x").substr(0, pluginPath("x").rfind('/'));
  ScratchDir dir;
  // The input bytes, as Gem will hold them in memory: R, G, B, A.
  const std::vector<uint8_t> input = testFrame(kWidth, kHeight, 4, 0);
  writeFile(dir.file("in.raw"), std::string(input.begin(), input.end()));
  ASSERT_EQ(
      std::system(("cd '" + dir.path() + "' && ffmpeg -v error -f rawvideo -pix_fmt rgba -s " +
                   std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                   " -i in.raw -pix_fmt rgba in.tif")
                      .c_str()),
      0);
  writeFile(dir.file("run.pd"), patchText(c.plugin, dir.file("in.tif"), dir.file("out")));
  const std::string log = dir.file("pd.log");
  const int status =
      std::system(("cd '" + dir.path() +
                   "' && timeout 120 xvfb-run -a -s '-screen 0 320x240x24' pd -nogui "
                   "-batch -noaudio -nomidi -stderr -path '" +
                   pluginDir + "' -lib Gem run.pd > '" + log + "' 2>&1")
                      .c_str());
  ASSERT_EQ(status, 0) << readFile(log);

  std::vector<std::string> written;
  for (const std::string& name : dir.entries()) {
    if (name.rfind("out", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tif") {
      written.push_back(name);
    }
  }
  ASSERT_GE(written.size(), static_cast<size_t>(kMinFrames)) << "Gem wrote too few frames\n"
                                                             << readFile(log);

  const std::vector<std::vector<uint8_t>> frames(written.size(), input);
  const auto library =
      c.probe ? loadPluginFrom(QEL_PROBE_DIR, c.plugin) : std::make_unique<PluginLibrary>(c.plugin);
  const std::vector<uint8_t> want = harnessRun(*library, frames, kWidth, kHeight, 4, false);
  ASSERT_EQ(want.size(), written.size() * input.size());
  // All files decoded by one ffmpeg run, in frame order.
  const std::string decoded =
      commandOutput("ffmpeg -v error -start_number 0 -i '" + dir.file("out%05d.tif") +
                    "' -pix_fmt rgba -f rawvideo pipe:1");
  ASSERT_EQ(decoded.size(), want.size());
  const size_t stride = kWidth * 4;
  for (size_t k = 0; k < written.size(); ++k) {
    // Bottom row first in the file.
    std::vector<uint8_t> got(input.size());
    const auto file = decoded.begin() + k * input.size();
    for (int y = 0; y < kHeight; ++y) {
      std::copy_n(file + (kHeight - 1 - y) * stride, stride, got.begin() + y * stride);
    }
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin() + k * input.size()))
        << c.plugin << ": frame " << k + 1 << " of " << written.size();
  }
}

const GemCase kCases[] = {
    {"QelProbe", true},       {"QelParticles1", false}, {"QelParticles2", false},
    {"QelParticles3", false}, {"QelInferno1", false},   {"QelInferno2", false},
    {"QelStains1", false},
};

INSTANTIATE_TEST_SUITE_P(Plugins, GemHost, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<GemCase>& info) {
                           return std::string(info.param.plugin);
                         });

}  // namespace
}  // namespace qeltest
