// Error codes, their messages and the one place that shows them.
#pragma once

#include <stdint.h>

#include "ui/ui.h"

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

// Shows the message of code (with name, or ProgramName when name is null, and the suffix of
// State.LastSystemError) in a message box owned by owner. Returns 0 when the code has no
// message, or when ask is true and the user chose OK; 1 otherwise.
int ReportError(WindowHandle owner, int32_t code, const char* name, bool ask);

// The second line of a message for State.LastSystemError ("\nAccess denied", ...), or "".
const char* SystemErrorSuffix();
