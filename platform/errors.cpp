// Turns an error code into its one message; SystemErrorSuffix gives the second line from the
// last system error number.
#include "platform/errors.h"

#include "platform/fs.h"
#include "platform/text.h"
#include "profile/state.h"

namespace {

// The system error numbers that have a text of their own, and those texts in the same order,
// each behind its line break and ended by a zero. Bytes and one string rather than a table
// of number and pointer pairs: a quarter of the room in the installer.
const uint8_t kSuffixNumbers[] = {2, 3, 5, 15, 19, 21, 25, 26, 27, 29, 30, 31, 39, 80, 112, 161};
const char kSuffixTexts[] =
    "\nFile not found\0"
    "\nPath not found\0"
    "\nAccess denied\0"
    "\nInvalid drive\0"
    "\nDisk is write protected\0"
    "\nDevice not ready\0"
    "\nTrack not found\0"
    "\nNot a DOS disk\0"
    "\nSector not found\0"
    "\nWrite fault\0"
    "\nRead fault\0"
    "\nGeneral failure\0"
    "\nDisk full\0"
    "\nFile exists\0"
    "\nDisk full\0"
    "\nInvalid path";

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
    const char* text = kSuffixTexts;
    for (uint8_t known : kSuffixNumbers) {
        if (known == number) return text;
        text += TextLength(text) + 1;
    }
    if (number >= 50 && number <= 71) return "\nNetwork error";
    if (number == kErrorStoppedOnLink) return "\nFile or folder is a link";
    return "";
}

bool FormatErrorMessage(int32_t code, const char* name) {
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
        default: return false;   // silent, cancelled or not an error: nothing to show
    }
    if (format != nullptr) FormatWithSuffix(format, name, SystemErrorSuffix());
    State.LastSystemError = 0;   // a later message must not repeat this suffix
    return true;
}
