// Startup folders: every entry of the all-users and per-user startup folders becomes an item, and
// the repair deletes the entry itself (for a shortcut, the shortcut, never the program it names).
#include <shlobj.h>

#include <cwchar>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/autorun_context.h"
#include "winhelpers/files.h"
#include "winhelpers/hresult.h"

namespace Tessel {

namespace {

const wchar_t kShellFoldersPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The shell's path of a special folder, without creating it.
bool GetSpecialFolderPath(int csidl, std::wstring& path) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!platform::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return false;
    buffer[MAX_PATH] = 0;
    path = buffer;
    return true;
}

// The value in every hive under HKEY_USERS that has it, in HKEY_USERS order; empty values add nothing.
void AddPerUserFolders(const wchar_t* valueName, std::vector<std::wstring>& folders) {
    DWORD longestName = 0;
    if (platform::RegQueryInfoKeyW(HKEY_USERS, nullptr, nullptr, nullptr, nullptr, &longestName, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> name(longestName + 1);
    for (DWORD index = 0;; ++index) {
        DWORD capacity = longestName + 1;
        LSTATUS status =
            platform::RegEnumKeyExW(HKEY_USERS, index, name.data(), &capacity, nullptr, nullptr, nullptr, nullptr);
        // A name that grew past the buffer is passed over; any other error would recur at every
        // index and never reach the end of the list.
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        platform::UniqueHKey hive;
        if (platform::RegOpenKeyExW(HKEY_USERS, name.data(), 0, KEY_READ, hive.put()) != ERROR_SUCCESS) continue;
        std::wstring path;
        if (ReadShellFolderValue(hive.get(), valueName, path) && !path.empty()) folders.push_back(path);
    }
}

// Hands every entry of one folder to the context; "." and ".." directories are passed over.
void ReportFolderEntries(IAutorunContext* context, const LocationRow* row, const std::wstring& folder) {
    std::wstring prefix = folder;
    if (prefix.back() != L'\\') prefix += L'\\';
    WIN32_FIND_DATAW entry{};
    platform::UniqueFindHandle find(platform::FindFirstFileW((prefix + L"*").c_str(), &entry));
    if (!find) return;
    do {
        bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory && (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)) continue;
        context->AddStartupFile(row, folder.c_str(), (prefix + entry.cFileName).c_str());
    } while (platform::FindNextFileW(find.get(), &entry));
}

}  // namespace

bool ReadShellFolderValue(HKEY root, const wchar_t* valueName, std::wstring& path) {
    platform::UniqueHKey key;
    if (platform::RegOpenKeyExW(root, kShellFoldersPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    LSTATUS status = platform::RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS || !IsStringType(type)) return false;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    status =
        platform::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status != ERROR_SUCCESS || !IsStringType(type)) return false;
    // An unterminated or odd-sized text is not a path.
    if (size != 0 && (size % sizeof(wchar_t) != 0 || text[size / sizeof(wchar_t) - 1] != L'\0')) return false;
    path = text.data();
    return true;
}

bool ResolveSpecialFolder(const ShellFolderTable& table, int csidl, std::vector<std::wstring>& folders) {
    folders.clear();
    const ShellFolderEntry* entry = LookupShellFolder(table, csidl);
    if (!entry) {
        std::wstring path;
        if (!GetSpecialFolderPath(csidl, path)) return false;
        folders.push_back(path);
        return true;
    }
    if (entry->allUsers) {
        std::wstring path;
        if (!ReadShellFolderValue(HKEY_LOCAL_MACHINE, entry->valueName, path)) return false;
        // Even an empty value counts: the folder is configured, just not to anywhere.
        folders.push_back(path);
        return true;
    }
    AddPerUserFolders(entry->valueName, folders);
    return true;
}

HRESULT ScanStartupFolder(IAutorunContext* context, const LocationRow* row) {
    int csidl = static_cast<int>(row->extra);
    std::vector<std::wstring> folders;
    ResolveSpecialFolder(context->GetShellFolderTable(), csidl, folders);
    if (folders.empty()) {
        std::wstring path;
        if (!GetSpecialFolderPath(csidl, path))
            return Basalt::HResultFromWin32(static_cast<LONG>(platform::GetLastError()));
        folders.push_back(path);
    }
    for (const std::wstring& folder : folders) {
        if (!folder.empty()) ReportFolderEntries(context, row, folder);
    }
    return S_OK;
}

HRESULT RepairStartupFolderItem(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    platform::ComPtr<IZVAutorunItem_ShortCut> shortcut;
    HRESULT hr = QueryItemKind(item, IID_IZVAutorunItem_ShortCut, shortcut);
    if (FAILED(hr)) return hr;
    return Basalt::DeleteFileIfPresent(shortcut->GetFilePath());
}

}  // namespace Tessel
