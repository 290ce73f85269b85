#include "tests/host/qelfx_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qeltest {

namespace {

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

QelfxRun runQelfx(const std::vector<std::string>& args, const std::string& workDir,
                  const std::string& path, bool terminal) {
  const std::string outFile = workDir + "/../" + std::to_string(getpid()) + ".qelfx-out";
  const std::string errFile = workDir + "/../" + std::to_string(getpid()) + ".qelfx-err";
  std::string command = shellQuote(QELFX_PATH);
  for (const std::string& arg : args) {
    command.push_back(' ');
    command += shellQuote(arg);
  }
  if (!path.empty()) command = "PATH=" + shellQuote(path) + " " + command;
  std::string line;
  if (terminal) {
    // script(1) gives the command a pseudo-terminal and copies what it writes there.
    line = "cd " + shellQuote(workDir) + " && script -qefc " + shellQuote(command + " 2>&1") +
           " /dev/null > " + shellQuote(errFile) + " 2>&1; echo $? > " + shellQuote(outFile) +
           ".status";
  } else {
    line = "cd " + shellQuote(workDir) + " && " + command + " > " + shellQuote(outFile) + " 2> " +
           shellQuote(errFile) + " < /dev/null; echo $? > " + shellQuote(outFile) + ".status";
  }
  QelfxRun run;
  if (std::system(line.c_str()) == 0) {
    run.status = std::atoi(readFile(outFile + ".status").c_str());
  }
  run.out = terminal ? "" : readFile(outFile);
  run.err = readFile(errFile);
  unlink(outFile.c_str());
  unlink((outFile + ".status").c_str());
  unlink(errFile.c_str());
  return run;
}

ScratchDir::ScratchDir() {
  char name[] = "/tmp/qelfx-test-XXXXXX";
  if (!mkdtemp(name)) throw std::runtime_error("cannot make a scratch folder");
  // Runs keep their captured streams one level up: a folder of its own keeps them out.
  path_ = std::string(name) + "/work";
  mkdir(path_.c_str(), 0755);
}

ScratchDir::~ScratchDir() {
  const std::string top = path_.substr(0, path_.rfind('/'));
  const std::string command = "rm -rf '" + top + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", top.c_str());
}

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  DIR* listing = opendir(path_.c_str());
  if (!listing) return names;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<PluginLibrary> loadPluginFrom(const std::string& dir, const std::string& name) {
  const char* previous = std::getenv("QEL_PLUGIN_DIR");
  const std::string saved = previous ? previous : "";
  setenv("QEL_PLUGIN_DIR", dir.c_str(), 1);
  auto library = std::make_unique<PluginLibrary>(name);
  if (previous) {
    setenv("QEL_PLUGIN_DIR", saved.c_str(), 1);
  } else {
    unsetenv("QEL_PLUGIN_DIR");
  }
  return library;
}

std::vector<uint8_t> harnessRun(const PluginLibrary& library,
                                const std::vector<std::vector<uint8_t>>& frames, int width,
                                int height, int bytesPerPixel, bool copy) {
  std::srand(1);
  Instance instance(library, width, height, bytesPerPixel);
  if (!instance.valid()) return {};
  std::vector<uint8_t> all;
  std::vector<uint8_t> output(instance.frameBytes(), 0);
  for (const auto& frame : frames) {
    if (copy) {
      if (instance.processFrameCopy({frame.data()}, output.data()) != FF_SUCCESS) return {};
    } else {
      output = frame;
      if (instance.processFrame(output.data()) != FF_SUCCESS) return {};
    }
    all.insert(all.end(), output.begin(), output.end());
  }
  return all;
}

std::string commandOutput(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  return pclose(pipe) == 0 ? text : "";
}

}  // namespace qeltest
