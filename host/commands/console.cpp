#include "commands/console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "win/text.h"

namespace zvscan {
namespace {

Progress* shownProgress = nullptr;
std::atomic<bool> interrupted{false};
HANDLE interruptEvent = nullptr;

// The --output file while it is written, and the name it takes when whole.
std::FILE* outputFile = nullptr;
std::wstring outputTemporary, outputFinal;
// The first failure of a write of the output, said once by FinishOutput.
std::string outputError;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = true;
    if (interruptEvent) SetEvent(interruptEvent);
    return TRUE;
}

// Why the C runtime's last write failed: the system's error when it set one, else errno's text.
std::string LastWriteError() {
    DWORD error = GetLastError();
    std::string message = error ? SystemMessage(error) : std::string();
    if (!message.empty()) return message + " (error " + std::to_string(error) + ")";
    return std::strerror(errno);
}

void FailOutput(const std::string& why) {
    if (outputError.empty()) outputError = why;
}

std::FILE* OutputStream() { return outputFile ? outputFile : stdout; }

void WriteError(const std::string& text) {
    std::fflush(OutputStream());
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

bool Write(std::FILE* stream, const std::string& text) {
    if (shownProgress) shownProgress->End();
    if (stream != stdout) {
        WriteError(text);
        return true;
    }
    if (!outputError.empty()) return false;
    SetLastError(0);
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), OutputStream()) != text.size()) {
        FailOutput(LastWriteError());
        return false;
    }
    return true;
}

bool RedirectOutput(const std::wstring& path) {
    outputFinal = path;
    outputTemporary = path + L".zvscan-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE handle = CreateFileW(outputTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        WriteError("zvscan: cannot create " + Utf8(outputTemporary) + " for --output: " +
                   SystemMessage(GetLastError(), outputTemporary) + "\n");
        return false;
    }
    // The stream owns the handle from here on: fclose closes it.
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    outputFile = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
    if (outputFile) return true;
    if (descriptor == -1) {
        CloseHandle(handle);
    } else {
        _close(descriptor);
    }
    DeleteFileW(outputTemporary.c_str());
    WriteError("zvscan: cannot open " + Utf8(outputTemporary) + " for --output\n");
    return false;
}

bool FinishOutput(bool keep) {
    std::FILE* stream = OutputStream();
    SetLastError(0);
    errno = 0;
    if (std::fflush(stream) != 0) FailOutput(LastWriteError());
    if (outputFile) {
        // On disk before it takes the name: a crash then leaves the old file or the whole new one.
        HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(outputFile)));
        if (outputError.empty() && keep && !FlushFileBuffers(handle)) FailOutput(LastWriteError());
        if (std::fclose(outputFile) != 0) FailOutput(LastWriteError());
        outputFile = nullptr;
        if (outputError.empty() && keep &&
            !MoveFileExW(outputTemporary.c_str(), outputFinal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            FailOutput("cannot put it in place: " + SystemMessage(GetLastError()));
        DeleteFileW(outputTemporary.c_str());
    }
    if (outputError.empty()) return true;
    std::string where = outputFinal.empty() ? "the output" : Utf8(outputFinal);
    WriteError("zvscan: cannot write " + where + ": " + outputError +
               (outputFinal.empty() ? "; what was written is incomplete\n" : "; it was left as it was\n"));
    return false;
}

bool OutputFailed() { return !outputError.empty(); }

bool FlushOutput() {
    if (!outputError.empty()) return false;
    if (outputFile) return true;  // the --output file is whole or nothing: nobody reads it meanwhile
    SetLastError(0);
    errno = 0;
    if (std::fflush(stdout) != 0) FailOutput(LastWriteError());
    return outputError.empty();
}

size_t OutputWidth() {
    if (outputFile) return 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 0 ? static_cast<size_t>(width) : 0;
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
