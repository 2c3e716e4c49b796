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
const uint8_t kSuffixNumbers[] = {2, 3, 5, 8, 15, 19, 21, 25, 26, 27, 29, 30, 31, 39, 80, 112, 161};
const char kSuffixTexts[] =
    "\nFile not found\0"
    "\nPath not found\0"
    "\nAccess denied\0"
    "\nNot enough memory\0"
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

// The text at position index of a list of texts each ended by a zero.
const char* NthText(const char* text, uint32_t index) {
    for (; index > 0; --index) text += TextLength(text) + 1;
    return text;
}

// The messages of the codes ErrNoMemory (-2) to ErrCrc (-12), ErrSeek read as ErrRead and
// ErrInputExhausted as ErrDamaged: first the five that take a name and the suffix of the last
// system error, then the three that take at most the name. One string and a byte per code
// rather than a switch: the jump table alone would take more room in the installer.
const char kCodeTexts[] =
    "Cannot create %s%s\0"
    "Cannot open %s%s\0"
    "Cannot read %s%s\0"
    "Cannot write %s%s\0"
    "Cannot create folder %s%s\0"
    "File \"%s\" fails error check\0"
    "Not enough memory\0"
    "Archive data is damaged, probably caused by\na corrupt disk or download error";
enum : uint8_t { kSuffixedTexts = 5, kNoText = 0xFF };
const uint8_t kCodeText[] = {
    6,         // ErrNoMemory
    0,         // ErrCreate
    kNoText,   // -4
    1,         // ErrOpen
    2,         // ErrRead
    kNoText,   // -7
    3,         // ErrWrite
    4,         // ErrCreateFolder
    kNoText,   // -10
    7,         // ErrDamaged
    5,         // ErrCrc
};
static_assert(sizeof kCodeText == (uint32_t)(ErrNoMemory - ErrCrc + 1) && ErrNoMemory == -2,
              "one byte for every code from ErrNoMemory to ErrCrc");

}  // namespace

const char* SystemErrorSuffix() {
    const int32_t number = State.LastSystemError;
    for (uint32_t i = 0; i < sizeof kSuffixNumbers; ++i) {
        if (kSuffixNumbers[i] == number) return NthText(kSuffixTexts, i);
    }
    if (number >= 50 && number <= 71) return "\nNetwork error";
    if (number == kErrorStoppedOnLink) return "\nFile or folder is a link";
    return "";
}

bool FormatErrorMessage(int32_t code, const char* name) {
    if (name == nullptr) name = State.ProgramName;
    if (code == ErrSeek) code = ErrRead;
    if (code == ErrInputExhausted) code = ErrDamaged;
    const uint32_t slot = (uint32_t)(ErrNoMemory - code);
    if (slot >= sizeof kCodeText || kCodeText[slot] == kNoText) {
        return false;   // silent, cancelled or not an error: nothing to show
    }
    const char* text = NthText(kCodeTexts, kCodeText[slot]);
    if (kCodeText[slot] < kSuffixedTexts) {
        FormatWithSuffix(text, name, SystemErrorSuffix());
    } else {
        FormatText(State.MessageText, kMessageTextSize, text, name);
    }
    State.LastSystemError = 0;   // a later message must not repeat this suffix
    return true;
}
