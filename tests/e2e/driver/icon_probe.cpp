// A message hook that the test driver places on the installer's thread, so that the
// question "which icons does this window have" is asked inside the installer's process:
// Wine does not carry WM_GETICON from one process to another. When the installer takes the
// driver's probe message (posted to one of its windows, with the driver's thread id as
// wParam) from its queue, the hook posts the sizes of that window's small and big icons
// back to the driver's thread, each as MAKELONG(width, height), 0 for none.
#include <windows.h>

#include "icon_size.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeIcons(int code, WPARAM removed, LPARAM data) {
    const MSG* message = (const MSG*)data;
    if (code == HC_ACTION && removed == PM_REMOVE &&
        message->message == RegisterWindowMessageA("qar e2e icon probe")) {
        HICON small = (HICON)SendMessageA(message->hwnd, WM_GETICON, ICON_SMALL, 0);
        HICON big = (HICON)SendMessageA(message->hwnd, WM_GETICON, ICON_BIG, 0);
        PostThreadMessageA((DWORD)message->wParam, message->message, IconPixels(small), IconPixels(big));
    }
    return CallNextHookEx(0, code, removed, data);
}
