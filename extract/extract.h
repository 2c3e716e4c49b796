// The extraction loop behind the Extract command.
#pragma once

#include <stdint.h>

#include "ui/ui.h"

// Extracts every entry into the folder in Profile.DestinationFolder. Returns 0 or a negative
// error code for the caller to report; errors of single entries are reported here.
int ExtractAll(WindowHandle dialog);
