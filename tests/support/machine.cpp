#include "support/machine.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

namespace test {

std::string MachineName(MachineKind kind) { return kind == MachineKind::Real ? "Real" : "Simulated"; }

Machine::Machine(MachineKind kind) {
    static int serial = 0;
    std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    root_ = L"C:\\zv test " + unique;
    testKey_ = L"Software\\ZvTest " + unique;
    if (kind == MachineKind::Simulated) {
        sim_ = std::make_unique<platform::SimulatedBackend>();
        scope_ = std::make_unique<platform::ScopedBackend>(*sim_);
    } else {
        comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    AddDirectory(root_);
}

Machine::~Machine() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
        SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(it->c_str())) RemoveDirectoryW(it->c_str());
    }
    if (!sim_) {
        RegDeleteTreeW(HKEY_CURRENT_USER, testKey_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, testKey_.c_str());
    }
    if (comInitialized_) CoUninitialize();
}

void Machine::AddKey(HKEY root, const std::wstring& path) {
    if (sim_) {
        sim_->AddKey(root, path);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void Machine::SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                       const std::vector<BYTE>& bytes) {
    if (sim_) {
        sim_->SetValue(root, path, name, type, bytes);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    // Wine stores a string's terminator when one follows the data in the caller's buffer: follow the
    // bytes with something else so exactly these bytes are stored.
    std::vector<BYTE> buffer(bytes);
    buffer.insert(buffer.end(), {'X', 'X', 'X', 'X'});
    RegSetValueExW(key, name.c_str(), 0, type, buffer.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void Machine::SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                        DWORD type) {
    auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
    SetValue(root, path, name, type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

void Machine::AddFile(const std::wstring& path) {
    if (sim_) {
        sim_->AddFile(path);
        return;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        created_.push_back(path);
    }
}

void Machine::AddDirectory(const std::wstring& path, DWORD attributes) {
    if (sim_) {
        sim_->AddDirectory(path, attributes);
        return;
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) created_.push_back(path);
    if (attributes != FILE_ATTRIBUTE_DIRECTORY) SetFileAttributesW(path.c_str(), attributes);
}

std::wstring Machine::ShortPath(const std::wstring& path) {
    if (sim_) {
        // A short name for the last component, in the style Wine hashes them.
        std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
        static int serial = 0;
        std::wstring shortName = L"ZVSHO~" + std::to_wstring(++serial);
        sim_->SetShortName(path, shortName);
        return parent + L"\\" + shortName;
    }
    wchar_t buffer[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return buffer;
}

void Machine::AddShortcut(const std::wstring& path, const std::wstring& target) {
    if (sim_) {
        sim_->AddShortcut(path, target);
        return;
    }
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return;
    IPersistFile* file = nullptr;
    link->SetPath(target.c_str());
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Save(path.c_str(), TRUE))) created_.push_back(path);
        file->Release();
    }
    link->Release();
}

void Machine::AddSystemFiles() {
    if (!sim_) return;
    for (const wchar_t* name : {L"rundll32.exe", L"shell32.dll", L"notepad.exe", L"cmd.exe", L"regsvr32.exe",
                                L"svchost.exe", L"dllhost.exe"})
        sim_->AddFile(std::wstring(L"C:\\windows\\system32\\") + name);
    sim_->AddFile(L"C:\\windows\\notepad.exe");
    sim_->AddDirectory(L"C:\\windows\\system");
}

}  // namespace test
