// Placeholder until the command is written; replaced by its implementation.
#include <stdio.h>

#include "tools/commands.h"

int CmdExtract(int, char**) {
    fputs("qar: 'extract' is not available in this build\n", stderr);
    return 2;
}
