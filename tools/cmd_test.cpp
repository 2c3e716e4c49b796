// Placeholder until the command is written; replaced by its implementation.
#include <stdio.h>

#include "tools/commands.h"

int CmdTest(int, char**) {
    fputs("qar: 'test' is not available in this build\n", stderr);
    return 2;
}
