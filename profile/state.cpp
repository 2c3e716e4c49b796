#include "profile/state.h"

ExtractorState State;
