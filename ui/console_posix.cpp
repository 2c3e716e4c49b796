// The user interface of the Linux `qar` tool: message boxes become lines on standard error,
// questions are asked on the terminal, progress goes to standard output, and there are no
// messages to pump and no program to start.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "profile/profile.h"
#include "ui/console.h"
#include "extract/user_interface.h"

ConsoleSettings TheConsoleSettings;
ConsoleRecord TheConsoleRecord;

namespace {

// Reads one answer line from the terminal; returns its first non-blank character, or 0 at
// the end of input.
int ReadAnswer() {
    char line[64];
    if (fgets(line, sizeof line, stdin) == nullptr) return 0;
    for (const char* p = line; *p != 0; ++p) {
        if (*p != ' ' && *p != '\t') return *p == '\n' ? '\n' : *p;
    }
    return '\n';
}

bool Interactive() { return isatty(STDIN_FILENO) != 0; }

}  // namespace

int ShowMessage(WindowHandle, const char* text, uint32_t style) {
    ++TheConsoleRecord.MessagesShown;
    if (TheConsoleSettings.Silent) return kAnswerOk;
    fprintf(stderr, "qar: %s\n", text);
    if ((style & 0x0F) != kBoxOkCancel) return kAnswerOk;
    if (!Interactive()) {
        // Nobody to ask: stop rather than go on past a problem unseen.
        fputs("qar: no terminal to ask; answering Cancel\n", stderr);
        return kAnswerCancel;
    }
    for (;;) {
        fputs("[o]k to go on, [c]ancel to stop? ", stderr);
        fflush(stderr);
        int c = ReadAnswer();
        if (c == 0 || c == 'c' || c == 'C') return kAnswerCancel;
        if (c == 'o' || c == 'O' || c == '\n') return kAnswerOk;
    }
}

int AskOverwrite() {
    if (TheConsoleSettings.Overwrite == kConsoleReplace) return kOverwriteYes;
    if (TheConsoleSettings.Overwrite == kConsoleKeep) return kOverwriteNo;
    if (!Interactive()) {
        fprintf(stderr, "qar: \"%s\" exists; no terminal to ask, keeping it (use -y to replace)\n",
                Profile.DestinationFolder);
        return kOverwriteNo;
    }
    for (;;) {
        fprintf(stderr, "File \"%s\" already exists. replace? [y]es/[n]o/[A]ll ",
                Profile.DestinationFolder);
        fflush(stderr);
        int c = ReadAnswer();
        if (c == 0 || c == 'n' || c == 'N') return kOverwriteNo;
        if (c == 'y' || c == 'Y') return kOverwriteYes;
        if (c == 'A' || c == 'a') return kOverwriteYesToAll;
    }
}

void SetControlText(WindowHandle, int, const char* text) {
    if (TheConsoleSettings.Quiet) return;
    fprintf(stdout, "%s\n", text);
}

void PumpMessages() {}

void StartProgram(const char*) {}
