// Where frames come from and where they go. Every frame is packed rows, top row first,
// 3 (blue, green, red) or 4 (blue, green, red, alpha) bytes per pixel: the layout the
// plug-ins process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qelfx {

struct FrameRate {
  int numerator = 25;
  int denominator = 1;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Fills `frame` with the next frame; false at the end of the source.
  virtual bool read(uint8_t* frame) = 0;
  // Frames the source will give, or -1 when it does not know.
  virtual long frameCount() const = 0;
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void write(const uint8_t* frame) = 0;
  // Completes the output; until then nothing stands under the output's name, and a sink
  // destroyed without finish() leaves nothing behind.
  virtual void finish() = 0;
};

// A file written under a temporary name beside its target and renamed onto the target by
// commit(); removed if the object goes away uncommitted.
class OutputFile {
 public:
  explicit OutputFile(const std::string& target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& temporaryPath() const { return temporary_; }
  const std::string& target() const { return target_; }
  void commit();

 private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// What -o names.
enum class OutputKind { kRawStdout, kPngSequence, kPngStill, kVideo };
OutputKind outputKind(const std::string& output);

// Expands the one frame-number conversion (%d or %0Nd) of a sequence pattern; throws
// HostError when the pattern has none, several, or any other conversion.
std::string sequenceFileName(const std::string& pattern, long number);

std::unique_ptr<FrameSink> makeRawStdoutSink(int width, int height, int bytesPerPixel);
std::unique_ptr<FrameSink> makePngSequenceSink(const std::string& pattern, int width, int height,
                                               int bytesPerPixel);
std::unique_ptr<FrameSink> makePngStillSink(const std::string& path, int width, int height,
                                            int bytesPerPixel);

}  // namespace qelfx
