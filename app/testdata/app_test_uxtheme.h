// What the test library named like the visual-styles library records of the calls it answers.
#pragma once

#include "platform/base/types.h"

struct ThemeTestCalls {
    BOOL active = TRUE;
    int opens = 0;
    int closes = 0;
    int parentBackgrounds = 0;
    int backgrounds = 0;
    int lastPart = 0;
    int lastState = 0;
    RECT lastRect{};
};

using ThemeTestSetActiveProc = void (*)(BOOL active);
using ThemeTestCallsProc = void (*)(ThemeTestCalls* out, BOOL reset);
