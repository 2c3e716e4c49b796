// The Win32 side of what the core asks of the user interface (ui.h), and the overwrite
// prompt.
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "ui/dialogs.h"
#include "ui/ui.h"

INT_PTR CALLBACK OverwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, Profile.Title);
        for (int id = CTL_QUESTION; id <= CTL_NO; ++id)   // the icon keeps its own font
            SendDlgItemMessageA(dialog, id, WM_SETFONT, (WPARAM)State.DialogFont, FALSE);
        FormatText(State.MessageText, sizeof State.MessageText,
                   "File \"%s\" already exists. Do you want to replace it?",
                   Profile.DestinationFolder);
        SetDlgItemTextA(dialog, CTL_QUESTION, State.MessageText);
        return TRUE;   // the dialog manager focuses the first tab stop, "&Yes"
    case WM_COMMAND: {
        // Only the three buttons leave the prompt; IDCANCEL (Escape) does nothing.
        int id = LOWORD(wParam);
        if (id == CTL_YES || id == CTL_NO || id == CTL_YES_TO_ALL) EndDialog(dialog, id);
        return FALSE;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        SetBkMode((HDC)wParam, TRANSPARENT);
        return (INT_PTR)State.BackgroundBrush;
    case WM_CTLCOLORDLG:
        return (INT_PTR)State.BackgroundBrush;
    }
    return FALSE;
}

int ShowMessage(WindowHandle owner, const char* text, uint32_t style) {
    return MessageBoxA((HWND)owner, text, Profile.Title, style);
}

int AskOverwrite() {
    return (int)DialogBoxParamA((HINSTANCE)State.Instance, MAKEINTRESOURCEA(kOverwriteDialog), 0,
                                OverwriteDialogProc, 0);
}

void SetControlText(WindowHandle dialog, int control, const char* text) {
    SetDlgItemTextA((HWND)dialog, control, text);
}

// The program's path goes to WinExec in double quotes: unquoted, a folder with spaces such
// as C:\Program Files\Tavlore would make Windows try C:\Program.exe first. A line that the
// caller has already quoted is passed as it is.
void StartProgram(const char* commandLine) {
    if (commandLine[0] == '"') {
        WinExec(commandLine, SW_SHOWNORMAL);
        return;
    }
    char quoted[sizeof Profile.DestinationFolder + 2];
    FormatText(quoted, sizeof quoted, "\"%s\"", commandLine);
    WinExec(quoted, SW_SHOWNORMAL);
}
