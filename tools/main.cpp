// `qar`: packs archives, builds installers, and lists, tests and extracts their payload.
#include <stdio.h>
#include <string.h>

#include "decode/crc32.h"
#include "tools/commands.h"
#include "ui/console.h"

namespace {

const char kUsage[] =
    "usage: qar COMMAND [options] ...\n"
    "\n"
    "commands:\n"
    "  pack    [options] -o OUT.qar PATH...   write an archive of files and folders\n"
    "  sfx     [options] -o OUT.exe PATH...   build an installer (stub + archive)\n"
    "  sfx     --archive FILE.qar -o OUT.exe  build an installer from an archive\n"
    "  list    [--json] FILE                  list the entries of an archive or installer\n"
    "  test    FILE                           decode every member and check its CRC-32\n"
    "  extract FILE [-d DIR] [-y | -n]        extract into DIR (default: current folder)\n"
    "  help [COMMAND]                         this text, or the options of COMMAND\n"
    "  --version                              the version of qar\n"
    "\n"
    "list, test and extract take --codepage N (default 1252): the code page of the names\n"
    "in the archive, shown and created as UTF-8.\n"
    "\n"
    "test and extract stop once a run has decoded more than --max-output SIZE bytes (default\n"
    "200 times the file's size, at least 1G); extract writes nothing when the files' declared\n"
    "sizes exceed the destination's free space.\n"
    "\n"
    "Run `qar COMMAND --help` for the options of a command.\n"
    "\n"
    "Exit status: 0 success; 1 damage in the archive, a member that failed its check, or a\n"
    "file that could not be read or written; 2 a usage error or an unusable input (nothing was\n"
    "done); 128+N when stopped by signal N (130: Ctrl-C, 143: SIGTERM).\n";

struct Command {
    const char* Name;
    int (*Run)(int, char**);
};

const Command kCommands[] = {
    {"pack", CmdPack}, {"sfx", CmdSfx}, {"list", CmdList}, {"test", CmdTest}, {"extract", CmdExtract},
};

const Command* Find(const char* name) {
    for (const Command& c : kCommands) {
        if (!strcmp(name, c.Name)) return &c;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("qar: no command given\nRun 'qar --help' for the commands.\n", stderr);
        return kExitUsage;
    }
    const char* first = argv[1];
    if (!strcmp(first, "--version") || !strcmp(first, "version")) {
        printf("qar %s\n", QAR_VERSION);
        return kExitSuccess;
    }
    auto isHelp = [](const char* word) {
        return !strcmp(word, "--help") || !strcmp(word, "-h") || !strcmp(word, "help");
    };
    bool help = isHelp(first);
    // "qar help", and help asked of help itself ("qar help -h"), print the commands.
    if (help && (argc == 2 || isHelp(argv[2]))) {
        fputs(kUsage, stdout);
        return kExitSuccess;
    }
    BuildCrcTable();
    const Command* command = Find(help ? argv[2] : first);
    if (command == nullptr) {
        // In "qar help NAME" the command typed is help; a first word that is no command
        // leaves only the program's name.
        fprintf(stderr, "qar%s: unknown command '%s'\nRun 'qar --help' for the commands.\n",
                !strcmp(first, "help") ? " help" : "", help ? argv[2] : first);
        return kExitUsage;
    }
    // The core's messages (the console's lines) name the command as well.
    TheConsoleSettings.Command = command->Name;
    if (help) {
        char option[] = "--help";
        char* words[] = {argv[2], option, nullptr};
        return command->Run(2, words);
    }
    return command->Run(argc - 1, argv + 1);
}
