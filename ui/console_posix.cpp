// The user interface of the Linux `qar` tool: message boxes become lines on standard error,
// questions are asked on the terminal, progress goes to standard output, and there are no
// messages to pump and no program to start.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "extract/user_interface.h"
#include "platform/errors.h"
#include "platform/fs_posix.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "ui/console.h"

ConsoleSettings TheConsoleSettings;
ConsoleRecord TheConsoleRecord;

namespace {

const int kInterrupted = -1;

// Reads one answer line from the terminal; returns its first non-blank character, 0 at the
// end of input, or kInterrupted once a signal asked the run to stop (the `qar` tool's
// handlers do not restart the read, so the wait ends with the signal). Both end the prompt's
// line first, so that what follows starts a line.
int ReadAnswer() {
    char line[64];
    if (Profile.CancelRequested || fgets(line, sizeof line, stdin) == nullptr) {
        fputc('\n', stderr);
        if (!Profile.CancelRequested) return 0;
        clearerr(stdin);
        return kInterrupted;
    }
    for (const char* p = line; *p != 0; ++p) {
        if (*p != ' ' && *p != '\t') return *p == '\n' ? '\n' : *p;
    }
    return '\n';
}

bool Interactive() { return isatty(STDIN_FILENO) != 0; }

// What the lines start with: "qar" and the command the user typed.
std::string Prefix() {
    const char* command = TheConsoleSettings.Command;
    return command != nullptr ? std::string("qar ") + command : std::string("qar");
}

std::string ShownPath(const char* path) {
    if (TheConsoleSettings.ShowPath != nullptr) return TheConsoleSettings.ShowPath(path);
    std::string text = path;
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

// The system's reason for the last failure of the file-system layer, when the line the core
// gave as the reason (from its error number) is about that failure; "" otherwise. A link
// keeps the core's own words, which say more than "too many levels of symbolic links".
std::string SystemReason(const std::string& reason) {
    int32_t number;
    int error = FsLastErrno(&number);
    if (error == 0 || error == ELOOP) return "";
    int32_t saved = State.LastSystemError;
    State.LastSystemError = number;
    bool same = reason == SystemErrorSuffix() + 1;
    State.LastSystemError = saved;
    return same ? strerror(error) : "";
}

// A message of the core as one Linux line: the path of the entry at hand (State.OutputPath)
// as the user reads it, and the second line joined on, after a colon when it is the reason a
// system call gave (then in the system's words), after a space when it goes on with the
// sentence.
std::string OneLine(const char* text) {
    std::string line = text;
    std::string reason;
    size_t split = line.find('\n');
    if (split != std::string::npos) {
        reason = line.substr(split + 1);
        line.resize(split);
    }
    const char* path = State.OutputPath;
    size_t at = path[0] != 0 ? line.find(path) : std::string::npos;
    if (at != std::string::npos) {
        line.replace(at, strlen(path), ShownPath(path));
    } else {
        for (char& c : line) {
            if (c == '\\') c = '/';
        }
    }
    if (reason.empty()) return line;
    bool sentenceGoesOn = reason[0] >= 'a' && reason[0] <= 'z';
    if (sentenceGoesOn) return line + " " + reason;
    std::string system = SystemReason(reason);
    return line + ": " + (system.empty() ? reason : system);
}

}  // namespace

int ShowMessage(WindowHandle, const char* text, uint32_t style) {
    ++TheConsoleRecord.MessagesShown;
    if (TheConsoleSettings.Silent) return kAnswerOk;
    std::string line = OneLine(text);
    // A hostile archive can fail entry after entry: the summary repeats the first lines only.
    if (TheConsoleRecord.Problems.size() < kConsoleProblemsKept) TheConsoleRecord.Problems.push_back(line);
    fprintf(stderr, "%s: %s\n", Prefix().c_str(), line.c_str());
    if ((style & 0x0F) != kBoxOkCancel) return kAnswerOk;
    // Nobody to ask: the member at hand is given up (a file that failed its check has been
    // deleted already) and the run goes on; the summary lists every problem.
    if (!Interactive()) return kAnswerOk;
    for (;;) {
        fputs("[o]k to go on, [c]ancel to stop? ", stderr);
        fflush(stderr);
        int c = ReadAnswer();
        if (c == kInterrupted || c == 0 || c == 'c' || c == 'C') return kAnswerCancel;
        if (c == 'o' || c == 'O' || c == '\n') return kAnswerOk;
    }
}

int AskOverwrite(const char* file) {
    if (TheConsoleSettings.Overwrite == kConsoleReplace) return kOverwriteYes;
    if (TheConsoleSettings.Overwrite == kConsoleKeep) return kOverwriteNo;
    const std::string path = ShownPath(file);
    if (!Interactive()) {
        fprintf(stderr, "%s: %s exists; no terminal to ask, keeping it (use -y to replace)\n",
                Prefix().c_str(), path.c_str());
        return kOverwriteNo;
    }
    for (;;) {
        fprintf(stderr, "%s already exists. Replace? [y]es/[n]o/[A]ll/[N]one/[q]uit ",
                path.c_str());
        fflush(stderr);
        switch (ReadAnswer()) {
            case 'y': return kOverwriteYes;
            case 'A': return kOverwriteYesToAll;
            case 0:     // no more answers: none of the later files is replaced either
            case 'N':
                TheConsoleSettings.Overwrite = kConsoleKeep;
                return kOverwriteNo;
            case 'q':
                // Ends the run at the next entry, as Ctrl-C does; this file is kept.
                Profile.CancelRequested = 1;
                return kOverwriteNo;
            case kInterrupted: return kOverwriteNo;   // the run ends before the next entry
            case 'n': return kOverwriteNo;
            default: break;
        }
    }
}

void SetControlText(WindowHandle, int, const char* text) {
    if (TheConsoleSettings.Quiet) return;
    if (!TheConsoleSettings.Verbose && !isatty(STDOUT_FILENO)) return;
    // The progress line is "Extracting NAME", NAME the entry's name in the archive.
    const char* verb = "Extracting ";
    const size_t n = strlen(verb);
    if (strncmp(text, verb, n) == 0 && TheConsoleSettings.ShowPath != nullptr) {
        fprintf(stdout, "%s%s\n", verb, TheConsoleSettings.ShowPath(text + n).c_str());
    } else {
        fprintf(stdout, "%s\n", text);
    }
}

void PumpMessages() {}

void StartProgram(const char*) {}
