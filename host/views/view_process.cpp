#include "views/view_process.h"

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
    std::string& output = view.output_;
    // Services the helper's scan starts may inherit the pipe and keep it open: the end record, not
    // the end of the pipe, ends the scan's output.
    char buffer[1 << 16];
    DWORD read = 0;
    while (ReadFile(view.readEnd_.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        output.append(buffer, read);
        if (output.back() != '\n') continue;
        size_t last = output.size() < 2 ? std::string::npos : output.rfind('\n', output.size() - 2);
        size_t start = last == std::string::npos ? 0 : last + 1;
        if (output.compare(start, sizeof(kEndRecord) - 1, kEndRecord) == 0) break;
    }
    return 0;
}

bool ViewProcess::Finish(std::vector<std::string>& lines, std::string& problem) {
    DWORD exitCode = 1;
    WaitForSingleObject(process_.Get(), INFINITE);
    if (!GetExitCodeProcess(process_.Get(), &exitCode)) exitCode = 1;
    // What the helper wrote is in the pipe once it has ended; a service that inherited the pipe can
    // only keep the reader waiting for more.
    if (WaitForSingleObject(reader_.Get(), 5000) == WAIT_TIMEOUT) {
        CancelSynchronousIo(reader_.Get());
        WaitForSingleObject(reader_.Get(), INFINITE);
    }
    for (size_t start = 0; start < output_.size();) {
        size_t end = output_.find('\n', start);
        if (end == std::string::npos) break;
        std::string line = output_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.empty() || lines.back().compare(0, sizeof(kEndRecord) - 1, kEndRecord) != 0) {
        problem = "its scan ended without its end record (exit code " + std::to_string(exitCode) + ")";
        return false;
    }
    return true;
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
