// Placeholder until the command is written; replaced by its implementation.
#include <stdio.h>

#include "tools/commands.h"

int CmdSfx(int, char**) {
    fputs("qar: 'sfx' is not available in this build\n", stderr);
    return 2;
}
