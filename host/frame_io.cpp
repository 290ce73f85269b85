#include "host/frame_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/host_error.h"
#include "host/png_file.h"

namespace qelfx {

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Position and width of the frame-number conversion in a sequence pattern.
struct NumberField {
  size_t start = 0;
  size_t length = 0;  // 0 when the pattern has none
  int digits = 0;
};

NumberField findNumberField(const std::string& pattern) {
  NumberField field;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    int digits = 0;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
      // Wider than any frame number needs; also keeps the count from overflowing.
      if (digits > 9) throw usageError("frame number field too wide in " + pattern);
      digits = digits * 10 + (pattern[j] - '0');
      ++j;
    }
    if (j >= pattern.size() || pattern[j] != 'd') {
      throw usageError("only %d or %0Nd may stand in an output pattern: " + pattern);
    }
    if (field.length != 0) throw usageError("more than one frame number in " + pattern);
    field = {i, j + 1 - i, digits};
    i = j;
  }
  return field;
}

void writeAll(int fd, const uint8_t* data, size_t bytes, const char* what) {
  while (bytes > 0) {
    const ssize_t written = ::write(fd, data, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw HostError(std::string("cannot write to ") + what + ": " + std::strerror(errno));
    }
    data += written;
    bytes -= static_cast<size_t>(written);
  }
}

class RawStdoutSink : public FrameSink {
 public:
  explicit RawStdoutSink(size_t frameBytes) : frameBytes_(frameBytes) {}
  void write(const uint8_t* frame) override {
    writeAll(STDOUT_FILENO, frame, frameBytes_, "standard output");
  }
  void finish() override {}

 private:
  size_t frameBytes_;
};

class PngSequenceSink : public FrameSink {
 public:
  PngSequenceSink(const std::string& pattern, int width, int height, int bytesPerPixel)
      : pattern_(pattern), width_(width), height_(height), bytesPerPixel_(bytesPerPixel) {
    // Fails now, before any work, when the folder cannot take the files.
    OutputFile probe(sequenceFileName(pattern_, 1));
  }
  ~PngSequenceSink() override {
    if (!finished_) {
      for (const std::string& file : written_) unlink(file.c_str());
    }
  }
  void write(const uint8_t* frame) override {
    OutputFile file(sequenceFileName(pattern_, ++number_));
    writePng(file.temporaryPath(), frame, width_, height_, bytesPerPixel_);
    file.commit();
    written_.push_back(file.target());
  }
  void finish() override { finished_ = true; }

 private:
  std::string pattern_;
  int width_, height_, bytesPerPixel_;
  long number_ = 0;  // ffmpeg's image sequences also count from 1
  std::vector<std::string> written_;
  bool finished_ = false;
};

class PngStillSink : public FrameSink {
 public:
  PngStillSink(const std::string& path, int width, int height, int bytesPerPixel)
      : file_(path), width_(width), height_(height), bytesPerPixel_(bytesPerPixel) {}
  void write(const uint8_t* frame) override {
    last_.assign(frame, frame + static_cast<size_t>(width_) * height_ * bytesPerPixel_);
  }
  void finish() override {
    if (last_.empty()) throw HostError("no frame to write into " + file_.target());
    writePng(file_.temporaryPath(), last_.data(), width_, height_, bytesPerPixel_);
    file_.commit();
  }

 private:
  OutputFile file_;
  int width_, height_, bytesPerPixel_;
  std::vector<uint8_t> last_;
};

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
  struct stat info;
  if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw HostError("cannot write " + target + ": it is a folder");
  }
  static std::atomic<unsigned> counter{0};
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  const size_t dot = base.rfind('.');
  // The extension stays last, so that FFmpeg still picks the format from the name.
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
  temporary_ = dir + "." + base + ".qelfx-" + std::to_string(getpid()) + "-" +
               std::to_string(counter++) + ".part" + extension;
  const int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw HostError("cannot write " + target + ": " + std::strerror(errno));
  close(fd);
}

OutputFile::~OutputFile() {
  if (!committed_) unlink(temporary_.c_str());
}

void OutputFile::commit() {
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw HostError("cannot write " + target_ + ": " + std::strerror(errno));
  }
  committed_ = true;
}

OutputKind outputKind(const std::string& output) {
  if (output == "-") return OutputKind::kRawStdout;
  if (endsWith(lowerCase(output), ".png")) {
    return findNumberField(output).length != 0 ? OutputKind::kPngSequence : OutputKind::kPngStill;
  }
  return OutputKind::kVideo;
}

std::string sequenceFileName(const std::string& pattern, long number) {
  const NumberField field = findNumberField(pattern);
  if (field.length == 0) throw usageError("no frame number (%d) in " + pattern);
  std::string digits = std::to_string(number);
  if (static_cast<int>(digits.size()) < field.digits) {
    digits.insert(0, static_cast<size_t>(field.digits) - digits.size(), '0');
  }
  std::string name;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (i == field.start) {
      name += digits;
      i += field.length - 1;
    } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      name += '%';
      ++i;
    } else {
      name += pattern[i];
    }
  }
  return name;
}

std::unique_ptr<FrameSink> makeRawStdoutSink(int width, int height, int bytesPerPixel) {
  return std::make_unique<RawStdoutSink>(static_cast<size_t>(width) * height * bytesPerPixel);
}

std::unique_ptr<FrameSink> makePngSequenceSink(const std::string& pattern, int width, int height,
                                               int bytesPerPixel) {
  return std::make_unique<PngSequenceSink>(pattern, width, height, bytesPerPixel);
}

std::unique_ptr<FrameSink> makePngStillSink(const std::string& path, int width, int height,
                                            int bytesPerPixel) {
  return std::make_unique<PngStillSink>(path, width, height, bytesPerPixel);
}

}  // namespace qelfx
