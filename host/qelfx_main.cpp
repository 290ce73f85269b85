// qelfx: a command-line FreeFrame 1.0 host. It lists and describes plug-ins, renders a
// plug-in over a video, an image or its built-in picture, and composes a gallery of
// every plug-in found.
#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/frame_io.h"
#include "host/gallery.h"
#include "host/host_error.h"
#include "host/plugin_library.h"
#include "host/render.h"

namespace qelfx {
namespace {

const char kUsage[] =
    "usage: qelfx list [DIR...]\n"
    "       qelfx info PLUGIN\n"
    "       qelfx render PLUGIN [-i INPUT] -o OUTPUT [--size WxH] [--depth 24|32]\n"
    "                    [--frames N] [--copy] [--set NAME=VALUE]... [--set NAME=A..B]...\n"
    "                    [--threads N]\n"
    "       qelfx gallery [-i INPUT] -o OUTPUT.png [--size WxH] [--frames N] [--columns N]\n"
    "                    [--threads N] [DIR...]\n"
    "\n"
    "PLUGIN is a plug-in name (looked for next to qelfx and in the build's plug-in folder)\n"
    "or the path of a plug-in library. Without -i the built-in animated picture is used.\n"
    "OUTPUT is a video file (format from its extension: .mp4, .mkv, .gif, ...), a PNG\n"
    "sequence such as out_%04d.png, one PNG (the last frame), or - for raw frames on\n"
    "standard output (packed BGR or BGRA, top row first).\n";

// A command line read option by option: "--name value" and "--name=value" alike.
class Arguments {
 public:
  Arguments(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}
  bool done() const { return next_ >= args_.size(); }
  std::string take() { return args_[next_++]; }
  // The value of option `name` whose text was just taken as `arg`.
  std::string value(const std::string& name, const std::string& arg) {
    const size_t equals = arg.find('=');
    if (equals != std::string::npos) return arg.substr(equals + 1);
    if (done()) throw usageError("option " + name + " needs a value");
    return take();
  }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
};

// The option name of `arg` without an "=value" part.
std::string optionName(const std::string& arg) {
  if (arg.rfind("--", 0) != 0) return arg;
  return arg.substr(0, arg.find('='));
}

long parseCount(const std::string& text, const std::string& option, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long value = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    throw usageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

void parseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) throw usageError("--size takes WxH, not \"" + text + "\"");
  width = static_cast<int>(parseCount(text.substr(0, x), "--size width", 1, kMaxSide));
  height = static_cast<int>(parseCount(text.substr(x + 1), "--size height", 1, kMaxSide));
}

void setThreads(const std::string& text) {
  const long threads = parseCount(text, "--threads", 1, 1024);
  // Read by the plug-ins' OpenMP runtime when the first plug-in is loaded.
  setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);
}

std::string versionText(const PluginIdentity& identity) {
  if (!identity.hasExtendedInfo) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%u.%03u", identity.versionMajor, identity.versionMinor);
  return text;
}

int commandList(Arguments& args) {
  std::vector<std::string> dirs;
  while (!args.done()) {
    const std::string arg = args.take();
    if (arg.rfind("-", 0) == 0) throw usageError("unknown option " + arg + " for list");
    DIR* listing = opendir(arg.c_str());
    if (!listing) throw HostError("cannot read folder " + arg + ": " + std::strerror(errno));
    closedir(listing);
    dirs.push_back(arg);
  }
  const bool explicitDirs = !dirs.empty();
  if (!explicitDirs) dirs = defaultPluginDirs();
  std::printf("%-4s  %-16s  %-8s  %s\n", "ID", "NAME", "VERSION", "DESCRIPTION");
  int found = 0;
  for (const std::string& dir : dirs) {
    for (const std::string& path : pluginFilesIn(dir)) {
      try {
        const PluginLibrary library(path);
        const PluginIdentity& identity = library.identity();
        std::printf("%-4s  %-16s  %-8s  %s\n", identity.uniqueId.c_str(), identity.name.c_str(),
                    versionText(identity).c_str(), identity.description.c_str());
        ++found;
      } catch (const HostError& error) {
        if (explicitDirs) std::fprintf(stderr, "qelfx: skipped %s\n", error.what());
      }
    }
  }
  if (found == 0) {
    std::string where;
    for (const std::string& dir : dirs) where += (where.empty() ? "" : ", ") + dir;
    throw HostError("no FreeFrame plug-ins in " + where);
  }
  return 0;
}

