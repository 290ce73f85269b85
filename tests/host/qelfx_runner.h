// Runs the qelfx program for tests and collects what it did.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/harness/plugin_host.h"

namespace qeltest {

struct QelfxRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error
};

// Runs qelfx with `args` in `workDir`. `path` replaces PATH when not empty; `terminal`
// runs it with standard error on a pseudo-terminal (through script(1)).
QelfxRun runQelfx(const std::vector<std::string>& args, const std::string& workDir,
                  const std::string& path = "", bool terminal = false);

// A fresh empty folder, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names in the folder, hidden ones included, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

// Loads a plug-in from `dir` through the test harness.
std::unique_ptr<PluginLibrary> loadPluginFrom(const std::string& dir, const std::string& name);

// The harness's reference run: frames through a fresh instance in place or in copy mode
// (the output frame kept from call to call, zero at first), after resetting the C library's
// random generator to its initial state, as in a fresh process. Returns the output frames
// one after the other.
std::vector<uint8_t> harnessRun(const PluginLibrary& library,
                                const std::vector<std::vector<uint8_t>>& frames, int width,
                                int height, int bytesPerPixel, bool copy);

// Runs a shell command and returns its standard output; empty on failure.
std::string commandOutput(const std::string& command);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace qeltest
