// What the core asks of the user interface. Win32 bodies (dialogs_win32.cpp and friends)
// make the installer; console bodies (console_posix.cpp) serve the Linux `qar` tool; tests
// link a scripted double. All are chosen at link time.
#pragma once

#include <stdint.h>

#include "ui/resource_ids.h"

typedef void* WindowHandle;

enum : uint32_t {
    kBoxOk = 0x00,            // MB_OK
    kBoxOkCancel = 0x01,      // MB_OKCANCEL
    kBoxWarning = 0x30,       // MB_ICONWARNING
    kAnswerOk = 1,            // IDOK
    kAnswerCancel = 2,        // IDCANCEL
    // The overwrite prompt answers with the id of the button pressed.
    kOverwriteYesToAll = CTL_YES_TO_ALL,
    kOverwriteYes = CTL_YES,
    kOverwriteNo = CTL_NO,
    kControlProgress = CTL_PROGRESS,
};

// A message box with the caption Product.Title; returns the button chosen (kAnswerOk, ...).
int ShowMessage(WindowHandle owner, const char* text, uint32_t style);
// The overwrite prompt for the file named in Profile.DestinationFolder; returns
// kOverwriteYes, kOverwriteNo or kOverwriteYesToAll (0 or -1 when it could not be shown).
int AskOverwrite();
// Replaces the text of a dialog control (the progress line is kControlProgress).
void SetControlText(WindowHandle dialog, int control, const char* text);
// Dispatches queued messages and returns at once when none are left.
void PumpMessages();
// Starts the installed program (a path, quoted by the caller if needed); the console
// build does not start anything.
void StartProgram(const char* commandLine);
