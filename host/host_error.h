// The one kind of failure qelfx reports: a line for the user and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace qelfx {

// Exit statuses: 1 for a failure while working (a plug-in, a file, FFmpeg), 2 for a
// command line that cannot be carried out as written.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& message, int status = kExitFailure)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

inline HostError usageError(const std::string& message) {
  return HostError(message, kExitUsage);
}

}  // namespace qelfx
