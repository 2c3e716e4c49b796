// Error codes and their messages. Showing a message is the user interface's part
// (ReportError, extract/user_interface.h); nothing here depends on it.
#pragma once

#include <stdint.h>

enum : int32_t {
    ErrSilent = -1,
    ErrNoMemory = -2,
    ErrCreate = -3,
    ErrOpen = -5,
    ErrRead = -6,
    ErrWrite = -8,
    ErrCreateFolder = -9,
    ErrDamaged = -11,
    ErrCrc = -12,
    ErrSeek = -17,
    ErrCancelled = -25,
    ErrLimit = -26,   // a Linux tool's bound on a run (decode/work_limit.h); the tool says which
    ErrInputExhausted = -50,
};

// Formats the message of code into State.MessageText: with name (or ProgramName when name
// is null) and the suffix of State.LastSystemError, which is then cleared so that a later
// message does not repeat it. False, and nothing formatted, for a code that shows nothing
// (ErrSilent, ErrCancelled, 0 and positive values).
bool FormatErrorMessage(int32_t code, const char* name);

// The second line of a message for State.LastSystemError ("\nAccess denied", ...), or "".
const char* SystemErrorSuffix();
