// What a Windows host sees when it loads a plug-in DLL: the floating-point mode that the
// library entry routine leaves on the threads that pass through it, and plugMain's
// answers as read by a host built with another compiler.
#include <gtest/gtest.h>
#include <windows.h>
#include <xmmintrin.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "tests/harness/plugin_host.h"

namespace qeltest {
namespace {

constexpr unsigned kFlushToZeroAndDenormalsAreZero = 0x8040;

unsigned flushBits() {
  return _mm_getcsr() & kFlushToZeroAndDenormalsAreZero;
}
void clearFlushBits() {
  _mm_setcsr(_mm_getcsr() & ~kFlushToZeroAndDenormalsAreZero);
}

// The flush bits that a newly started thread has when it reaches its own code.
unsigned flushBitsOfANewThread() {
  unsigned bits = 0xFFFFFFFF;
  std::thread([&bits] { bits = flushBits(); }).join();
  return bits;
}

// wine starts every thread from its initial context after the attach notifications, which
// puts the thread's MXCSR back to its start value: there the entry routine's setting
// cannot be seen from the thread's own code.
bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class WindowsHost : public testing::TestWithParam<const char*> {};

TEST_P(WindowsHost, EntryRoutineSetsTheFloatModeOnEveryThreadThatPassesThrough) {
  // Without the plug-in loaded, threads start with the bits clear: what follows is the
  // library's doing.
  ASSERT_EQ(flushBitsOfANewThread(), 0u);

  clearFlushBits();
  auto library = std::make_unique<PluginLibrary>(GetParam());
  EXPECT_EQ(flushBits(), kFlushToZeroAndDenormalsAreZero) << "loading thread (process attach)";
  if (!underWine()) {
    EXPECT_EQ(flushBitsOfANewThread(), kFlushToZeroAndDenormalsAreZero) << "thread attach";
  }

  clearFlushBits();
  library.reset();
  EXPECT_EQ(flushBits(), kFlushToZeroAndDenormalsAreZero) << "unloading thread (process detach)";
  EXPECT_EQ(flushBitsOfANewThread(), 0u) << "after unloading";
  clearFlushBits();
}

// The FreeFrame 1.0 declaration that hosts built with Microsoft's compiler use: three
// 32-bit arguments popped by plugMain, the 4-byte answer in EAX.
using HostPlugMain = uint32_t(__stdcall*)(uint32_t, uint32_t, uint32_t);

TEST_P(WindowsHost, AnswersReachAHostThatReadsEax) {
  PluginLibrary library(GetParam());
  HMODULE module = GetModuleHandleA((std::string(GetParam()) + ".dll").c_str());
  ASSERT_NE(module, nullptr);
  const auto plugMainOfHost = reinterpret_cast<HostPlugMain>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "plugMain")));
  ASSERT_NE(plugMainOfHost, nullptr);

  const uint32_t numParams = library.numParameters();
  ASSERT_GT(numParams, 0u);
  float defaultValue = library.parameterDefault(0);
  uint32_t defaultBits;
  std::memcpy(&defaultBits, &defaultValue, sizeof defaultBits);
  struct Case {
    const char* what;
    uint32_t code, input, want;
  };
  const Case kCases[] = {
      {"parameter count", FF_GETNUMPARAMETERS, 0, numParams},
      {"default of parameter 0 as float bits", FF_GETPARAMETERDEFAULT, 0, defaultBits},
      {"info record address", FF_GETINFO, 0,
       static_cast<uint32_t>(reinterpret_cast<uintptr_t>(library.info()))},
      {"capability 1", FF_GETPLUGINCAPS, 1, 1},
      {"parameter type", FF_GETPARAMETERTYPE, 0xFFFFFFFF, FF_TYPE_STANDARD},
      {"initialise", FF_INITIALISE, 0, FF_SUCCESS},
      {"code above 16", 17, 0, FF_FAIL},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(plugMainOfHost(c.code, c.input, 0), c.want) << c.what;
  }

  // An instance made and released through the same declaration.
  VideoInfoStruct info{16, 8, FF_DEPTH_32, FF_ORIENTATION_TL};
  const uint32_t id =
      plugMainOfHost(FF_INSTANTIATE, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&info)), 0);
  ASSERT_NE(id, FF_FAIL);
  std::string frame(16 * 8 * 4, '\x40');
  EXPECT_EQ(plugMainOfHost(FF_PROCESSFRAME,
                           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(frame.data())), id),
            FF_SUCCESS);
  EXPECT_EQ(plugMainOfHost(FF_DEINSTANTIATE, 0, id), FF_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Deliverables, WindowsHost, testing::ValuesIn(kDeliverableNames),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace qeltest
