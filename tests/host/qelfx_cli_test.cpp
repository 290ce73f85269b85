// The qelfx command-line contract: each subcommand's main path, each class of bad input
// with its message and exit status, and byte equality between qelfx and the test harness
// for the same input bytes and frame count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/builtin_source.h"
#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"
#include "tests/host/qelfx_runner.h"

namespace qeltest {
namespace {

const std::string kProbeDir = QEL_PROBE_DIR;
const std::string kProbePath = kProbeDir + "/QelProbe" QEL_PLUGIN_SUFFIX;
const std::string kMedia = QEL_MEDIA_DIR "/vtest.avi";

bool haveFfmpeg() {
  return std::system("ffmpeg -version > /dev/null 2>&1") == 0;
}

std::vector<std::vector<uint8_t>> builtInFrames(int width, int height, int bytesPerPixel,
                                                int count) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
    qelfx::renderBuiltInFrame(frame.data(), width, height, bytesPerPixel, i);
    frames.push_back(frame);
  }
  return frames;
}

std::vector<uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

float headerFloat(const std::string& frame, size_t offset) {
  float value;
  std::memcpy(&value, frame.data() + offset, 4);
  return value;
}

uint32_t headerUInt(const std::string& frame, size_t offset) {
  uint32_t value;
  std::memcpy(&value, frame.data() + offset, 4);
  return value;
}

// ---------------------------------------------------------------- list and info

TEST(QelfxList, DefaultFoldersListEveryDeliverableWithIdAndVersion) {
  ScratchDir dir;
  const QelfxRun run = runQelfx({"list"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : kDeliverableNames) {
    const PluginLibrary library(name);
    const std::string id(library.info()->PluginUniqueID, 4);
    char version[32];
    std::snprintf(version, sizeof version, "%u.%03u", library.extendedInfo()->PluginMajorVersion,
                  library.extendedInfo()->PluginMinorVersion);
    // One line per plug-in: ID, name, version and description in that order.
    const size_t at = run.out.find(id + "  " + name + " ");
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string line = run.out.substr(at, run.out.find('\n', at) - at);
    const size_t versionAt = line.find(std::string(" ") + version + " ");
    ASSERT_NE(versionAt, std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - std::strlen(library.extendedInfo()->Description)),
              library.extendedInfo()->Description);
    EXPECT_LT(versionAt, line.size() - std::strlen(library.extendedInfo()->Description));
  }
  EXPECT_EQ(run.out.find("QelProbe"), std::string::npos) << "only the build's plug-ins";
}

