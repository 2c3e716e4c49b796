// Placeholder until the command is written; replaced by its implementation.
#include <stdio.h>

#include "tools/commands.h"

int CmdPack(int, char**) {
    fputs("qar: 'pack' is not available in this build\n", stderr);
    return 2;
}
