// The dialog procedures of the installer (Win32 only): the main dialog (resource 1) and the
// overwrite prompt (resource 2).
#pragma once

#include <windows.h>

#include "ui/resource_ids.h"

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OverwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Sets a dialog's caption to the profile's title and its icons to the image's icon group 1
// (when it has one), and gives controls firstControl to lastControl the dialogs' font.
void DressDialog(HWND dialog, int firstControl, int lastControl);

// The dialogs' background: the button-face brush for the dialog and its buttons and static
// texts (drawn transparently on it); FALSE for every other message.
INT_PTR PaintBackground(UINT message, WPARAM wParam);
