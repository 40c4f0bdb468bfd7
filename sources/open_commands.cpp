// File-type open commands: the command line the shell runs for a verb on a catalogued extension,
// reached through the extension's ProgID under HKEY_CLASSES_ROOT, and its restoration to the
// Windows default.
#include "sources/open_commands.h"

#include <cwchar>
#include <stdexcept>

#include "locations/routines.h"
#include "scanner/autorun_context.h"
#include "winhelpers/hresult.h"
#include "winhelpers/os_version.h"
#include "winhelpers/reg_values.h"

namespace Tessel {

namespace {

using Basalt::HResultFromWin32;
using Basalt::ReadStringValue;

const wchar_t kDefaultCommand[] = L"\"%1\" %*";
const wchar_t kRunasCommand[] = L"%SystemRoot%\\System32\\cmd.exe /C \"%1\" %*";

bool IsEmpty(LPCWSTR text) { return !text || !*text; }

std::wstring CommandKeyPath(const std::wstring& progId, const std::wstring& verb) {
    return progId + L"\\shell\\" + verb + L"\\command";
}

}  // namespace

LONG CreateClassesKey(const std::wstring& path, platform::UniqueHKey& key) {
    return platform::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, key.put(), nullptr);
}

LONG WriteStringValue(HKEY key, LPCWSTR name, LPCWSTR text, DWORD type) {
    if (!text) throw std::invalid_argument("null text for a registry value");
    DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return platform::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text), size);
}

HRESULT ScanOpenCommand(IAutorunContext* context, const LocationRow* row) {
    if (!row) return E_POINTER;
    if (IsEmpty(row->keyPath) || IsEmpty(row->subkey)) return E_INVALIDARG;

    // Always the merged view of the classes, whatever root the row names.
    platform::UniqueHKey extension;
    LONG status = platform::RegOpenKeyExW(HKEY_CLASSES_ROOT, row->keyPath, 0, KEY_READ, extension.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    std::wstring progId;
    status = ReadStringValue(extension.get(), nullptr, progId);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    if (progId.empty()) return S_FALSE;

    // Opened for writing as well: a command key the caller could not restore is reported as a failure.
    platform::UniqueHKey commandKey;
    status = platform::RegOpenKeyExW(HKEY_CLASSES_ROOT, CommandKeyPath(progId, row->subkey).c_str(), 0,
                                     KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, commandKey.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    std::wstring command;
    status = ReadStringValue(commandKey.get(), nullptr, command);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);

    context->AddShellCommand(row, progId.c_str(), command.c_str());
    return S_OK;
}

HRESULT RestoreOpenCommand(IZVAutorunItemEx* item, DWORD valueType, LPCWSTR progId, LPCWSTR command,
                           LPCWSTR isolatedCommand) {
    if (!item || !command) return E_POINTER;
    if (IsEmpty(progId)) return E_INVALIDARG;
    platform::ComPtr<IZVAutorunItem_ShlCmd> shellCommand;
    HRESULT hr = item->QueryInterface(IID_IZVAutorunItem_ShlCmd, shellCommand.PutVoid());
    if (FAILED(hr)) return hr;
    LPCWSTR extension = shellCommand->GetExtension();
    LPCWSTR verb = shellCommand->GetVerb();
    if (IsEmpty(extension) || IsEmpty(verb) || !*command) return E_INVALIDARG;

    platform::UniqueHKey commandKey;
    LONG status = CreateClassesKey(CommandKeyPath(progId, verb), commandKey);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    status = WriteStringValue(commandKey.get(), nullptr, command, valueType);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    if (Basalt::IsVistaOrLater() && !IsEmpty(isolatedCommand)) {
        status = WriteStringValue(commandKey.get(), L"IsolatedCommand", isolatedCommand, valueType);
        if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    }

    // The extension goes back to the default ProgID, whichever one the scan found.
    platform::UniqueHKey extensionKey;
    status = CreateClassesKey(extension, extensionKey);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    return HResultFromWin32(WriteStringValue(extensionKey.get(), nullptr, progId, valueType));
}

HRESULT RepairExefileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_SZ, L"exefile", kDefaultCommand, kDefaultCommand);
}

HRESULT RepairTxtfileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_EXPAND_SZ, L"txtfile", L"%SystemRoot%\\System32\\notepad.exe %1", nullptr);
}

HRESULT RepairBatfileOpenCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_SZ, L"batfile", kDefaultCommand, nullptr);
}

HRESULT RepairBatfileRunasCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_EXPAND_SZ, L"batfile", kRunasCommand, nullptr);
}

HRESULT RepairCmdfileOpenCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_SZ, L"cmdfile", kDefaultCommand, nullptr);
}

HRESULT RepairCmdfileRunasCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_EXPAND_SZ, L"cmdfile", kRunasCommand, nullptr);
}

HRESULT RepairComfileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    return RestoreOpenCommand(item, REG_SZ, L"comfile", kDefaultCommand, nullptr);
}

}  // namespace Tessel
