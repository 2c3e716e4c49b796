// What the extraction loop and the start-up ask of their user interface. The Win32 bodies
// (ui/dialogs_win32.cpp and friends) make the installer; the console bodies
// (ui/console_posix.cpp) serve the Linux `qar` tool; tests link a scripted double. All are
// chosen at link time. ReportError (extract/report_error.cpp) turns an error code into its
// message (platform/errors.h) and shows it.
#pragma once

#include <stdint.h>

typedef void* WindowHandle;

enum : uint32_t {
    kBoxOk = 0x00,            // MB_OK
    kBoxOkCancel = 0x01,      // MB_OKCANCEL
    kBoxWarning = 0x30,       // MB_ICONWARNING
    kAnswerOk = 1,            // IDOK
    kAnswerCancel = 2,        // IDCANCEL
    // The overwrite prompt answers with the id of the button pressed, and the progress line
    // is a control of the main dialog: the dialogs' resource ids (ui/resource_ids.h, checked
    // against these where the dialogs are made).
    kOverwriteYesToAll = 108,
    kOverwriteYes = 109,
    kOverwriteNo = 110,
    kControlProgress = 102,
};

// A message box with the caption Product.Title; returns the button chosen (kAnswerOk, ...).
int ShowMessage(WindowHandle owner, const char* text, uint32_t style);
// The overwrite prompt for the file at path; returns kOverwriteYes, kOverwriteNo or
// kOverwriteYesToAll (0 or -1 when it could not be shown).
int AskOverwrite(const char* path);
// Replaces the text of a dialog control (the progress line is kControlProgress).
void SetControlText(WindowHandle dialog, int control, const char* text);
// SetControlText with format's "%s" replaced by text, formatted in State.MessageText. One
// call instead of the two at each of the dialogs' and the progress line's texts.
void SetFormattedControlText(WindowHandle dialog, int control, const char* format, const char* text);
// Dispatches queued messages and returns at once when none are left.
void PumpMessages();
// Starts the installed program at path (the Win32 build quotes it for the command line);
// the console build does not start anything.
void StartProgram(const char* commandLine);

// Shows the message of code (with name, or ProgramName when name is null, and the suffix of
// State.LastSystemError) in a message box owned by owner. Returns 0 when the code has no
// message, or when ask is true and the user chose OK; 1 otherwise.
int ReportError(WindowHandle owner, int32_t code, const char* name, bool ask);
