// Prints the code pages that qar takes for --codepage, one line, separated by spaces. The
// build writes them into the bash completion (cmake/install.cmake), so that the completion
// offers exactly what this build of qar accepts.
#include <stdio.h>

#include "text/code_page_tables.h"

int main() {
    for (size_t i = 0; i < kCodePageTableCount; ++i) {
        printf(i == 0 ? "%d" : " %d", kCodePageTables[i].Number);
    }
    printf("\n");
    return 0;
}
