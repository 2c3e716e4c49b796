// Path handling: 8.3 shortening, folder trees and byte-string helpers.
#pragma once

#include <stdint.h>
#include <string.h>

void MakeShortPath(char* path);
char* ShortenComponent(char* output, const char* first, const char* end);
int CreateFolderTree(const char* path);
// True when name, placed under a folder, names something inside that folder: no drive
// prefix or colon, no leading separator, no empty inner component, and no component made
// only of full stops and spaces (".." and the names Windows reads as it). Nor may it alias
// something other than its own file: no control characters, no component ending in a full
// stop or a space, no device name (CON, NUL, COM1, ...). Both slashes count as separators.
bool IsContainedName(const char* name);
// True when the component [first, end) names a device on Windows: CON, PRN, AUX, NUL, COM1
// to COM9, LPT1 to LPT9, CONIN$ or CONOUT$, in any case, with any extension and with spaces
// before it. `qar` refuses such names in what it packs and in the product's folders by this
// same rule.
bool IsDeviceName(const char* first, const char* end);

char* FindChar(const char* text, char c);
char* FindLastChar(const char* text, char c);
const uint8_t* FindByte(const uint8_t* start, uint8_t byte, uint32_t count);