const char* capabilityAnswer(uint32_t value) {
  return value != 0 && value != FF_FAIL ? "yes" : "no";
}

int commandInfo(Arguments& args) {
  if (args.done()) throw usageError("info needs a PLUGIN");
  const std::string given = args.take();
  if (!args.done()) throw usageError("info takes one PLUGIN, not \"" + args.take() + "\"");
  const PluginLibrary library(resolvePlugin(given, defaultPluginDirs()));
  const PluginIdentity& identity = library.identity();
  std::printf("%s\n", identity.name.c_str());
  std::printf("  file          %s\n", library.path().c_str());
  std::printf("  id            %s\n", identity.uniqueId.c_str());
  std::printf("  type          %s\n", identity.type == FF_EFFECT ? "effect" : "source");
  std::printf("  FreeFrame     %u.%u\n", identity.apiMajor, identity.apiMinor);
  std::printf("  version       %s\n", versionText(identity).c_str());
  std::printf("  description   %s\n", identity.description.c_str());
  std::printf("  about         %s\n", identity.about.c_str());
  std::printf("capabilities\n");
  std::printf("  16-bit frames     %s\n", capabilityAnswer(library.capability(kCap16Bit)));
  std::printf("  24-bit frames     %s\n", capabilityAnswer(library.capability(kCap24Bit)));
  std::printf("  32-bit frames     %s\n", capabilityAnswer(library.capability(kCap32Bit)));
  std::printf("  copy mode         %s\n",
              capabilityAnswer(library.capability(kCapProcessFrameCopy)));
  std::printf("  input frames      %u to %u\n", library.capability(kCapMinimumInputFrames),
              library.capability(kCapMaximumInputFrames));
  const uint32_t preference = library.capability(kCapCopyOrInPlace);
  const char* preferenceText = preference == 1   ? "in place"
                               : preference == 2 ? "copy"
                               : preference == 3 ? "either"
                                                 : "none";
  std::printf("  preferred mode    %s\n", preferenceText);

  // Display texts come from an instance; a small one at the first depth it takes.
  std::unique_ptr<PluginInstance> instance;
  for (int bytesPerPixel : {4, 3}) {
    if (instance || !library.supportsBytesPerPixel(bytesPerPixel)) continue;
    try {
      instance = std::make_unique<PluginInstance>(library, 64, 64, bytesPerPixel);
    } catch (const HostError&) {
    }
  }
  std::printf("parameters (%zu)\n", library.parameters().size());
  std::printf("  %-5s  %-16s  %-9s  %s\n", "index", "name", "default", "display");
  for (const ParameterInfo& parameter : library.parameters()) {
    const std::string display = instance ? instance->display(parameter.index) : "-";
    std::printf("  %-5u  %-16s  %-9g  %s\n", parameter.index,
                parameter.name.empty() ? "(unnamed)" : parameter.name.c_str(),
                static_cast<double>(parameter.defaultValue), display.c_str());
  }
  return 0;
}

