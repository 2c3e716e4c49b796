// MainDialogProc: the installer's one visible window. It shows the archive's name, takes the
// destination folder and the overwrite choice, offers help, and runs the whole extraction
// inside its Extract command while PumpMessages keeps it responsive.
#include "extract/extract.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "ui/dialogs.h"
#include "extract/user_interface.h"

namespace {

const char kHelpText[] =
    "This is a self-extracting QAR archive. To extract the contents to disk,\n"
    "specify a folder name in the edit box, and click the Extract button.\n"
    "If the folder does not exist, it will be created.";

// Set while ExtractAll runs. The Extract command can reach the procedure again during a run
// (PumpMessages, or the modal loop of a message box or the overwrite prompt); a second run
// would share the one state record and its buffers, so it is refused.
bool ExtractionRunning;

void InitMainDialog(HWND dialog) {
    SetFormattedControlText(
        dialog, CTL_INSTRUCTION,
        "Click the Extract button to extract all files in %s to the specified folder.",
        State.ProgramName);
    if (Profile.OverwriteWithoutPrompt)
        SendDlgItemMessageA(dialog, CTL_OVERWRITE, BM_SETCHECK, BST_CHECKED, 0);
    DressDialog(dialog, CTL_FOLDER, CTL_EXTRACT);
    SetControlText(dialog, CTL_FOLDER, Profile.DestinationFolder);
}

void EndMainDialog(HWND dialog) {
    Profile.CancelRequested = 1;
    EndDialog(dialog, 0);
}

void RunExtraction(HWND dialog) {
    if (ExtractionRunning) return;
    ExtractionRunning = true;
    // Greyed for the run, so the refusal is visible as well as enforced.
    EnableWindow(GetDlgItem(dialog, CTL_EXTRACT), FALSE);
    SendDlgItemMessageA(dialog, CTL_FOLDER, WM_GETTEXT, sizeof Profile.DestinationFolder,
                        (LPARAM)Profile.DestinationFolder);
    Profile.OverwriteWithoutPrompt =
        SendDlgItemMessageA(dialog, CTL_OVERWRITE, BM_GETCHECK, 0, 0) ? 1 : 0;
    int result = ExtractAll(dialog);
    if (result < 0) ReportError(dialog, result, 0, false);
    EndMainDialog(dialog);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitMainDialog(dialog);
        // The dialog manager focuses the first tab stop, the folder box, and selects its text.
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case CTL_HELP:
            ShowMessage(dialog, kHelpText, MB_OK);
            return TRUE;
        case CTL_CANCEL:
            EndMainDialog(dialog);
            return TRUE;
        case CTL_EXTRACT:
            RunExtraction(dialog);
            return TRUE;
        }
        return FALSE;   // IDOK and IDCANCEL too: Escape does not close the dialog
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
        EndMainDialog(dialog);
        return TRUE;
    }
    return PaintBackground(message, wParam);
}
