// Name components (code page 1252 bytes) and what becomes of them. The installer's check of
// the names it extracts and `qar`'s checks of the names it packs and of the product's
// folders are tested against these same lists, so that the two sides cannot drift apart.
#pragma once

namespace qartest {

// Refused on both sides: Windows would make them another file's name, a device or a
// stream, or they hold a control character.
inline const char* const kAliasingNames[] = {
    ".", "..", "...", ". .", "a.", "b ", "CON", "con.txt", "Nul", "aux .h", "PRN", "COM1",
    "lpt9.log", "conin$", "CONOUT$.x", "LPT\xB9", "com\xB3.txt", "a:b", "tab\tx", "a\x01" "b",
};

// Refused where `qar` writes them; the installer leaves them to Windows, which refuses to
// create them.
inline const char* const kForbiddenCharacterNames[] = {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b"};

// Accepted on both sides.
inline const char* const kSoundNames[] = {
    "a", "..a", "a...b", ".profile", "x y", "nul1", "com0", "COM10", "com", "console",
    "CONx.txt", "x.con", "lpt\xB4", "caf\xE9",
};

}  // namespace qartest
