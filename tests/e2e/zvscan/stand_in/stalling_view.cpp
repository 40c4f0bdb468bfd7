// A stand-in for the other build in the views tests. Run as the helper (`view-scan ...`, arguments
// ignored), it writes the lines of the file ZV_STAND_IN_LINES names, stalling after the first
// ZV_STAND_IN_STALL_AFTER of them until the event ZV_STAND_IN_RELEASE names is set (60 s at most).
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

bool WriteAll(HANDLE out, const char* data, size_t size) {
    DWORD written = 0;
    return size == 0 || (WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

}  // namespace

int wmain() {
    HANDLE file = CreateFileW(Variable(L"ZV_STAND_IN_LINES").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    std::string text;
    char buffer[1 << 16];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    long stallAfter = std::wcstol(Variable(L"ZV_STAND_IN_STALL_AFTER").c_str(), nullptr, 10);
    size_t cut = 0;
    for (long line = 0; line < stallAfter && cut != std::string::npos; ++line) {
        cut = text.find('\n', cut);
        if (cut != std::string::npos) ++cut;
    }
    if (cut == std::string::npos) cut = text.size();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteAll(out, text.data(), cut)) return 1;
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, Variable(L"ZV_STAND_IN_RELEASE").c_str());
    if (release) {
        WaitForSingleObject(release, 60000);
        CloseHandle(release);
    }
    return WriteAll(out, text.data() + cut, text.size() - cut) ? 0 : 1;
}
