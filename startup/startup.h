// The start-up sequence of the installer and its integrity check.
#pragma once

#include <stdint.h>

// Runs the installer from start to end: opens and checks the program's own file, reads the
// archive header, prepares the dialogs' font and brush, picks the default destination, runs
// the main dialog. Always returns 0: the process exit code never varies.
int InstallerMain(void* instance, void* previousInstance, char* commandLine, int showState);

// Checks the first Profile.StubSize bytes of State.ArchiveFile, read from its position (the
// file's start: it was just opened), against the integrity words. 0 when intact (ArchiveBase
// is then set, and the file positioned there), ErrNoMemory, ErrRead, or ErrSilent after showing
// the altered-image message.
int VerifyOwnImage();
