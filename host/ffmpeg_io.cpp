#include "host/ffmpeg_io.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "host/child_process.h"
#include "host/host_error.h"

namespace qelfx {

namespace {

std::string lowerCaseExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// Reads exactly `bytes` bytes; false at a clean end before the first byte, HostError on a
// frame cut short.
bool readAll(int fd, uint8_t* data, size_t bytes) {
  size_t done = 0;
  while (done < bytes) {
    const ssize_t got = ::read(fd, data + done, bytes - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw HostError(std::string("cannot read from ffmpeg: ") + std::strerror(errno));
    }
    if (got == 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

class VideoSource : public FrameSource {
 public:
  VideoSource(const std::string& input, std::vector<std::string> arguments, size_t frameBytes,
              long frames)
      : input_(input),
        child_(arguments, ChildProcess::Pipe::kFromChild),
        frameBytes_(frameBytes),
        frames_(frames) {}

  bool read(uint8_t* frame) override {
    if (ended_) return false;
    if (readAll(child_.fd(), frame, frameBytes_)) return true;
    ended_ = true;
    if (!child_.wait()) {
      throw HostError("cannot read input " + input_ + ": " + child_.failureText());
    }
    return false;
  }
  long frameCount() const override { return frames_; }

 private:
  std::string input_;
  ChildProcess child_;
  size_t frameBytes_;
  long frames_;
  bool ended_ = false;
};

class VideoSink : public FrameSink {
 public:
  VideoSink(const std::string& output, const std::string& ffmpeg, int width, int height,
            int bytesPerPixel, FrameRate rate)
      : file_(output), frameBytes_(static_cast<size_t>(width) * height * bytesPerPixel) {
    std::vector<std::string> args = {
        ffmpeg,
        "-nostdin",
        "-v",
        "error",
        "-y",
        "-f",
        "rawvideo",
        "-pix_fmt",
        bytesPerPixel == 4 ? "bgra" : "bgr24",
        "-s",
        std::to_string(width) + "x" + std::to_string(height),
        "-framerate",
        std::to_string(rate.numerator) + "/" + std::to_string(rate.denominator),
        "-i",
        "pipe:0"};
    const std::string extension = lowerCaseExtension(output);
    if (extension == ".mp4" || extension == ".m4v" || extension == ".mov" || extension == ".mkv") {
      // 4:2:0 is what players expect of H.264; it needs even sizes.
      if (width % 2 != 0 || height % 2 != 0) {
        args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
      }
      args.insert(args.end(), {"-pix_fmt", "yuv420p"});
    } else if (extension == ".gif") {
      // One palette made for the whole clip instead of a fixed web palette.
      args.insert(args.end(), {"-vf", "split[a][b];[a]palettegen[p];[b][p]paletteuse"});
    }
    args.push_back(file_.temporaryPath());
    child_ = std::make_unique<ChildProcess>(args, ChildProcess::Pipe::kToChild);
  }

  void write(const uint8_t* frame) override {
    size_t done = 0;
    while (done < frameBytes_) {
      const ssize_t written = ::write(child_->fd(), frame + done, frameBytes_ - done);
      if (written < 0) {
        if (errno == EINTR) continue;
        child_->wait();
        throw HostError("ffmpeg cannot write " + file_.target() + ": " + child_->failureText());
      }
      done += static_cast<size_t>(written);
    }
  }

  void finish() override {
    if (!child_->wait()) {
      throw HostError("ffmpeg cannot write " + file_.target() + ": " + child_->failureText());
    }
    file_.commit();
  }

 private:
  OutputFile file_;
  size_t frameBytes_;
  std::unique_ptr<ChildProcess> child_;
};

}  // namespace

std::string requireProgram(const std::string& program) {
  const std::string path = findProgram(program);
  if (path.empty()) {
    throw HostError(program +
                    " is not installed; it reads and writes video (Debian package ffmpeg)");
  }
  return path;
}

VideoProbe probeVideo(const std::string& input) {
  // Image sequence patterns such as in_%04d.png are not files of their own.
  if (input.find('%') == std::string::npos && access(input.c_str(), R_OK) != 0) {
    throw HostError("cannot read input " + input + ": " + std::strerror(errno));
  }
  const std::string ffprobe = requireProgram("ffprobe");
  ChildProcess child(
      {ffprobe, "-v", "error", "-select_streams", "v:0", "-show_entries",
       "stream=width,height,r_frame_rate,nb_frames", "-of", "default=noprint_wrappers=1", input},
      ChildProcess::Pipe::kFromChild);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(child.fd(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  if (!child.wait()) throw HostError("cannot read input " + input + ": " + child.failureText());
  VideoProbe probe;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "width") {
      probe.width = std::atoi(value.c_str());
    } else if (key == "height") {
      probe.height = std::atoi(value.c_str());
    } else if (key == "nb_frames" && value != "N/A") {
      probe.frames = std::atol(value.c_str());
    } else if (key == "r_frame_rate") {
      int numerator = 0, denominator = 0;
      if (std::sscanf(value.c_str(), "%d/%d", &numerator, &denominator) == 2 && numerator > 0 &&
          denominator > 0) {
        probe.rate = {numerator, denominator};
      }
    }
  }
  if (probe.width <= 0 || probe.height <= 0) {
    throw HostError("cannot read input " + input + ": it has no video stream");
  }
  return probe;
}

std::vector<std::string> decodeArguments(const std::string& ffmpeg, const std::string& input,
                                         int width, int height, int bytesPerPixel, long maxFrames) {
  std::vector<std::string> args = {
      ffmpeg,
      "-nostdin",
      "-v",
      "error",
      "-i",
      input,
      "-map",
      "0:v:0",
      "-an",
      "-sn",
      "-fps_mode",
      "passthrough",
      "-vf",
      "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":flags=bicubic",
      "-pix_fmt",
      bytesPerPixel == 4 ? "bgra" : "bgr24"};
  if (maxFrames >= 0) args.insert(args.end(), {"-frames:v", std::to_string(maxFrames)});
  args.insert(args.end(), {"-f", "rawvideo", "pipe:1"});
  return args;
}

std::unique_ptr<FrameSource> openVideoSource(const std::string& input, int width, int height,
                                             int bytesPerPixel, long maxFrames, long knownFrames) {
  const std::string ffmpeg = requireProgram("ffmpeg");
  return std::make_unique<VideoSource>(
      input, decodeArguments(ffmpeg, input, width, height, bytesPerPixel, maxFrames),
      static_cast<size_t>(width) * height * bytesPerPixel, knownFrames);
}

std::unique_ptr<FrameSink> openVideoSink(const std::string& output, int width, int height,
                                         int bytesPerPixel, FrameRate rate) {
  const std::string ffmpeg = requireProgram("ffmpeg");
  return std::make_unique<VideoSink>(output, ffmpeg, width, height, bytesPerPixel, rate);
}

}  // namespace qelfx
