// The program entry of the installer. It runs without the C runtime's start-up code: no
// static constructors, no command-line parsing, no heap set-up; it locks down the DLL search
// and hands over to InstallerMain.
#include <windows.h>

#include "startup/startup.h"

namespace {

// Restricts every later library load (including those the system makes on our behalf for
// USER32 and GDI32) to the system folder, so that a DLL dropped beside a downloaded
// installer is never picked up. The call exists from Windows 8 on (and on 7 with its update);
// it is looked up at run time so that older systems still start.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    SetDirectoriesFn set = (SetDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

// The linker's symbol for the first byte of our own image in memory: the module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void StubEntry() {
    RestrictDllSearch();
    // The installer takes no command-line arguments.
    int result = InstallerMain(&__ImageBase, 0, 0, SW_SHOWNORMAL);
    ExitProcess((UINT)result);
}
