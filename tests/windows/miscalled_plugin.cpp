// A plug-in DLL built wrong on purpose, for the test of check_dll.cmake itself: plugMain
// returns a 12-byte record (through a hidden pointer, so its returns pop 16 bytes), a
// second function is exported, the OpenMP runtime is imported as a DLL, there is no
// message box, and (built with -mfpmath=387) its float work runs on the x87 unit. The
// checkers must name each of these faults.
#include <cstdint>

struct Wide {
  uint32_t a, b, c;
};

extern "C" __declspec(dllexport) Wide
    __stdcall plugMain(uint32_t code, uint32_t input, uint32_t id) {
  uint32_t sum = 0;
#pragma omp parallel for reduction(+ : sum)
  for (int i = 0; i < static_cast<int>(code); ++i) sum += input ^ static_cast<uint32_t>(i);
  const float scaled = static_cast<float>(sum) * (static_cast<float>(id) + 0.5f);
  return Wide{sum, static_cast<uint32_t>(scaled), code};
}

extern "C" __declspec(dllexport) int extraExport() {
  return 1;
}
