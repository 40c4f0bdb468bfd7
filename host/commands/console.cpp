#include "commands/console.h"

#include <windows.h>

#include <atomic>

namespace zvscan {
namespace {

Progress* shownProgress = nullptr;
std::atomic<bool> interrupted{false};
HANDLE interruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = true;
    if (interruptEvent) SetEvent(interruptEvent);
    return TRUE;
}

}  // namespace

void Write(std::FILE* stream, const std::string& text) {
    if (shownProgress) shownProgress->End();
    if (stream == stderr) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stream);
    if (stream == stderr) std::fflush(stderr);
}

void ShowProgress(Progress* progress) { shownProgress = progress; }

void WatchInterrupts() {
    interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Interrupted() { return interrupted; }

bool InterruptedWhileReading() {
    if (interruptEvent && !interrupted) WaitForSingleObject(interruptEvent, 200);
    return interrupted;
}

}  // namespace zvscan
