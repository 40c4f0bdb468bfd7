#include "views/other_build.h"

#include <windows.h>

#include <vector>

#include "win/handles.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {
namespace {

std::wstring ProgramFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            std::wstring self(path.data(), length);
            return self.substr(0, self.find_last_of(L"\\/"));
        }
        path.resize(path.size() * 2);
    }
}

bool Exists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const char* OtherArchitecture() { return sizeof(void*) == 8 ? "x86" : "x86-64"; }

}  // namespace

const char* OtherView() { return sizeof(void*) == 8 ? "wow64" : "native"; }

std::string ImageArchitecture(const std::wstring& path) {
    FileHandle file = OpenForReading(path);
    if (!file) return {};
    IMAGE_DOS_HEADER dos{};
    DWORD read = 0;
    if (!ReadFile(file.Get(), &dos, sizeof(dos), &read, nullptr) || read != sizeof(dos) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return {};
    if (SetFilePointer(file.Get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return {};
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } nt{};
    if (!ReadFile(file.Get(), &nt, sizeof(nt), &read, nullptr) || read != sizeof(nt) ||
        nt.signature != IMAGE_NT_SIGNATURE)
        return {};
    if (nt.header.Machine == IMAGE_FILE_MACHINE_I386) return "x86";
    if (nt.header.Machine == IMAGE_FILE_MACHINE_AMD64) return "x86-64";
    return {};
}

std::wstring FindOtherBuild(const std::wstring& named, bool standIn, std::string& problem) {
    std::vector<std::wstring> candidates;
    if (!named.empty()) {
        candidates.push_back(named);
    } else {
        std::wstring folder = ProgramFolder();
        bool wide = sizeof(void*) == 8;
        candidates.push_back(folder + L"\\..\\" + (wide ? L"x86" : L"x64") + L"\\zvscan.exe");
        candidates.push_back(folder + L"\\..\\..\\" + (wide ? L"win32" : L"win64") + L"\\bin\\zvscan.exe");
    }
    for (const std::wstring& candidate : candidates) {
        if (!Exists(candidate)) continue;
        std::string architecture = ImageArchitecture(candidate);
        if (architecture == OtherArchitecture() || (standIn && architecture == ProgramArchitecture()))
            return candidate;
        problem = Utf8(candidate) + " is not the " + OtherArchitecture() + " zvscan";
        return {};
    }
    problem = named.empty() ? std::string("no ") + OtherArchitecture() + " zvscan was found beside this one"
                            : Utf8(named) + " does not exist";
    return {};
}

}  // namespace zvscan
