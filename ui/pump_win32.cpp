// PumpMessages: lets the dialogs breathe while the extraction runs inside the Extract
// command. It never waits and skips the dialog manager's keyboard handling, so only mouse
// input (Cancel, the close box, Help) acts during a run.
#include <windows.h>

#include "extract/user_interface.h"

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
