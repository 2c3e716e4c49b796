// Turns an error code into its one message and shows it; SystemErrorSuffix gives the second
// line from the last system error number.
#include "platform/errors.h"

#include "platform/text.h"
#include "profile/state.h"

namespace {

struct SuffixEntry {
    int32_t Number;
    const char* Text;
};

const SuffixEntry kSuffixes[] = {
    {2, "\nFile not found"},
    {3, "\nPath not found"},
    {5, "\nAccess denied"},
    {15, "\nInvalid drive"},
    {19, "\nDisk is write protected"},
    {21, "\nDevice not ready"},
    {25, "\nTrack not found"},
    {26, "\nNot a DOS disk"},
    {27, "\nSector not found"},
    {29, "\nWrite fault"},
    {30, "\nRead fault"},
    {31, "\nGeneral failure"},
    {39, "\nDisk full"},
    {80, "\nFile exists"},
    {112, "\nDisk full"},
    {161, "\nInvalid path"},
    {681, "\nFile or folder is a link"},
};

const char kDamagedText[] =
    "Archive data is damaged, probably caused by\na corrupt disk or download error";

// Formats a "...%s%s" text with name and suffix. The suffix says why the operation failed,
// so when the whole does not fit, the name is shortened (ending in "...") and the suffix kept.
void FormatWithSuffix(const char* format, const char* name, const char* suffix) {
    const uint32_t fixed = TextLength(format) - 4;   // the format without its two "%s"
    const uint32_t room = kMessageTextSize - 1 - fixed - TextLength(suffix);
    char shortened[kMessageTextSize];
    if (TextLength(name) > room) {
        uint32_t kept = CopyText(shortened, room - 2, name);   // room - 3 characters
        CopyText(shortened + kept, 4, "...");
        name = shortened;
    }
    FormatText(State.MessageText, kMessageTextSize, format, name, suffix);
}

}  // namespace

const char* SystemErrorSuffix() {
    const int32_t number = State.LastSystemError;
    for (const SuffixEntry& entry : kSuffixes) {
        if (entry.Number == number) return entry.Text;
    }
    if (number >= 50 && number <= 71) return "\nNetwork error";
    return "";
}

int ReportError(WindowHandle owner, int32_t code, const char* name, bool ask) {
    if (name == nullptr) name = State.ProgramName;
    const char* format = nullptr;
    switch (code) {
        case ErrOpen: format = "Cannot open %s%s"; break;
        case ErrCreate: format = "Cannot create %s%s"; break;
        case ErrRead:
        case ErrSeek: format = "Cannot read %s%s"; break;
        case ErrWrite: format = "Cannot write %s%s"; break;
        case ErrCreateFolder: format = "Cannot create folder %s%s"; break;
        case ErrCrc:
            FormatText(State.MessageText, kMessageTextSize, "File \"%s\" fails error check", name);
            break;
        case ErrNoMemory: CopyText(State.MessageText, kMessageTextSize, "Not enough memory"); break;
        case ErrDamaged:
        case ErrInputExhausted: CopyText(State.MessageText, kMessageTextSize, kDamagedText); break;
        default: return 0;   // silent, cancelled or not an error: nothing to show
    }
    if (format != nullptr) FormatWithSuffix(format, name, SystemErrorSuffix());
    State.LastSystemError = 0;   // a later message must not repeat this suffix
    const int answer = ShowMessage(owner, State.MessageText,
                                   kBoxWarning | (ask ? kBoxOkCancel : kBoxOk));
    return (ask && answer == kAnswerOk) ? 0 : 1;
}
