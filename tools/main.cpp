// `qar`: packs archives, builds installers, and lists, tests and extracts their payload.
#include <stdio.h>
#include <string.h>

#include "decode/crc32.h"
#include "tools/commands.h"

namespace {

const char kUsage[] =
    "usage: qar COMMAND [options] ...\n"
    "\n"
    "commands:\n"
    "  pack    [options] -o OUT.qar PATH...   write an archive of files and folders\n"
    "  sfx     [options] -o OUT.exe PATH...   build an installer (stub + archive)\n"
    "  sfx     --archive FILE.qar -o OUT.exe  build an installer from an archive\n"
    "  list    FILE                           list the entries of an archive or installer\n"
    "  test    FILE                           decode every member and check its CRC-32\n"
    "  extract FILE [-d DIR] [-y | -n]        extract into DIR (default: current folder)\n"
    "\n"
    "test and extract stop once a run has decoded more than --max-output SIZE bytes (default\n"
    "200 times the file's size, at least 1G); extract writes nothing when the files' declared\n"
    "sizes exceed the destination's free space.\n"
    "\n"
    "Run `qar COMMAND --help` for the options of a command.\n";

struct Command {
    const char* Name;
    int (*Run)(int, char**);
};

const Command kCommands[] = {
    {"pack", CmdPack}, {"sfx", CmdSfx}, {"list", CmdList}, {"test", CmdTest}, {"extract", CmdExtract},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    BuildCrcTable();
    for (const Command& c : kCommands) {
        if (!strcmp(argv[1], c.Name)) return c.Run(argc - 1, argv + 1);
    }
    fprintf(stderr, "qar: unknown command '%s'\n\n%s", argv[1], kUsage);
    return 2;
}
