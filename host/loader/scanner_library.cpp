#include "loader/scanner_library.h"

#include <vector>

#include "win/text.h"

namespace zvscan {

ScannerLibrary::~ScannerLibrary() {
    if (module_) FreeLibrary(module_);
}

bool ScannerLibrary::Load(const std::wstring& path) {
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        DWORD error = GetLastError();
        std::string message = SystemMessage(error, path);
        error_ = "cannot load " + Utf8(path) + ": " + (message.empty() ? "" : message + " ") + "(error " +
                 std::to_string(error) + ")";
        return false;
    }
    create_ = reinterpret_cast<PFN_ZVAtrunCreateObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "ZVAtrunCreateObject")));
    if (!create_) {
        error_ = Utf8(path) + " does not export ZVAtrunCreateObject";
        return false;
    }
    return true;
}

HRESULT ScannerLibrary::CreateScanner(ComRef<IZVAutorunScanner>& scanner) {
    if (!create_) return E_UNEXPECTED;
    return create_(&IID_IZVAutorunScanner, reinterpret_cast<void**>(scanner.Put()), 0);
}

std::wstring ScannerLibrary::Path() const {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

const char* ScannerLibrary::Architecture() const {
    if (!module_) return "not loaded";
    // A loaded module's base address is its image: the DOS header, then the NT headers.
    auto base = reinterpret_cast<const BYTE*>(module_);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    switch (nt->FileHeader.Machine) {
        case IMAGE_FILE_MACHINE_I386:
            return "x86";
        case IMAGE_FILE_MACHINE_AMD64:
            return "x86-64";
        default:
            return "unknown architecture";
    }
}

std::wstring ScannerLibrary::DefaultPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"zvatrun.dll";
        if (length < path.size()) {
            std::wstring self(path.data(), length);
            size_t slash = self.find_last_of(L"\\/");
            return (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) + L"zvatrun.dll";
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace zvscan
