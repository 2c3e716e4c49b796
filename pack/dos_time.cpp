#include "pack/dos_time.h"

#include <time.h>

#include "archive/records.h"

void UnixTimeToDos(int64_t seconds, bool utc, uint16_t* date, uint16_t* time) {
    const time_t t = (time_t)seconds;
    struct tm local;
    CivilTime civil = {1980, 1, 1, 0, 0, 0};
    if (utc ? gmtime_r(&t, &local) : localtime_r(&t, &local)) {
        civil = CivilTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec};
    } else if (seconds > 0) {
        civil = CivilTime{2107, 12, 31, 23, 59, 58};
    }
    CivilToDos(civil, date, time);
}