TEST(QelfxList, GivenFolderListsItsPluginsAndSkipsOtherFiles) {
  ScratchDir dir;
  writeFile(dir.file("Broken.so"), "not a library");
  const QelfxRun run = runQelfx({"list", kProbeDir, dir.path()}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("qprb  QelProbe          1.002     Shows what the host did"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("QelInferno1"), std::string::npos);
  EXPECT_NE(run.err.find("skipped " + dir.file("Broken.so") + " is not a plug-in library"),
            std::string::npos)
      << run.err;
}

TEST(QelfxList, FolderWithoutPluginsFails) {
  ScratchDir dir;
  const QelfxRun run = runQelfx({"list", dir.path()}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no FreeFrame plug-ins in " + dir.path()), std::string::npos) << run.err;
}

TEST(QelfxInfo, ShowsIdentityCapabilitiesAndEveryParameter) {
  ScratchDir dir;
  const QelfxRun run = runQelfx({"info", kProbePath}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* want :
       {"QelProbe\n", "  id            qprb\n", "  version       1.002\n",
        "  description   Shows what the host did\n",
        "  about         QelProbe - host test plug-in\n", "  24-bit frames     yes\n",
        "  16-bit frames     no\n", "  copy mode         yes\n", "  preferred mode    either\n",
        "parameters (2)\n",
        // index, name, default, and the display text the plug-in gives
        "  0      Gain              0.5        gain\n",
        "  1      Offset            0.25       offset\n"}) {
    EXPECT_NE(run.out.find(want), std::string::npos) << "missing: " << want << run.out;
  }
}

TEST(QelfxInfo, ListsEveryParameterOfEachDeliverable) {
  ScratchDir dir;
  for (const char* name : kDeliverableNames) {
    const PluginLibrary library(name);
    const QelfxRun run = runQelfx({"info", name}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("parameters (" + std::to_string(library.numParameters()) + ")"),
              std::string::npos);
    for (uint32_t i = 0; i < library.numParameters(); ++i) {
      const std::string parameterName = library.parameterName(i);
      char display[32];
      std::snprintf(display, sizeof display, "%f", library.parameterDefault(i));
      const std::string row = "  " + std::to_string(i) +
                              std::string(7 - std::to_string(i).size(), ' ') +
                              (parameterName.empty() ? "(unnamed)" : parameterName);
      const size_t at = run.out.find(row);
      ASSERT_NE(at, std::string::npos) << name << " parameter " << i << "\n" << run.out;
      const std::string line = run.out.substr(at, run.out.find('\n', at) - at);
      EXPECT_NE(line.find(display), std::string::npos) << line;
    }
  }
}

// ---------------------------------------------------------------- bad input

struct BadInput {
  const char* what;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  int status;
  const char* message;  // expected in standard error ("@" likewise)
  bool withoutFfmpeg = false;
};

std::string fillIn(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir);
  return text;
}

class QelfxBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(QelfxBadInput, FailsWithOneLineAndLeavesNothingBehind) {
  const BadInput& c = GetParam();
  if (!c.withoutFfmpeg && !haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScratchDir dir;
  writeFile(dir.file("notes.txt"), "this is text, not a picture\n");
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(fillIn(arg, dir.path()));
  const QelfxRun run = runQelfx(args, dir.path(), c.withoutFfmpeg ? "/nonexistent" : "");
  EXPECT_EQ(run.status, c.status) << run.err;
  const std::string firstLine = run.err.substr(0, run.err.find('\n'));
  EXPECT_EQ(firstLine.rfind("qelfx: ", 0), 0u) << run.err;
  EXPECT_NE(firstLine.find(fillIn(c.message, dir.path())), std::string::npos) << run.err;
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"notes.txt"}) << "files left behind";
}

