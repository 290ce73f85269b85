// Linked into test programs that contain the shell itself (not a plug-in DLL): the
// program's own message boxes become lines on standard error before any test runs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "tests/harness/message_box_capture.h"

namespace {

const bool kCaptured = [] {
  if (!qeltest::captureMessageBoxes(GetModuleHandleA(nullptr))) {
    std::fputs("this program does not import MessageBoxA\n", stderr);
    std::abort();
  }
  return true;
}();

}  // namespace
