// What the zvscan tests share: reading its output forms back, running the built zvscan.exe, and
// writing and removing their files.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "report/item_record.h"

namespace zvscan::test {

// The first item of a listing: a machine Run value with its data and one file.
inline ItemRecord RunValue(const std::wstring& name, const std::wstring& data) {
    ItemRecord r;
    r.index = 1;
    r.id = 0x1010100E;
    r.category = 0x10100000;
    r.kind = ItemKind::Registry;
    r.root = L"HKEY_LOCAL_MACHINE";
    r.keyPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    r.valueName = name;
    r.valueData = data;
    r.location = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[" + name + L"]";
    r.files = {L"C:\\tools\\agent.exe"};
    return r;
}

// Writes text to path, replacing the file.
inline void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    BOOL wrote = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(wrote);
    ASSERT_EQ(written, text.size());
}

// Removes the folder and everything in it, attributes notwithstanding.
inline void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// RFC 4180 records: quoted fields may hold commas, doubled quotes and line breaks.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "the last record does not end in CRLF";
    return records;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "output does not end in a newline";
    return lines;
}

struct ProcessRun {
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

inline std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(pipe);
    return text;
}

// Runs the built zvscan.exe beside the test program; its stdout goes to a pipe, or to the file
// `stdoutPath` names (opened for writing as it is: a device such as Z:\dev\full too).
inline ProcessRun RunZvscan(const std::wstring& arguments, const wchar_t* stdoutPath = nullptr) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self, length);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"zvscan.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (stdoutPath) {
        writeEnd = CreateFileW(stdoutPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS, 0,
                               nullptr);
        EXPECT_NE(writeEnd, INVALID_HANDLE_VALUE) << GetLastError();
    } else {
        EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }
    // stderr goes to a file, read once zvscan has ended: a pipe would wait for every Wine service the
    // scan starts, which inherit it.
    wchar_t folder[MAX_PATH], errorPath[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"zvs", 0, errorPath);
    HANDLE errorFile =
        CreateFileW(errorPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    EXPECT_NE(errorFile, INVALID_HANDLE_VALUE);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = errorFile;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    ProcessRun run;
    bool started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    EXPECT_TRUE(started) << GetLastError();
    CloseHandle(writeEnd);
    CloseHandle(nul);
    if (readEnd) run.out = ReadAll(readEnd);
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetFilePointer(errorFile, 0, nullptr, FILE_BEGIN);
    run.err = ReadAll(errorFile);
    return run;
}

}  // namespace zvscan::test
