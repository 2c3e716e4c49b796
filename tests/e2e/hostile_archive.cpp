// Writes an archive with a hostile entry name for tests/e2e/hostile_names: "first.txt", the
// entry NAME (a file holding the marker bytes "hostile!", or a folder), then "last.txt".
//
//   hostile_archive file|folder NAME OUT.qar
#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/support/archive_builder.h"

int main(int argc, char** argv) {
    if (argc != 4 || (strcmp(argv[1], "file") != 0 && strcmp(argv[1], "folder") != 0)) {
        fputs("usage: hostile_archive file|folder NAME OUT.qar\n", stderr);
        return 2;
    }
    qartest::ArchiveBuilder b;
    b.AddFile("first.txt", {'s', 'o', 'u', 'n', 'd'});
    if (!strcmp(argv[1], "file")) {
        b.AddFile(argv[2], {'h', 'o', 's', 't', 'i', 'l', 'e', '!'});
    } else {
        b.AddFolder(argv[2]);
    }
    b.AddFile("last.txt", {'s', 'o', 'u', 'n', 'd'});
    qartest::WriteWholeFile(argv[3], b.Build());
    return 0;
}
