// Entry names of the open archive as `qar list | test | extract` show and judge them: in
// the name code page, printable on a terminal, and refused where the extraction loop would
// refuse them.
#pragma once

#include <string>

// An entry name as it may be shown on a terminal: control characters (and DEL) as \xNN, so
// that a hostile name can neither send escape sequences nor hide behind a NUL or a return.
std::string PrintableName(const std::string& name);

// The code page that entry names of the open archive are read in (`--codepage N` of list,
// test and extract; 1252 unless set). Setting it also makes the file-system layer create
// names beneath the destination in UTF-8. False for a code page that is not supported.
bool SetNameCodePage(int codePage);
int NameCodePage();
// An entry name (code page bytes, backslashes) as a Linux user reads it: UTF-8, '/' between
// components. ShownName also escapes control characters as PrintableName does.
std::string NameInUtf8(const std::string& name);
std::string ShownName(const std::string& name);
// Why the extraction loop would refuse an entry's name, or "" when it would place it: a NUL
// byte, a name that is empty, longer than a Windows path holds, or that leaves the
// destination or aliases another file (IsContainedName, which holds control characters among
// those). list, test and extract all judge names by this.
std::string EntryNameProblem(const std::string& name);
