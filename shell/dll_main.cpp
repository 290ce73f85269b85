// Library entry routine of the Windows DLLs.
//
// Every thread that passes through here (the loading thread, threads started while the
// library is loaded, and the threads that end or unload it) leaves with flush-to-zero
// and, where the processor has it, denormals-are-zero set. Nothing else happens: no
// allocation, no table, no instance. libgomp, the OpenMP runtime linked in, starts its
// threads on demand and needs no attach or detach notification, so none is sent.
#include <windows.h>

#include "shell/float_mode.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  enableFlushDenormalsOnThisThread();
  return TRUE;
}
