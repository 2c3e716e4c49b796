// A scripted user interface for tests: records every message, progress text and prompt, and
// answers questions from queues that the test fills beforehand.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "extract/user_interface.h"

struct FakeUi {
    struct Message {
        WindowHandle Owner;
        std::string Text;
        unsigned Style;
    };
    std::vector<Message> Messages;
    std::vector<std::string> Progress;        // texts given to SetControlText
    std::vector<std::string> OverwritePrompts;  // the path each prompt was shown for
    std::vector<std::string> StartedPrograms;
    std::deque<int> MessageAnswers;           // default kAnswerOk
    std::deque<int> OverwriteAnswers;         // default kOverwriteYes
    int PumpCount = 0;
    // Called from PumpMessages; lets a test act "while the extraction runs" (e.g. cancel).
    void (*OnPump)(int pumpCount) = nullptr;

    void Reset() { *this = FakeUi(); }
};

extern FakeUi TheFakeUi;
