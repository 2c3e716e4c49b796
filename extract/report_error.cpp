// ReportError: the one place where an error code becomes a message box, through whichever
// user interface the program links (the installer's dialogs, the Linux console, a test's);
// and the formatted text of a control.
#include "extract/user_interface.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "profile/state.h"

int ReportError(WindowHandle owner, int32_t code, const char* name, bool ask) {
    if (!FormatErrorMessage(code, name)) return 0;
    const int answer = ShowMessage(owner, State.MessageText,
                                   kBoxWarning | (ask ? kBoxOkCancel : kBoxOk));
    return (ask && answer == kAnswerOk) ? 0 : 1;
}

void SetFormattedControlText(WindowHandle dialog, int control, const char* format, const char* text) {
    FormatText(State.MessageText, kMessageTextSize, format, text);
    SetControlText(dialog, control, State.MessageText);
}
