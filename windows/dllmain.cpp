// The DLL's entry point. It only turns off the per-thread attach and detach
// notifications, which the library has no use for: everything else (start-up
// of the socket library, the listener thread) happens in the exports, and
// nothing may run or wait here under the loader lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ::DisableThreadLibraryCalls(instance);
    return TRUE;
}
