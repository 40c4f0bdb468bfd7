// The other build of zvscan run as a helper for the other registry view: started in its internal
// mode (`zvscan view-scan`), it writes its items as JSON Lines to a pipe that a thread of this
// process drains while this process scans its own view.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win/handles.h"

namespace zvscan {

class ViewProcess {
public:
    ViewProcess() = default;
    ~ViewProcess();
    ViewProcess(const ViewProcess&) = delete;
    ViewProcess& operator=(const ViewProcess&) = delete;

    // False, with `problem` set, when the program cannot be started.
    bool Start(const std::wstring& program, const std::wstring& arguments, std::string& problem);
    // Waits for the scan's end record (or the end of the output) and the process; the lines it wrote
    // and its exit code. False, with `problem` set, when it did not end its scan.
    bool Finish(std::vector<std::string>& lines, std::string& problem);

private:
    static DWORD WINAPI Drain(void* self);

    FileHandle process_;
    FileHandle readEnd_;
    FileHandle reader_;  // the thread that drains the pipe
    std::string output_;
};

// Runs the program with the arguments, its standard handles this process's own, and waits for it:
// its exit code, or nothing (with `problem` set) when it cannot be started.
bool RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD& exitCode, std::string& problem);

}  // namespace zvscan
