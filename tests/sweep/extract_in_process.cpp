// One extraction as the installer does it: start-up's header read, then the Extract command.
#include <string.h>

#include "extract/extract.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/sweep/sweep.h"

namespace {

WindowHandle const kDialog = (WindowHandle)0x5EE9;

}  // namespace

RunResult ExtractInProcess(const std::string& archivePath, const std::string& destination) {
    RunResult result;
    TheFakeUi.Reset();
    State.LastSystemError = 0;
    Profile.CancelRequested = 0;
    Profile.OverwriteWithoutPrompt = 1;
    Profile.ArchiveBase = 0;
    CopyText(State.ProgramName, kProgramNameSize, "archive.qar");

    State.ArchiveFile = FsOpen(qartest::CorePath(archivePath).c_str(), kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) {
        ReportError(nullptr, ErrOpen, nullptr, false);
    } else {
        uint8_t header[kArchiveHeaderSize];
        int32_t n = FsRead(State.ArchiveFile, header, kArchiveHeaderSize);
        if (n != (int32_t)kArchiveHeaderSize) {
            ReportError(nullptr, ErrRead, nullptr, false);
        } else {
            ReadArchiveHeader(header, &State.Header);
            if (State.Header.EntryCount == 0) {
                ShowMessage(nullptr, "Archive contains no files", kBoxOk);
            } else {
                memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
                CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder,
                         qartest::CorePath(destination).c_str());
                result.Code = ExtractAll(kDialog);
                if (result.Code != 0) ReportError(kDialog, result.Code, nullptr, false);
            }
        }
        FsClose(State.ArchiveFile);
        State.ArchiveFile = kInvalidHandle;
    }
    for (const FakeUi::Message& m : TheFakeUi.Messages) result.Messages.push_back(m.Text);
    return result;
}
