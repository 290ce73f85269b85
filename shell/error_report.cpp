#include "shell/error_report.h"

#ifdef _WIN32
#include <windows.h>

void reportError(const char* text, const char* caption) {
  // No owner window, OK button only; blocks the calling thread until dismissed.
  MessageBoxA(nullptr, text, caption, MB_OK);
}
#else
#include <cstdio>
#include <string>

void reportError(const char* text, const char* caption) {
  // One write, so that lines of instances on other threads do not interleave.
  const std::string line = std::string(caption) + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}
#endif
