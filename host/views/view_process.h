// The other build of zvscan run as a helper for the other registry view: started in its internal
// mode (`zvscan view-scan`), it writes its items as JSON Lines to a pipe that a thread of this
// process drains into a queue while this process scans its own view.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win/handles.h"

namespace zvscan {

class ViewProcess {
public:
    enum class Stream { Open, Whole, Broken };

    ViewProcess() = default;
    ~ViewProcess();
    ViewProcess(const ViewProcess&) = delete;
    ViewProcess& operator=(const ViewProcess&) = delete;

    // False, with `problem` set, when the program cannot be started.
    bool Start(const std::wstring& program, const std::wstring& arguments, std::string& problem);
    // Appends the lines that have come since the last call, waiting up to `waitMs` when none has.
    // Open while more may come; Whole once the end record has been handed out, Broken once the
    // output ended without it.
    Stream Read(std::vector<std::string>& lines, DWORD waitMs);
    // Waits for the process and the thread. False, with `problem` set, when it did not end its scan.
    bool Finish(std::string& problem);

private:
    class Lock;
    static DWORD WINAPI Drain(void* self);
    void DrainPipe();

    FileHandle process_;
    FileHandle readEnd_;
    FileHandle reader_;  // the thread that drains the pipe
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE arrived_ = CONDITION_VARIABLE_INIT;
    // Under the lock: the lines not handed out yet, and how the output ended.
    std::vector<std::string> queued_;
    bool drained_ = false, whole_ = false, outOfMemory_ = false, wroteLine_ = false;
    ULONGLONG exitSeen_ = 0;  // when Read first saw the process ended
};

// Runs the program with the arguments, its standard handles this process's own, and waits for it:
// its exit code, or nothing (with `problem` set) when it cannot be started.
bool RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD& exitCode, std::string& problem);

}  // namespace zvscan
