// The size of an icon in pixels, as MAKELONG(width, height), 0 for no icon or one that
// cannot be read; shared by the test driver and the hook it places in installers.
#pragma once

#include <windows.h>

inline DWORD IconPixels(HICON icon) {
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    // Without a colour bitmap the mask holds the AND and XOR halves one above the other.
    if (!info.hbmColor) bitmap.bmHeight /= 2;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return MAKELONG(bitmap.bmWidth, bitmap.bmHeight);
}
