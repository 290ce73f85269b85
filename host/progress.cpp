#include "host/progress.h"

#include <cstdio>

namespace qelfx {

Progress::Progress(std::string label, long total, bool enabled)
    : label_(std::move(label)),
      total_(total),
      enabled_(enabled),
      start_(std::chrono::steady_clock::now()),
      lastShown_(start_) {}

void Progress::update(long done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  // A terminal line redrawn five times a second is enough to read.
  const bool last = total_ >= 0 && done >= total_;
  if (!last && now - lastShown_ < std::chrono::milliseconds(200)) return;
  lastShown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double fps = seconds > 0 ? done / seconds : 0.0;
  char line[256];
  if (total_ >= 0) {
    const long left = fps > 0 ? static_cast<long>((total_ - done) / fps + 0.5) : 0;
    std::snprintf(line, sizeof line, "%s: %ld/%ld frames, %.1f fps, %ld:%02ld left", label_.c_str(),
                  done, total_, fps, left / 60, left % 60);
  } else {
    std::snprintf(line, sizeof line, "%s: %ld frames, %.1f fps", label_.c_str(), done, fps);
  }
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::finish() {
  if (shown_) std::fprintf(stderr, "\n");
  shown_ = false;
}

}  // namespace qelfx
