#include "tests/support/fake_ui.h"

FakeUi TheFakeUi;

int ShowMessage(WindowHandle owner, const char* text, uint32_t style) {
    TheFakeUi.Messages.push_back({owner, text, style});
    if (TheFakeUi.MessageAnswers.empty()) return kAnswerOk;
    int answer = TheFakeUi.MessageAnswers.front();
    TheFakeUi.MessageAnswers.pop_front();
    return answer;
}

int AskOverwrite(const char* path) {
    TheFakeUi.OverwritePrompts.push_back(path);
    if (TheFakeUi.OverwriteAnswers.empty()) return kOverwriteYes;
    int answer = TheFakeUi.OverwriteAnswers.front();
    TheFakeUi.OverwriteAnswers.pop_front();
    return answer;
}

void SetControlText(WindowHandle, int, const char* text) { TheFakeUi.Progress.push_back(text); }

void PumpMessages() {
    ++TheFakeUi.PumpCount;
    if (TheFakeUi.OnPump) TheFakeUi.OnPump(TheFakeUi.PumpCount);
}

void StartProgram(const char* commandLine) { TheFakeUi.StartedPrograms.push_back(commandLine); }
