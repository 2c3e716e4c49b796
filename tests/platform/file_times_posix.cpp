#include <sys/stat.h>
#include <time.h>

#include "tests/platform/fs_helpers.h"

bool ReadWriteTime(const std::string& path, CivilTime* civil) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    struct tm local;
    if (localtime_r(&st.st_mtime, &local) == nullptr) return false;
    *civil = CivilTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                       local.tm_hour, local.tm_min, local.tm_sec};
    return true;
}