const BadInput kBadInputs[] = {
    {"unknown plug-in",
     {"render", "NoSuchPlugin", "-o", "out.mp4"},
     1,
     "unknown plug-in NoSuchPlugin (looked in "},
    {"missing plug-in file",
     {"info", "@/gone.so"},
     1,
     "cannot open plug-in @/gone.so: No such file or directory"},
    {"file that is not a plug-in",
     {"info", "@/notes.txt"},
     1,
     "@/notes.txt is not a plug-in library"},
    {"library without plugMain",
     {"render", QEL_NOT_A_PLUGIN, "-o", "out_%03d.png"},
     1,
     "is not a FreeFrame plug-in: it has no plugMain"},
    {"unknown parameter",
     {"render", kProbePath, "--set", "Volume=0.5", "-o", "out.png"},
     2,
     "QelProbe has no parameter \"Volume\""},
    {"parameter index past the end",
     {"render", kProbePath, "--set", "2=0.5", "-o", "out.png"},
     2,
     "QelProbe has no parameter \"2\""},
    {"value above range",
     {"render", kProbePath, "--set", "Gain=1.5", "-o", "out.png"},
     2,
     "value 1.5 for parameter \"Gain\" of QelProbe is out of range 0..1"},
    {"value below range",
     {"render", kProbePath, "--set", "Offset=-0.1", "-o", "out.png"},
     2,
     "value -0.1 for parameter \"Offset\" of QelProbe is out of range 0..1"},
    {"ramp end out of range",
     {"render", kProbePath, "--set", "Gain=0..2", "-o", "out.png"},
     2,
     "value 2 for parameter \"Gain\" of QelProbe is out of range 0..1"},
    {"value not a number",
     {"render", kProbePath, "--set", "Gain=nan", "-o", "out.png"},
     2,
     "value \"nan\" for parameter \"Gain\" is not a number"},
    {"missing input",
     {"render", kProbePath, "-i", "gone.avi", "-o", "out.mp4"},
     1,
     "cannot read input gone.avi: No such file or directory"},
    {"input that is not video",
     {"render", kProbePath, "-i", "notes.txt", "-o", "out.mp4"},
     1,
     "cannot read input notes.txt: "},
    {"ffmpeg missing for input",
     {"render", kProbePath, "-i", "notes.txt", "-o", "out.png"},
     1,
     "is not installed; it reads and writes video (Debian package ffmpeg)",
     true},
    {"ffmpeg missing for video output",
     {"render", kProbePath, "-o", "out.mp4"},
     1,
     "ffmpeg is not installed; it reads and writes video (Debian package ffmpeg)",
     true},
    {"output folder missing",
     {"render", kProbePath, "-o", "@/no/out.mp4"},
     1,
     "cannot write @/no/out.mp4: No such file or directory"},
    {"output sequence folder missing",
     {"render", kProbePath, "-o", "@/no/out_%04d.png"},
     1,
     "cannot write @/no/out_0001.png: No such file or directory"},
    {"output is a folder", {"render", kProbePath, "-o", "@"}, 1, "cannot write @: it is a folder"},
    {"output format FFmpeg does not know",
     {"render", kProbePath, "-o", "out.notaformat"},
     1,
     "ffmpeg cannot write out.notaformat: "},
    {"output pattern with another conversion",
     {"render", kProbePath, "-o", "out_%s.png"},
     2,
     "only %d or %0Nd may stand in an output pattern"},
    {"no output", {"render", kProbePath}, 2, "render needs -o OUTPUT"},
    {"bad size",
     {"render", kProbePath, "--size", "0x10", "-o", "out.png"},
     2,
     "--size width takes a whole number from 1 to 32767, not \"0\""},
    {"too many pixels",
     {"render", kProbePath, "--size", "32767x32767", "-o", "out.png"},
     2,
     "frame size 32767x32767 is outside"},
    {"bad depth",
     {"render", kProbePath, "--depth", "16", "-o", "out.png"},
     2,
     "--depth takes 24 or 32"},
    {"unknown option",
     {"render", kProbePath, "--fast", "-o", "out.png"},
     2,
     "unknown option --fast for render"},
    {"unknown command", {"play"}, 2, "unknown command play"},
    {"gallery into a video", {"gallery", "-o", "gallery.mp4"}, 2,
     "the gallery is one PNG image: -o NAME.png, not gallery.mp4"},
    {"gallery without plug-ins",
     {"gallery", "@", "-o", "gallery.png"},
     1,
     "no plug-ins found for the gallery"},
    {"gallery over unreadable input",
     {"gallery", "-i", "notes.txt", "-o", "gallery.png"},
     1,
     "cannot read input notes.txt: "},
};

