#include "views/view_process.h"

#include <iterator>

#include "win/text.h"

namespace zvscan {
namespace {

constexpr char kEndRecord[] = "{\"scan_end\":";

// A process handle closes with CloseHandle like a file's; FileHandle owns either.
FileHandle StartProcess(const std::wstring& program, const std::wstring& arguments, STARTUPINFOW& startup,
                        std::string& problem) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        DWORD error = GetLastError();
        problem = "cannot start " + Utf8(program) + ": " + SystemMessage(error, program) + " (error " +
                  std::to_string(error) + ")";
        return FileHandle();
    }
    CloseHandle(process.hThread);
    return FileHandle(process.hProcess);
}

}  // namespace

// A waiting read that inheriting services keep open is given up this long after the helper ended.
constexpr ULONGLONG kAfterExitMs = 5000;

class ViewProcess::Lock {
public:
    explicit Lock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Lock() { ReleaseSRWLockExclusive(&lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    SRWLOCK& lock_;
};

ViewProcess::~ViewProcess() {
    if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.Get(), 1);
    if (reader_) {
        CancelSynchronousIo(reader_.Get());  // a read that inheriting services keep waiting
        WaitForSingleObject(reader_.Get(), INFINITE);
    }
}

bool ViewProcess::Start(const std::wstring& program, const std::wstring& arguments, std::string& problem) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) {
        problem = "cannot create a pipe: " + SystemMessage(GetLastError());
        return false;
    }
    readEnd_ = FileHandle(readEnd);
    FileHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    process_ = StartProcess(program, arguments, startup, problem);
    if (!process_) return false;
    HANDLE thread = CreateThread(nullptr, 0, Drain, this, 0, nullptr);
    if (!thread) {
        problem = "cannot start a thread: " + SystemMessage(GetLastError());
        return false;
    }
    reader_ = FileHandle(thread);
    return true;
}

DWORD WINAPI ViewProcess::Drain(void* self) {
    auto& view = *static_cast<ViewProcess*>(self);
    try {
        view.DrainPipe();
    } catch (...) {
        // Nothing leaves the thread: the output counts as ended short.
        Lock lock(view.lock_);
        view.outOfMemory_ = true;
    }
    {
        Lock lock(view.lock_);
        view.drained_ = true;
    }
    WakeAllConditionVariable(&view.arrived_);
    return 0;
}

void ViewProcess::DrainPipe() {
    // Services the helper's scan starts may inherit the pipe and keep it open: the end record, not
    // the end of the pipe, ends the scan's output.
    std::string partial;
    std::vector<std::string> lines;
    char buffer[1 << 16];
    DWORD read = 0;
    bool ended = false;
    while (!ended && ReadFile(readEnd_.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        partial.append(buffer, read);
        size_t start = 0;
        for (size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
            size_t length = end - start - (end > start && partial[end - 1] == '\r');
            lines.emplace_back(partial, start, length);
            ended = lines.back().compare(0, sizeof(kEndRecord) - 1, kEndRecord) == 0;
            if (ended) break;
        }
        partial.erase(0, start);
        if (lines.empty()) continue;
        {
            Lock lock(lock_);
            queued_.insert(queued_.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
            whole_ = ended;
            wroteLine_ = true;
        }
        lines.clear();
        WakeAllConditionVariable(&arrived_);
    }
}

ViewProcess::Stream ViewProcess::Read(std::vector<std::string>& lines, DWORD waitMs) {
    bool drained = false, whole = false, came = false;
    {
        Lock lock(lock_);
        if (queued_.empty() && !drained_ && waitMs) SleepConditionVariableSRW(&arrived_, &lock_, waitMs, 0);
        came = !queued_.empty();
        lines.insert(lines.end(), std::make_move_iterator(queued_.begin()), std::make_move_iterator(queued_.end()));
        queued_.clear();
        drained = drained_;
        whole = whole_;
    }
    if (drained) return whole ? Stream::Whole : Stream::Broken;
    if (!came && WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0) {
        // What the helper wrote is in the pipe once it has ended; a service that inherited the pipe
        // can only keep the reader waiting for more.
        ULONGLONG now = GetTickCount64();
        if (exitSeen_ == 0) exitSeen_ = now;
        if (now - exitSeen_ > kAfterExitMs) CancelSynchronousIo(reader_.Get());
    }
    return Stream::Open;
}

bool ViewProcess::Finish(std::string& problem) {
    DWORD exitCode = 1;
    WaitForSingleObject(process_.Get(), INFINITE);
    if (!GetExitCodeProcess(process_.Get(), &exitCode)) exitCode = 1;
    if (WaitForSingleObject(reader_.Get(), static_cast<DWORD>(kAfterExitMs)) == WAIT_TIMEOUT) {
        CancelSynchronousIo(reader_.Get());
        WaitForSingleObject(reader_.Get(), INFINITE);
    }
    Lock lock(lock_);
    if (whole_) return true;
    // A build this system cannot run (a 32-bit one where Wine has no 32-bit part) starts and ends
    // without a word.
    if (outOfMemory_)
        problem = "there was no memory left to read its items";
    else if (!wroteLine_)
        problem = "it ended with exit code " + std::to_string(exitCode) +
                  " without writing a line: this system may not be able to run it";
    else
        problem = "its scan ended without its end record (exit code " + std::to_string(exitCode) + ")";
    return false;
}

bool RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD& exitCode, std::string& problem) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    FileHandle process = StartProcess(program, arguments, startup, problem);
    if (!process) return false;
    WaitForSingleObject(process.Get(), INFINITE);
    if (!GetExitCodeProcess(process.Get(), &exitCode)) exitCode = 1;
    return true;
}

}  // namespace zvscan
