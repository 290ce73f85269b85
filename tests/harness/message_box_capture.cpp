#include "tests/harness/message_box_capture.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace qeltest {
namespace {

int WINAPI recordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  std::string line =
      std::string(caption ? caption : "(no caption)") + ": " + (text ? text : "(no text)");
  if (owner) line += " [owner window]";
  if (type != MB_OK) line += " [type " + std::to_string(type) + "]";
  line += "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return IDOK;  // as if the user pressed OK
}

}  // namespace

bool captureMessageBoxes(void* module) {
  auto* base = static_cast<uint8_t*>(module);
  if (!base) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "USER32.dll") != 0) continue;
    // The lookup table names the imports; the address table beside it holds their targets.
    const DWORD lookup = dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "MessageBoxA") != 0) continue;
      DWORD oldProtection;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                          &oldProtection)) {
        return false;
      }
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(&recordMessageBox);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
      return true;
    }
  }
  return false;
}

}  // namespace qeltest
