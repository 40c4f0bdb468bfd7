#include "loader/scanner_library.h"

#include <vector>

#include "win/text.h"

namespace zvscan {

ScannerLibrary::~ScannerLibrary() {
    if (module_) FreeLibrary(module_);
}

bool ScannerLibrary::LoadOffline(const std::wstring& path) {
    if (!Load(path, "ZVAtrunCreateOfflineObject")) return false;
    createOffline_ = reinterpret_cast<PFN_ZVAtrunCreateOfflineObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "ZVAtrunCreateOfflineObject")));
    return true;
}

bool ScannerLibrary::Load(const std::wstring& path) {
    if (!Load(path, "ZVAtrunCreateObject")) return false;
    create_ = reinterpret_cast<PFN_ZVAtrunCreateObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "ZVAtrunCreateObject")));
    return true;
}

bool ScannerLibrary::Load(const std::wstring& path, const char* factory) {
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        DWORD error = GetLastError();
        std::string message = SystemMessage(error, path);
        error_ = "cannot load " + Utf8(path) + ": " + (message.empty() ? "" : message + " ") + "(error " +
                 std::to_string(error) + ")";
        return false;
    }
    if (!GetProcAddress(module_, factory)) {
        error_ = Utf8(path) + " does not export " + factory;
        return false;
    }
    return true;
}

HRESULT ScannerLibrary::CreateScanner(ComRef<IZVAutorunScanner>& scanner) {
    if (!create_) return E_UNEXPECTED;
    return create_(&IID_IZVAutorunScanner, reinterpret_cast<void**>(scanner.Put()), 0);
}

HRESULT ScannerLibrary::CreateOfflineScanner(const std::wstring& root, const std::wstring& user,
                                             ComRef<IZVAutorunScanner>& scanner) {
    if (!createOffline_) return E_UNEXPECTED;
    ZV_OFFLINE_SETTINGS settings{sizeof(settings), 0, root.c_str(), user.empty() ? nullptr : user.c_str()};
    HRESULT hr = createOffline_(&settings, &IID_IZVAutorunScanner, reinterpret_cast<void**>(scanner.Put()));
    if (FAILED(hr)) return hr;
    ComRef<IZVOfflineImage> image;
    if (SUCCEEDED(scanner->QueryInterface(IID_IZVOfflineImage, reinterpret_cast<void**>(image.Put())))) {
        for (ULONG i = 0, n = image->GetNoteCount(); i < n; ++i)
            if (LPCWSTR note = image->GetNote(i)) imageNotes_.push_back(note);
        if (LPCWSTR current = image->GetCurrentUser()) imageUser_ = current;
    }
    return hr;
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

std::wstring ScannerLibrary::DefaultPath(const wchar_t* name) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return name;
        if (length < path.size()) {
            std::wstring self(path.data(), length);
            size_t slash = self.find_last_of(L"\\/");
            return (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) + name;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace zvscan
