#include "host/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host_error.h"

namespace qelfx {

std::string findProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return "";
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + program;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Pipe pipe) {
  FILE* scratch = std::tmpfile();
  if (!scratch) throw HostError(std::string("cannot make a temporary file: ") + strerror(errno));
  diagnostics_ = dup(fileno(scratch));
  std::fclose(scratch);
  fcntl(diagnostics_, F_SETFD, FD_CLOEXEC);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    close(diagnostics_);
    throw HostError(std::string("cannot make a pipe: ") + strerror(errno));
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) {
    close(ends[0]);
    close(ends[1]);
    close(diagnostics_);
    throw HostError(std::string("cannot start ") + argv[0] + ": " + strerror(errno));
  }
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on.
    const int nullFd = open("/dev/null", O_RDWR);
    if (pipe == Pipe::kToChild) {
      dup2(ends[0], 0);
      dup2(nullFd, 1);
    } else {
      dup2(nullFd, 0);
      dup2(ends[1], 1);
    }
    dup2(diagnostics_, 2);
    signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pipe == Pipe::kToChild) {
    close(ends[0]);
    fd_ = ends[1];
  } else {
    close(ends[1]);
    fd_ = ends[0];
  }
}

ChildProcess::~ChildProcess() {
  terminate();
  if (diagnostics_ >= 0) close(diagnostics_);
}

void ChildProcess::closePipe() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool ChildProcess::wait() {
  closePipe();
  if (pid_ > 0) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

void ChildProcess::terminate() {
  closePipe();
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

std::string ChildProcess::failureText() const {
  std::string text;
  if (diagnostics_ >= 0) {
    char buffer[4096];
    const off_t size = lseek(diagnostics_, 0, SEEK_END);
    const off_t from = size > static_cast<off_t>(sizeof buffer) ? size - sizeof buffer : 0;
    const ssize_t got = pread(diagnostics_, buffer, sizeof buffer, from);
    if (got > 0) text.assign(buffer, static_cast<size_t>(got));
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  const size_t lineStart = text.find_last_of("\r\n");
  if (lineStart != std::string::npos) text = text.substr(lineStart + 1);
  if (!text.empty()) return text;
  if (WIFSIGNALED(status_)) return "stopped by signal " + std::to_string(WTERMSIG(status_));
  if (WIFEXITED(status_)) return "exit status " + std::to_string(WEXITSTATUS(status_));
  return "failed";
}

}  // namespace qelfx
