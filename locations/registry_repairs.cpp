// Repairs of registry entries: delete the item's value or key, or write a well-known logon setting.
// They work on the registry only and never touch the file an entry starts.
#include "locations/routines.h"
#include "paths/path_primitives.h"
#include "platform/handles.h"
#include "winhelpers/hresult.h"
#include "winhelpers/os_version.h"
#include "winhelpers/reg_values.h"

namespace Tessel {

namespace {

const wchar_t kWinlogonPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kWindowsPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// The item's registry view: root, key path and value name.
struct RegistryView {
    HKEY root = nullptr;
    std::wstring keyPath;
    std::wstring valueName;
};

HRESULT QueryRegistryView(IZVAutorunItemEx* item, RegistryView& view) {
    platform::ComPtr<IZVAutorunItem_Reg> reg;
    HRESULT hr = QueryItemKind(item, IID_IZVAutorunItem_Reg, reg);
    if (FAILED(hr)) return hr;
    view.root = reg->GetRootKey();
    view.keyPath = reg->GetKeyPath() ? reg->GetKeyPath() : L"";
    view.valueName = reg->GetValueName() ? reg->GetValueName() : L"";
    return S_OK;
}

// A file of the system in the given directory, or empty when it is not there.
std::wstring ExistingSystemFile(UINT (*directory)(LPWSTR, UINT), const wchar_t* fileName) {
    wchar_t buffer[MAX_PATH] = {};
    if (directory(buffer, MAX_PATH) >= MAX_PATH) buffer[0] = 0;
    std::wstring path = buffer;
    if (path.empty()) return {};
    CombinePath(path, fileName);
    return platform::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

// Before Windows Vista the value is emptied; from Vista on it is deleted.
HRESULT ClearWinlogonValue(IZVAutorunItemEx* item, const wchar_t* valueName) {
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    if (Basalt::IsVistaOrLater()) return Basalt::DeleteValue(view.root, kWinlogonPath, valueName);
    return Basalt::SetStringValue(view.root, kWinlogonPath, valueName, L"");
}

}  // namespace

HRESULT RepairDeleteValue(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    return Basalt::DeleteValue(view.root, view.keyPath, view.valueName.c_str());
}

HRESULT RepairDeleteKey(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    // An empty path would name the root itself and take everything under it.
    if (view.keyPath.empty()) return E_INVALIDARG;
    return Basalt::HResultFromWin32(platform::SHDeleteKeyW(view.root, view.keyPath.c_str()));
}

HRESULT RepairUserinit(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    std::wstring userinit = ExistingSystemFile(platform::GetSystemDirectoryW, L"userinit.exe");
    if (userinit.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    return Basalt::SetStringValue(view.root, kWinlogonPath, L"Userinit", userinit + L",");
}

HRESULT RepairShell(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    if (ExistingSystemFile(platform::GetWindowsDirectoryW, L"explorer.exe").empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    return Basalt::SetStringValue(view.root, kWinlogonPath, L"Shell", L"explorer.exe");
}

HRESULT RepairAppInitDlls(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    RegistryView view;
    HRESULT hr = QueryRegistryView(item, view);
    if (FAILED(hr)) return hr;
    return Basalt::SetStringValue(view.root, kWindowsPath, L"AppInit_DLLs", L"");
}

HRESULT RepairUIHost(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) { return ClearWinlogonValue(item, L"UIHost"); }

HRESULT RepairWinlogonSystem(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return ClearWinlogonValue(item, L"System");
}

}  // namespace Tessel
