// The installer counts nothing: its user sees the progress and can cancel. Optimised across
// files, these calls and the tests on their results leave no code behind.
#include "decode/work_limit.h"

bool CountDecoded(uint32_t) { return true; }

bool CountWritten(uint32_t) { return true; }