INSTANTIATE_TEST_SUITE_P(Cases, QelfxBadInput, testing::ValuesIn(kBadInputs),
                         [](const testing::TestParamInfo<BadInput>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

TEST(QelfxBadInput, PluginFailingInMidClipLeavesNoOutput) {
  // The probe fails from its third frame on when Offset is 1: the two frames already
  // written must not stay behind as if the render had been complete.
  ScratchDir dir;
  std::vector<std::string> outputs = {"seq_%03d.png", "still.png", "-"};
  if (haveFfmpeg()) outputs.push_back("clip.mkv");
  for (const std::string& output : outputs) {
    const QelfxRun run = runQelfx({"render", kProbePath, "--size", "16x8", "--frames", "5", "--set",
                                   "Offset=1", "-o", output},
                                  dir.path());
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_EQ(run.err, "qelfx: QelProbe failed on frame 3\n") << output;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{}) << output;
    if (output == "-") {
      EXPECT_EQ(run.out.size(), 2u * 16 * 8 * 4) << "raw frames are passed on as they come";
    }
  }
}

// ---------------------------------------------------------------- rendering

TEST(QelfxRender, RampsAndSettingsReachThePluginFrameByFrame) {
  ScratchDir dir;
  const QelfxRun run = runQelfx({"render", kProbePath, "--size", "8x4", "--frames", "5", "--set",
                                 "gain=0..1", "--set", "1=0.3", "-o", "-"},
                                dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "quiet when standard error is not a terminal";
  const size_t frameBytes = 8 * 4 * 4;
  ASSERT_EQ(run.out.size(), 5 * frameBytes);
  const float wantGain[5] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
  for (int i = 0; i < 5; ++i) {
    const std::string frame = run.out.substr(i * frameBytes, frameBytes);
    EXPECT_EQ(headerFloat(frame, 0), wantGain[i]) << "frame " << i;
    EXPECT_EQ(headerFloat(frame, 4), 0.3f) << "frame " << i;
    EXPECT_EQ(headerUInt(frame, 8), static_cast<uint32_t>(i)) << "one instance, every frame";
    EXPECT_EQ(frame[12], 0) << "in place by default";
    EXPECT_EQ(frame[13], 1) << "first row is the top";
    EXPECT_EQ(frame[14], 4) << "32-bit by default";
  }
}

struct ModeCase {
  std::vector<std::string> options;
  int bytesPerPixel;
  bool copy;
};

TEST(QelfxRender, DepthAndCopyModeOptions) {
  const ModeCase cases[] = {
      {{}, 4, false},
      {{"--depth", "24"}, 3, false},
      {{"--copy"}, 4, true},
      {{"--depth=24", "--copy"}, 3, true},
  };
  ScratchDir dir;
  for (const ModeCase& c : cases) {
    std::vector<std::string> args = {"render",   kProbePath, "--size", "5x3",
                                     "--frames", "2",        "-o",     "-"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const QelfxRun run = runQelfx(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t frameBytes = 5 * 3 * c.bytesPerPixel;
    ASSERT_EQ(run.out.size(), 2 * frameBytes);
    EXPECT_EQ(run.out[12], c.copy ? 1 : 0);
    EXPECT_EQ(run.out[14], c.bytesPerPixel);
    const auto frames = builtInFrames(5, 3, c.bytesPerPixel, 2);
    const auto probe = loadPluginFrom(kProbeDir, "QelProbe");
    EXPECT_EQ(bytesOf(run.out), harnessRun(*probe, frames, 5, 3, c.bytesPerPixel, c.copy));
  }
}

// qelfx and the harness give the same bytes for the built-in picture, for every
// deliverable, both depths and both modes.
class QelfxMatchesHarness : public testing::TestWithParam<const char*> {};

TEST_P(QelfxMatchesHarness, OverTheBuiltInPicture) {
  constexpr int kWidth = 40, kHeight = 24, kFrames = 4;
  ScratchDir dir;
  const PluginLibrary library(GetParam());
  for (int bytesPerPixel : {3, 4}) {
    for (bool copy : {false, true}) {
      std::vector<std::string> args = {
          "render",   GetParam(), "--size",  "40x24",
          "--frames", "4",        "--depth", bytesPerPixel == 4 ? "32" : "24",
          "-o",       "-"};
      if (copy) args.push_back("--copy");
      const QelfxRun run = runQelfx(args, dir.path());
      ASSERT_EQ(run.status, 0) << run.err;
      const auto want = harnessRun(library, builtInFrames(kWidth, kHeight, bytesPerPixel, kFrames),
                                   kWidth, kHeight, bytesPerPixel, copy);
      ASSERT_FALSE(want.empty());
      EXPECT_TRUE(bytesOf(run.out) == want)
          << GetParam() << " " << bytesPerPixel * 8 << "-bit" << (copy ? " copy" : "");
    }
  }
}

TEST_P(QelfxMatchesHarness, OverTheSharedClipWithTwoThreads) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  if (access(kMedia.c_str(), R_OK) != 0) GTEST_SKIP() << kMedia << " is missing";
  ScratchDir dir;
  // The decode qelfx promises: the first video stream, scaled with bicubic filtering, BGRA.
  const std::string decoded = commandOutput(
      "ffmpeg -nostdin -v error -i '" + kMedia +
      "' -map 0:v:0 -an -sn -fps_mode passthrough -vf scale=48:36:flags=bicubic -pix_fmt bgra "
      "-frames:v 5 -f rawvideo pipe:1");
  const size_t frameBytes = 48 * 36 * 4;
  ASSERT_EQ(decoded.size(), 5 * frameBytes);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 5; ++i) {
    frames.emplace_back(decoded.begin() + i * frameBytes, decoded.begin() + (i + 1) * frameBytes);
  }
  const QelfxRun run = runQelfx({"render", GetParam(), "-i", kMedia, "--size", "48x36", "--frames",
                                 "5", "--threads", "2", "-o", "-"},
                                dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const PluginLibrary library(GetParam());
  EXPECT_TRUE(bytesOf(run.out) == harnessRun(library, frames, 48, 36, 4, false)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Deliverables, QelfxMatchesHarness, testing::ValuesIn(kDeliverableNames),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

TEST(QelfxRender, LosslessClipReachesThePluginByteForByte) {
  // Known frames stored losslessly (FFV1, BGRA) must reach the plug-in unchanged at the
  // clip's own size; a still image is held for every requested frame.
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScratchDir dir;
  constexpr int kWidth = 30, kHeight = 20, kFrames = 3;
  std::string raw;
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kFrames; ++i) {
    frames.push_back(testFrame(kWidth, kHeight, 4, i));
    raw.append(frames.back().begin(), frames.back().end());
  }
  writeFile(dir.file("frames.raw"), raw);
  ASSERT_EQ(std::system(("cd '" + dir.path() +
                         "' && ffmpeg -v error -f rawvideo -pix_fmt bgra -s 30x20 -i frames.raw "
                         "-c:v ffv1 clip.mkv && ffmpeg -v error -f rawvideo -pix_fmt bgra -s "
                         "30x20 -i frames.raw -frames:v 1 still.png")
                            .c_str()),
            0);
  const auto probe = loadPluginFrom(kProbeDir, "QelProbe");

  QelfxRun run = runQelfx({"render", kProbePath, "-i", "clip.mkv", "-o", "-"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(bytesOf(run.out) == harnessRun(*probe, frames, kWidth, kHeight, 4, false));

  run = runQelfx({"render", kProbePath, "-i", "still.png", "--frames", "4", "-o", "-"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::vector<uint8_t>> held(4, frames[0]);
  EXPECT_TRUE(bytesOf(run.out) == harnessRun(*probe, held, kWidth, kHeight, 4, false));
}

TEST(QelfxRender, VideoPngSequenceAndStillHoldTheRenderedFrames) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScratchDir dir;
  const std::vector<std::string> common = {"render",   "QelInferno1", "--size",  "32x18",
                                           "--frames", "3",           "--depth", "24"};
  auto withOutput = [&](const std::string& output) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-o", output});
    return runQelfx(args, dir.path());
  };
  const QelfxRun raw = withOutput("-");
  ASSERT_EQ(raw.status, 0) << raw.err;
  ASSERT_EQ(withOutput("seq_%02d.png").status, 0);
  ASSERT_EQ(withOutput("still.png").status, 0);
  ASSERT_EQ(withOutput("clip.mkv").status, 0);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clip.mkv", "seq_01.png", "seq_02.png",
                                                     "seq_03.png", "still.png"}));
  // PNG is lossless: decoded back to BGR, the files hold the raw frames.
  const size_t frameBytes = 32 * 18 * 3;
  for (int i = 0; i < 3; ++i) {
    const std::string png =
        commandOutput("ffmpeg -v error -i '" + dir.file("seq_0" + std::to_string(i + 1) + ".png") +
                      "' -pix_fmt bgr24 -f rawvideo pipe:1");
    EXPECT_TRUE(png == raw.out.substr(i * frameBytes, frameBytes)) << "frame " << i + 1;
  }
  EXPECT_TRUE(commandOutput("ffmpeg -v error -i '" + dir.file("still.png") +
                            "' -pix_fmt bgr24 -f rawvideo pipe:1") ==
              raw.out.substr(2 * frameBytes))
      << "a single PNG holds the last frame";
  EXPECT_EQ(commandOutput("ffprobe -v error -count_frames -show_entries "
                          "stream=width,height,nb_read_frames -of csv=p=0 '" +
                          dir.file("clip.mkv") + "'"),
            "32,18,3\n");
}

TEST(QelfxRender, ProgressLineOnATerminal) {
  if (std::system("script --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  ScratchDir dir;
  const QelfxRun run =
      runQelfx({"render", kProbePath, "--size", "16x16", "--frames", "30", "-o", "f_%02d.png"},
               dir.path(), "", true);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("QelProbe: 30/30 frames, "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" fps, 0:00 left"), std::string::npos) << run.err;
}

// ---------------------------------------------------------------- the built-in picture

TEST(QelfxBuiltInPicture, IsTheSameEverywhereAndHasWhatEffectsNeed) {
  // Pinned from the program's own output: integer-only drawing must give these bytes on
  // every machine and compiler.
  struct Pinned {
    int width, height, frame;
    uint32_t crc;
  };
  const Pinned pinned[] = {
      {640, 360, 0, 0xC4DF60FDu},
      {640, 360, 99, 0xE668C520u},
      {33, 17, 5, 0xB3EA9988u},
  };
  for (const Pinned& p : pinned) {
    std::vector<uint8_t> frame(static_cast<size_t>(p.width) * p.height * 3);
    qelfx::renderBuiltInFrame(frame.data(), p.width, p.height, 3, p.frame);
    EXPECT_EQ(crc32(frame.data(), frame.size()), p.crc) << p.width << "x" << p.height;
  }
  // Motion, bright areas, mid-grey areas, saturated colour, opaque alpha.
  const auto frames = builtInFrames(160, 90, 4, 2);
  EXPECT_NE(frames[0], frames[1]);
  int bright = 0, quarter = 0, saturated = 0, opaque = 0;
  for (size_t i = 0; i < frames[0].size(); i += 4) {
    const int b = frames[0][i], g = frames[0][i + 1], r = frames[0][i + 2];
    const int brightness = (b + g + r) / 3;
    bright += brightness >= 230;
    quarter += brightness >= 50 && brightness <= 80;
    saturated += std::max({b, g, r}) - std::min({b, g, r}) >= 180;
    opaque += frames[0][i + 3] == 255;
  }
  const int pixels = 160 * 90;
  EXPECT_GT(bright, pixels / 100);
  EXPECT_GT(quarter, pixels / 20);
  EXPECT_GT(saturated, pixels / 20);
  EXPECT_EQ(opaque, pixels);
}

// ---------------------------------------------------------------- gallery

TEST(QelfxGallery, OneRowPerPluginBelowTheInputRow) {
  ScratchDir dir;
  const std::string probeOnly = dir.path() + "/../one";
  const std::string probeTwice = dir.path() + "/../two";
  ASSERT_EQ(
      std::system(("mkdir -p '" + probeOnly + "' '" + probeTwice + "' && cp '" + kProbePath +
                   "' '" + probeOnly + "/' && cp '" + kProbePath + "' '" + probeTwice +
                   "/QelProbeA.so' && cp '" + kProbePath + "' '" + probeTwice + "/QelProbeB.so'")
                      .c_str()),
      0);
  const std::vector<std::string> common = {"gallery", "--size",    "24x16", "--frames",
                                           "6",       "--columns", "3"};
  auto gallery = [&](const std::string& plugins, const std::string& output) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {plugins, "-o", output});
    return runQelfx(args, dir.path());
  };
  ASSERT_EQ(gallery(probeOnly, "one.png").status, 0);
  ASSERT_EQ(gallery(probeTwice, "two.png").status, 0);
  auto size = [&](const std::string& file) {
    return commandOutput("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" +
                         dir.file(file) + "'");
  };
  if (!haveFfmpeg()) GTEST_SKIP() << "ffprobe is needed to read the sheets back";
  int width1 = 0, height1 = 0, width2 = 0, height2 = 0;
  ASSERT_EQ(std::sscanf(size("one.png").c_str(), "%d,%d", &width1, &height1), 2);
  ASSERT_EQ(std::sscanf(size("two.png").c_str(), "%d,%d", &width2, &height2), 2);
  EXPECT_EQ(width1, width2) << "both have three columns";
  EXPECT_GT(width1, 3 * 24);
  EXPECT_GE(height2 - height1, 16) << "one more tile row";
  EXPECT_LT(height2 - height1, 2 * 16);
}

}  // namespace
}  // namespace qeltest
