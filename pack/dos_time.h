// File-system times as the DOS date and time words of a directory entry, in local time.
#pragma once

#include <stdint.h>

// seconds: a Unix time. Times before 1980 or after 2107 are clamped to the DOS range;
// seconds are rounded down to even.
void UnixTimeToDos(int64_t seconds, uint16_t* date, uint16_t* time);
