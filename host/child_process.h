// A helper program (FFmpeg) run with one end of a pipe to qelfx and its diagnostics kept
// aside, so that a failure can be told in one line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qelfx {

// The full path of `program` found on PATH, or empty when it is not installed.
std::string findProgram(const std::string& program);

class ChildProcess {
 public:
  enum class Pipe { kToChild, kFromChild };

  // Starts argv[0] (a path) with its standard input (kToChild) or standard output
  // (kFromChild) connected to fd(); the other standard stream is /dev/null.
  ChildProcess(const std::vector<std::string>& argv, Pipe pipe);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int fd() const { return fd_; }
  void closePipe();
  // Closes the pipe and waits for the program; true when it exited with status 0.
  bool wait();
  // Stops a program that is still running, and reaps it.
  void terminate();
  // The last line the program wrote to its standard error, or a note on how it ended.
  std::string failureText() const;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int diagnostics_ = -1;  // an unlinked temporary file that receives its standard error
  int status_ = 0;
};

}  // namespace qelfx
