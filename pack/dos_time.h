// File-system times as the DOS date and time words of a directory entry: in the packing
// machine's local time, or in UTC where the archive must not depend on the time zone.
#pragma once

#include <stdint.h>

// seconds: a Unix time. Times before 1980 or after 2107 are clamped to the DOS range;
// seconds are rounded down to even.
void UnixTimeToDos(int64_t seconds, bool utc, uint16_t* date, uint16_t* time);