int commandRender(Arguments& args) {
  RenderJob job;
  std::string plugin;
  while (!args.done()) {
    const std::string arg = args.take();
    const std::string name = optionName(arg);
    if (name == "-i") {
      job.input = args.value(name, name);
      if (job.input.empty()) throw usageError("-i needs an input");
    } else if (name == "-o") {
      job.output = args.value(name, name);
    } else if (name == "--size") {
      parseSize(args.value(name, arg), job.width, job.height);
    } else if (name == "--depth") {
      const std::string depth = args.value(name, arg);
      if (depth != "24" && depth != "32") throw usageError("--depth takes 24 or 32");
      job.bytesPerPixel = depth == "32" ? 4 : 3;
    } else if (name == "--frames") {
      job.frames = parseCount(args.value(name, arg), "--frames", 1, 1000000000);
    } else if (name == "--copy") {
      job.copy = true;
    } else if (name == "--set") {
      job.settings.push_back(args.value(name, arg));
    } else if (name == "--threads") {
      setThreads(args.value(name, arg));
    } else if (arg.rfind("-", 0) == 0) {
      throw usageError("unknown option " + arg + " for render");
    } else if (plugin.empty()) {
      plugin = arg;
    } else {
      throw usageError("render takes one PLUGIN, not also \"" + arg + "\"");
    }
  }
  if (plugin.empty()) throw usageError("render needs a PLUGIN");
  if (job.output.empty()) throw usageError("render needs -o OUTPUT");
  job.plugin = resolvePlugin(plugin, defaultPluginDirs());
  runRender(job);
  return 0;
}

int commandGallery(Arguments& args) {
  GalleryJob job;
  while (!args.done()) {
    const std::string arg = args.take();
    const std::string name = optionName(arg);
    if (name == "-i") {
      job.input = args.value(name, name);
      if (job.input.empty()) throw usageError("-i needs an input");
    } else if (name == "-o") {
      job.output = args.value(name, name);
    } else if (name == "--size") {
      parseSize(args.value(name, arg), job.tileWidth, job.tileHeight);
    } else if (name == "--frames") {
      job.frames = parseCount(args.value(name, arg), "--frames", 1, 100000);
    } else if (name == "--columns") {
      job.columns = static_cast<int>(parseCount(args.value(name, arg), "--columns", 1, 16));
    } else if (name == "--threads") {
      setThreads(args.value(name, arg));
    } else if (arg.rfind("-", 0) == 0) {
      throw usageError("unknown option " + arg + " for gallery");
    } else {
      DIR* listing = opendir(arg.c_str());
      if (!listing) throw HostError("cannot read folder " + arg + ": " + std::strerror(errno));
      closedir(listing);
      job.dirs.push_back(arg);
    }
  }
  if (job.output.empty()) throw usageError("gallery needs -o OUTPUT.png");
  if (outputKind(job.output) != OutputKind::kPngStill) {
    throw usageError("the gallery is one PNG image: -o NAME.png, not " + job.output);
  }
  if (job.dirs.empty()) job.dirs = defaultPluginDirs();
  runGallery(job);
  return 0;
}

void onStopSignal(int) {
  requestStop();
}

int run(int argc, char** argv) {
  if (argc < 2) throw usageError("no command given (list, info, render or gallery)");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Arguments args(argc, argv, 2);
  if (command == "list") return commandList(args);
  if (command == "info") return commandInfo(args);
  if (command == "render") return commandRender(args);
  if (command == "gallery") return commandGallery(args);
  throw usageError("unknown command " + command + " (list, info, render or gallery)");
}

}  // namespace
}  // namespace qelfx

int main(int argc, char** argv) {
  // A broken pipe (ffmpeg gone, standard output closed) is an error to report, not a
  // signal that ends qelfx with a half-written file.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction stop = {};
  stop.sa_handler = qelfx::onStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  try {
    return qelfx::run(argc, argv);
  } catch (const qelfx::HostError& error) {
    std::fprintf(stderr, "qelfx: %s\n", error.what());
    if (error.status() == qelfx::kExitUsage) std::fprintf(stderr, "(qelfx --help shows usage)\n");
    return error.status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qelfx: %s\n", error.what());
    return qelfx::kExitFailure;
  }
}
