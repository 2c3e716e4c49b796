// What Windows allows in a file or folder name, for everything `qar` writes that the
// installer turns into a path: the names it packs and the product's folders and program.
// The rules are those the installer applies when it extracts (IsContainedName, whose device
// rule this calls), and stricter where Windows itself would refuse the name.
#pragma once

#include <string>

// The problem of one name component in the archive's code page (no separators in it), as
// a phrase that follows the word "name" ("ends with a dot or a space"); empty when Windows
// allows it.
std::string WindowsNameProblem(const std::string& component);
