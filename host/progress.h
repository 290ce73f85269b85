// The progress line on standard error: frames done of total, frames per second, time left.
#pragma once

#include <chrono>
#include <string>

namespace qelfx {

class Progress {
 public:
  // Shown only when `enabled` (standard error is a terminal); `total` is -1 when unknown.
  Progress(std::string label, long total, bool enabled);
  void update(long done);
  // Ends the line (after the last update).
  void finish();

 private:
  std::string label_;
  long total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastShown_;
};

}  // namespace qelfx
