// InstallerMain: everything the installer does outside its main dialog, in order.
#include <windows.h>

#include "archive/records.h"
#include "decode/crc32.h"
#include "extract/paths.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "startup/startup.h"
#include "ui/dialogs.h"
#include "extract/user_interface.h"

namespace {

// The base name of a module path: behind the last "\", else behind the last ":", else all.
const char* BaseName(const char* path) {
    const char* cut = FindLastChar(path, '\\');
    if (!cut) cut = FindLastChar(path, ':');
    return cut ? cut + 1 : path;
}

// Opens and checks the own file and reads the archive header. 0, 1 when the archive holds
// no entries (already told), or an error code for the caller to report.
int OpenArchive() {
    State.ArchiveFile = FsOpen(State.MessageText, kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) return ErrOpen;
    BuildCrcTable();
    int result = VerifyOwnImage();
    if (result < 0) return result;
    // The check read the image, ArchiveBase bytes, from the file's start: the archive header
    // is next.
    uint8_t header[kArchiveHeaderSize];
    if (FsRead(State.ArchiveFile, header, kArchiveHeaderSize) != (int32_t)kArchiveHeaderSize)
        return ErrRead;
    // The extraction needs two of the header's fields; the others stay 0.
    ArchiveHeader read;
    ReadArchiveHeader(header, &read);
    State.Header.DirectoryOffset = read.DirectoryOffset;
    State.Header.EntryCount = read.EntryCount;
    if (State.Header.EntryCount == 0) {
        ShowMessage(0, "Archive contains no files", kBoxOk);
        return 1;
    }
    return 0;
}

// The dialogs' font: "Helv", regular, 6/8 of the vertical dialog base unit high.
HFONT CreateDialogFont() {
    int vertical = (short)HIWORD(GetDialogBaseUnits());
    int height = -((vertical * 6) / 8);
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DRAFT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, "Helv");
}

// The fallback destination stays unless it is missing and the probe folder exists.
void ChooseDefaultDestination() {
    if (FsGetAttributes(Profile.DestinationFolder) == -1 &&
        FsGetAttributes(Product.ProbeFolder) != -1) {
        CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder,
                 Product.PreferredFolder);
    }
}

}  // namespace

int InstallerMain(void* instance, void*, char*, int) {
    DWORD length = GetModuleFileNameA((HMODULE)instance, State.MessageText, kMessageTextSize);
    // A path cut at the buffer's end is unusable; opening it fails below with its message.
    if (length >= kMessageTextSize) State.MessageText[kMessageTextSize - 1] = 0;
    CopyText(State.ProgramName, sizeof State.ProgramName, BaseName(State.MessageText));

    int result = OpenArchive();
    if (result < 0) ReportError(0, result, 0, false);
    if (result == 0) {
        State.Instance = instance;
        // The system's own button-face brush: nothing to create, nothing to delete.
        State.BackgroundBrush = GetSysColorBrush(COLOR_BTNFACE);
        // The font lives as long as the process: the system frees it at exit, just after.
        State.DialogFont = CreateDialogFont();
        ChooseDefaultDestination();
        DialogBoxParamA((HINSTANCE)instance, MAKEINTRESOURCEA(kMainDialog), 0, MainDialogProc, 0);
    }
    // The archive file stays open: the process ends right after, and its handles with it.
    return 0;
}
