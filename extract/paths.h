// Path handling: 8.3 shortening, folder trees and byte-string helpers.
#pragma once

#include <stdint.h>

void MakeShortPath(char* path);
char* ShortenComponent(char* output, const char* first, const char* end);
int CreateFolderTree(const char* path);

char* FindChar(const char* text, char c);
char* FindLastChar(const char* text, char c);
const uint8_t* FindByte(const uint8_t* start, uint8_t byte, uint32_t count);
int CompareBytes(const void* a, const void* b, uint32_t count);
