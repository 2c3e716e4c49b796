// The Win32 side of what the core asks of the user interface (extract/user_interface.h), the
// overwrite prompt, and what both dialogs share.
#include "extract/user_interface.h"
#include "platform/text.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"

// The interface names the prompt's answers and the progress line by number, since the core
// cannot include the resource ids; they are these controls.
static_assert(kOverwriteYesToAll == CTL_YES_TO_ALL && kOverwriteYes == CTL_YES &&
                  kOverwriteNo == CTL_NO && kControlProgress == CTL_PROGRESS,
              "the interface's control numbers are the dialogs' resource ids");

// Gives a window the image's icon group 1 as its small (caption) or big (taskbar, Alt+Tab)
// icon, at the size that the system metric names. Without a group LoadImageA gives 0, which
// leaves the window without an icon, as it was. Shared images are loaded once per process,
// however often the prompt comes back. Called twice rather than inlined, with the metric as
// an argument: the smallest code.
__attribute__((noinline)) static void SetIcon(HWND window, int which, int metric) {
    int size = GetSystemMetrics(metric);
    SendMessageA(window, WM_SETICON, which,
                 (LPARAM)LoadImageA((HINSTANCE)State.Instance, MAKEINTRESOURCEA(1), IMAGE_ICON,
                                    size, size, LR_SHARED));
}

void DressDialog(HWND dialog, int firstControl, int lastControl) {
    // WM_SETTEXT is what SetWindowTextA sends; with SendMessageA imported for the icons, the
    // import of SetWindowTextA is saved.
    SendMessageA(dialog, WM_SETTEXT, 0, (LPARAM)Product.Title);
    // The publisher's icon, when `qar sfx --icon` gave the installer one.
    SetIcon(dialog, ICON_SMALL, SM_CXSMICON);
    SetIcon(dialog, ICON_BIG, SM_CXICON);
    for (int id = firstControl; id <= lastControl; ++id)
        SendDlgItemMessageA(dialog, id, WM_SETFONT, (WPARAM)State.DialogFont, FALSE);
}

INT_PTR PaintBackground(UINT message, WPARAM wParam) {
    switch (message) {
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        SetBkMode((HDC)wParam, TRANSPARENT);
        return (INT_PTR)State.BackgroundBrush;
    case WM_CTLCOLORDLG:
        return (INT_PTR)State.BackgroundBrush;
    }
    return FALSE;
}

// The prompt's parameter (lParam of WM_INITDIALOG) is the path of the file.
INT_PTR CALLBACK OverwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        DressDialog(dialog, CTL_QUESTION, CTL_NO);   // the icon keeps its own font
        SetFormattedControlText(dialog, CTL_QUESTION,
                                "File \"%s\" already exists. Do you want to replace it?",
                                (const char*)lParam);
        return TRUE;   // the dialog manager focuses the first tab stop, "&Yes"
    case WM_COMMAND: {
        // Only the three buttons leave the prompt; IDCANCEL (Escape) does nothing.
        int id = LOWORD(wParam);
        if (id == CTL_YES || id == CTL_NO || id == CTL_YES_TO_ALL) EndDialog(dialog, id);
        return FALSE;
    }
    }
    return PaintBackground(message, wParam);
}

int ShowMessage(WindowHandle owner, const char* text, uint32_t style) {
    return MessageBoxA((HWND)owner, text, Product.Title, style);
}

int AskOverwrite(const char* path) {
    return (int)DialogBoxParamA((HINSTANCE)State.Instance, MAKEINTRESOURCEA(kOverwriteDialog), 0,
                                OverwriteDialogProc, (LPARAM)path);
}

// Controls are read and set through their messages (what SetDlgItemTextA and the like send),
// which keeps the import table to one user32 function for all of them.
void SetControlText(WindowHandle dialog, int control, const char* text) {
    SendDlgItemMessageA((HWND)dialog, control, WM_SETTEXT, 0, (LPARAM)text);
}

// The program's path goes to WinExec in double quotes: unquoted, a folder with spaces such
// as C:\Program Files\Tavlore would make Windows try C:\Program.exe first. The quoted line
// is built in the message buffer, which the run does not need at that point.
void StartProgram(const char* path) {
    FormatText(State.MessageText, sizeof State.MessageText, "\"%s\"", path);
    WinExec(State.MessageText, SW_SHOWNORMAL);
}
