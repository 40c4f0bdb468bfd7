// A folder of an end-to-end test's own on the real (Wine) file system, with empty files in it; all of
// it removed when the test ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

class TestFiles {
public:
    // `name` tells the tests apart; the process id keeps two runs apart.
    explicit TestFiles(const std::wstring& name)
        : directory_(L"C:\\zv e2e " + name + L" " + std::to_wstring(GetCurrentProcessId())) {
        CreateDirectoryW(directory_.c_str(), nullptr);
    }
    ~TestFiles() {
        for (const auto& file : files_) DeleteFileW(file.c_str());
        RemoveDirectoryW(directory_.c_str());
    }
    TestFiles(const TestFiles&) = delete;
    TestFiles& operator=(const TestFiles&) = delete;

    std::wstring Add(const std::wstring& name) {
        std::wstring path = directory_ + L"\\" + name;
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        files_.push_back(path);
        return path;
    }

private:
    std::wstring directory_;
    std::vector<std::wstring> files_;
};

}  // namespace test
