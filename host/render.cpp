#include "host/render.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "host/builtin_source.h"
#include "host/ffmpeg_io.h"
#include "host/host_error.h"

namespace qelfx {

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

// Exit status of a run stopped by a signal: 128 + SIGINT, as shells report it.
constexpr int kExitInterrupted = 128 + SIGINT;

int chooseBytesPerPixel(const PluginLibrary& library, int requested) {
  const std::string& name = library.identity().name;
  if (requested != 0) {
    if (!library.supportsBytesPerPixel(requested)) {
      throw HostError(name + " does not take " + std::to_string(requested * 8) + "-bit frames");
    }
    return requested;
  }
  if (library.supportsBytesPerPixel(4)) return 4;
  if (library.supportsBytesPerPixel(3)) return 3;
  throw HostError(name + " takes neither 24-bit nor 32-bit frames");
}

void checkSize(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
      static_cast<long>(width) * height > kMaxPixels) {
    throw usageError("frame size " + std::to_string(width) + "x" + std::to_string(height) +
                     " is outside 1x1 .. 32767x32767 and 67108864 pixels");
  }
}

}  // namespace

void requestStop() {
  gStopRequested = 1;
}

InputClip openInput(const std::string& input, int width, int height, int bytesPerPixel,
                    long frames) {
  InputClip clip;
  if (input.empty()) {
    clip.width = width > 0 ? width : kBuiltInWidth;
    clip.height = height > 0 ? height : kBuiltInHeight;
    clip.rate = kBuiltInRate;
    clip.frames = frames >= 0 ? frames : kBuiltInFrames;
    clip.expected = clip.frames;
    checkSize(clip.width, clip.height);
    clip.source = openBuiltInSource(clip.width, clip.height, bytesPerPixel, clip.frames);
    return clip;
  }
  const VideoProbe probe = probeVideo(input);
  clip.width = width > 0 ? width : probe.width;
  clip.height = height > 0 ? height : probe.height;
  clip.rate = probe.rate;
  clip.frames = frames;
  clip.expected = frames >= 0 ? frames : probe.frames;
  checkSize(clip.width, clip.height);
  clip.source =
      openVideoSource(input, clip.width, clip.height, bytesPerPixel, frames, clip.expected);
  return clip;
}

void processClip(const PluginLibrary& library, InputClip& clip, int bytesPerPixel, bool copy,
                 const std::vector<ParameterSetting>& settings,
                 const std::function<void(long, const uint8_t*)>& deliver, Progress& progress) {
  if (copy && !library.supportsCopy()) {
    throw HostError(library.identity().name + " does not process in copy mode");
  }
  const long rampFrames = clip.frames >= 0 ? clip.frames : clip.expected;
  for (const ParameterSetting& setting : settings) {
    if (setting.ramp && rampFrames < 0) {
      throw usageError("a ramp needs the number of frames: give --frames");
    }
  }
  PluginInstance instance(library, clip.width, clip.height, bytesPerPixel);
  for (const ParameterSetting& setting : settings) {
    instance.setParameter(setting.index, settingValue(setting, 0, rampFrames));
  }
  const size_t bytes = instance.frameBytes();
  std::vector<uint8_t> input(bytes);
  std::vector<uint8_t> work(bytes);  // the in-place frame, or the copy-mode output frame
  long done = 0;
  bool sourceEnded = false;
  while (clip.frames < 0 || done < clip.frames) {
    if (gStopRequested) throw HostError("interrupted", kExitInterrupted);
    if (!sourceEnded && !clip.source->read(input.data())) {
      sourceEnded = true;
      if (done == 0) throw HostError("the input has no frames");
      if (clip.frames < 0) break;
    }
    for (const ParameterSetting& setting : settings) {
      // Past the expected end (a container that undercounts) a ramp stays at its end value.
      if (setting.ramp) {
        instance.setParameter(setting.index,
                              settingValue(setting, std::min(done, rampFrames - 1), rampFrames));
      }
    }
    bool processed;
    if (copy) {
      processed = instance.processCopy(input.data(), work.data());
    } else {
      std::memcpy(work.data(), input.data(), bytes);
      processed = instance.processInPlace(work.data());
    }
    if (!processed) {
      throw HostError(library.identity().name + " failed on frame " + std::to_string(done + 1));
    }
    deliver(done, work.data());
    ++done;
    progress.update(done);
  }
  progress.finish();
}

void runRender(const RenderJob& job) {
  const PluginLibrary library(job.plugin);
  if (!library.isEffect()) {
    throw HostError(job.plugin + " is a FreeFrame source, not an effect: it takes no input");
  }
  const std::vector<ParameterSetting> settings = parseSettings(job.settings, library);
  const int bytesPerPixel = chooseBytesPerPixel(library, job.bytesPerPixel);
  if (job.copy && !library.supportsCopy()) {
    throw HostError(library.identity().name + " does not process in copy mode");
  }
  InputClip clip = openInput(job.input, job.width, job.height, bytesPerPixel, job.frames);

  std::unique_ptr<FrameSink> sink;
  switch (outputKind(job.output)) {
    case OutputKind::kRawStdout:
      sink = makeRawStdoutSink(clip.width, clip.height, bytesPerPixel);
      break;
    case OutputKind::kPngSequence:
      sink = makePngSequenceSink(job.output, clip.width, clip.height, bytesPerPixel);
      break;
    case OutputKind::kPngStill:
      sink = makePngStillSink(job.output, clip.width, clip.height, bytesPerPixel);
      break;
    case OutputKind::kVideo:
      sink = openVideoSink(job.output, clip.width, clip.height, bytesPerPixel, clip.rate);
      break;
  }
  Progress progress(library.identity().name, clip.expected, isatty(STDERR_FILENO) != 0);
  processClip(
      library, clip, bytesPerPixel, job.copy, settings,
      [&](long, const uint8_t* frame) { sink->write(frame); }, progress);
  sink->finish();
}

}  // namespace qelfx
