#include <windows.h>

#include "tests/platform/fs_helpers.h"

bool ReadWriteTime(const std::string& path, CivilTime* civil) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME written, local;
    SYSTEMTIME st;
    bool ok = GetFileTime(h, nullptr, nullptr, &written) &&
              FileTimeToLocalFileTime(&written, &local) &&
              FileTimeToSystemTime(&local, &st);
    CloseHandle(h);
    if (ok) *civil = CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    return ok;
}

