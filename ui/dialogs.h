// The dialog procedures of the installer (Win32 only): the main dialog (resource 1) and the
// overwrite prompt (resource 2).
#pragma once

#include <windows.h>

#include "ui/resource_ids.h"

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OverwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
