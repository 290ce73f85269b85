// Video in and out through the ffmpeg and ffprobe programs, over pipes of raw frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/frame_io.h"

namespace qelfx {

struct VideoProbe {
  int width = 0;
  int height = 0;
  FrameRate rate;
  long frames = -1;  // -1 when the container does not say
};

// Throws HostError when FFmpeg is not installed.
std::string requireProgram(const std::string& program);

// Size, rate and frame count of the first video stream of `input`; throws HostError when
// the input cannot be read or has no video.
VideoProbe probeVideo(const std::string& input);

// The ffmpeg arguments that decode `input` to packed BGR (3) or BGRA (4) frames of
// width x height on standard output, at most `maxFrames` of them (all when negative).
std::vector<std::string> decodeArguments(const std::string& ffmpeg, const std::string& input,
                                         int width, int height, int bytesPerPixel, long maxFrames);

std::unique_ptr<FrameSource> openVideoSource(const std::string& input, int width, int height,
                                             int bytesPerPixel, long maxFrames, long knownFrames);

// Encodes frames into `output`, its format from its extension.
std::unique_ptr<FrameSink> openVideoSink(const std::string& output, int width, int height,
                                         int bytesPerPixel, FrameRate rate);

}  // namespace qelfx
