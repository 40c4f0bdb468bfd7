// The image's C: drive, environment, directories, version and special folders, as the system in the
// image would answer for them. Paths given and returned are the image system's own (C:\...); the
// image folder on the scanning machine only ever shows inside HostPath.
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "diag/debug_log.h"
#include "platform/offline/offline_backend.h"

namespace platform {
namespace offline {

namespace {

constexpr size_t kMaxComponents = 512;
constexpr size_t kMaxExpanded = 32767;  // the longest environment value Windows allows
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kNtCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool SameName(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (UpcaseChar(*a) != UpcaseChar(*b)) return false;
    return *a == *b;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Copies text into a buffer of capacity characters the way the Win32 path and environment calls
// do: the characters written without the terminator, or, when it does not fit, the size needed
// with it.
DWORD CopyAnswer(const std::wstring& text, LPWSTR buffer, DWORD capacity) {
    if (!buffer || text.size() + 1 > capacity) return static_cast<DWORD>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

// The entry of folder whose name NTFS would take for name, found by listing the folder.
bool FindEntry(const std::wstring& folder, const std::wstring& name, std::wstring& found) {
    WIN32_FIND_DATAW data;
    HANDLE find = Win32().FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool matched = false;
    do {
        if (SameName(data.cFileName, name.c_str())) {
            found = data.cFileName;
            matched = true;
            break;
        }
    } while (Win32().FindNextFileW(find, &data));
    Win32().FindClose(find);
    return matched;
}

}  // namespace

// Whether the file system under the image folder matches names without regard to case (NTFS, FAT,
// Wine's view of any folder): a name not found as written is then not there at all, and no folder
// needs listing. Tried on an entry of the root with a letter whose case can change.
void OfflineBackend::LearnRootCase() {
    WIN32_FIND_DATAW data;
    HANDLE find = Win32().FindFirstFileW((root_ + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    std::wstring flipped;
    for (unsigned count = 0; flipped.empty() && count < 4096; ++count) {
        std::wstring name = data.cFileName;
        for (wchar_t& c : name) {
            wchar_t other = UpcaseChar(c) != c ? UpcaseChar(c) : static_cast<wchar_t>(std::towlower(c));
            if (other == c) continue;
            c = other;
            flipped = name;
            break;
        }
        if (!Win32().FindNextFileW(find, &data)) break;
    }
    Win32().FindClose(find);
    rootFoldsCase_ =
        !flipped.empty() && Win32().GetFileAttributesW((root_ + L"\\" + flipped).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OfflineBackend::HostPath(LPCWSTR imagePath, std::wstring& hostPath, DWORD& error) const {
    error = ERROR_PATH_NOT_FOUND;
    if (!imagePath) return false;
    std::wstring path = imagePath;
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\??\\") == 0) path.erase(0, 4);
    if (path.size() < 2 || path[1] != L':' || (path.size() > 2 && !IsSeparator(path[2]))) return false;
    if (UpcaseChar(path[0]) != L'C') {
        wchar_t drive = UpcaseChar(path[0]);
        if (otherDrivesReported_.insert(drive).second)
            Tessel::LogDebug(Tessel::kLogWarn,
                             L"[zavel] offline: the image has no drive %lc:, its paths are absent\r\n", drive);
        return false;
    }
    std::vector<std::wstring> components;
    for (size_t at = 2; at < path.size();) {
        while (at < path.size() && IsSeparator(path[at])) ++at;
        size_t end = at;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring name = path.substr(at, end - at);
        at = end;
        if (name.empty() || name == L".") continue;
        if (name == L"..") {
            if (!components.empty()) components.pop_back();
            continue;
        }
        // A stream or device name is no file of the image's folders.
        if (name.find(L':') != std::wstring::npos || components.size() >= kMaxComponents) return false;
        components.push_back(std::move(name));
    }
    hostPath = root_;
    for (const std::wstring& name : components) hostPath += L"\\" + name;
    if (rootFoldsCase_ || Win32().GetFileAttributesW(hostPath.c_str()) != INVALID_FILE_ATTRIBUTES) return true;

    // Not there as written on a case-sensitive file system: each component as NTFS would match it.
    hostPath = root_;
    for (size_t i = 0; i < components.size(); ++i) {
        std::wstring entry = components[i];
        if (Win32().GetFileAttributesW((hostPath + L"\\" + entry).c_str()) == INVALID_FILE_ATTRIBUTES &&
            !FindEntry(hostPath, components[i], entry)) {
            for (size_t j = i; j < components.size(); ++j) hostPath += L"\\" + components[j];
            error = i + 1 == components.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            return true;
        }
        hostPath += L"\\" + entry;
    }
    return true;
}

DWORD OfflineBackend::GetFileAttributesW(LPCWSTR path) {
    std::wstring host;
    DWORD error;
    if (!HostPath(path, host, error)) {
        Win32().SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return Win32().GetFileAttributesW(host.c_str());
}

HANDLE OfflineBackend::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    std::wstring text = pattern ? pattern : L"";
    size_t slash = text.find_last_of(L"\\/");
    std::wstring host;
    DWORD error;
    if (slash == std::wstring::npos || !HostPath(text.substr(0, slash + 1).c_str(), host, error)) {
        Win32().SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return Win32().FindFirstFileW((host + L"\\" + text.substr(slash + 1)).c_str(), data);
}

BOOL OfflineBackend::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) { return Win32().FindNextFileW(find, data); }
BOOL OfflineBackend::FindClose(HANDLE find) { return Win32().FindClose(find); }

HANDLE OfflineBackend::CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    // Reading only: anything that could change a file is refused.
    if ((access & ~(GENERIC_READ | FILE_READ_ATTRIBUTES | FILE_READ_DATA | SYNCHRONIZE)) != 0 ||
        disposition != OPEN_EXISTING) {
        Win32().SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring host;
    DWORD error;
    if (!HostPath(path, host, error)) {
        Win32().SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return Win32().CreateFileW(host.c_str(), access, share, security, disposition, flags, templateFile);
}

// Only the handles CreateFileW gave reach these: files of the image, never a device.
BOOL OfflineBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                     LPDWORD returned, LPOVERLAPPED overlapped) {
    return Win32().DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
BOOL OfflineBackend::CloseHandle(HANDLE handle) { return Win32().CloseHandle(handle); }

// Ini files are read by the debug log (its settings beside the module, on the scanning machine) and
// by the drive autorun row, which offline never gets past the drive type.
DWORD OfflineBackend::GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                               DWORD capacity, LPCWSTR file) {
    return Win32().GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity, file);
}
UINT OfflineBackend::GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) {
    return Win32().GetPrivateProfileIntW(section, key, defaultValue, file);
}

DWORD OfflineBackend::GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
    std::wstring text = path ? path : L"";
    // The image has no current directory: a path rooted without a drive is on its C:, and one
    // relative to nothing names no file of it.
    if (text.size() >= 1 && IsSeparator(text[0]) && !(text.size() >= 2 && IsSeparator(text[1]))) text = L"C:" + text;
    if (text.size() < 3 || text[1] != L':' || !IsSeparator(text[2])) {
        Win32().SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    // For a path with its drive and root the call is lexical: nothing of the scanning machine is read.
    return Win32().GetFullPathNameW(text.c_str(), capacity, buffer, filePart);
}

DWORD OfflineBackend::GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) {
    std::wstring host;
    DWORD error;
    if (!HostPath(shortPath, host, error)) {
        Win32().SetLastError(error);
        return 0;
    }
    DWORD needed = Win32().GetLongPathNameW(host.c_str(), nullptr, 0);
    if (needed == 0 || needed > kMaxExpanded) return 0;
    std::vector<wchar_t> longPath(needed);
    DWORD written = Win32().GetLongPathNameW(host.c_str(), longPath.data(), needed);
    if (written == 0 || written >= needed) return 0;
    // The image's root as the scanning machine spells it long is where C: begins.
    std::wstring text(longPath.data(), written);
    std::wstring rootLong = root_;
    DWORD rootNeeded = Win32().GetLongPathNameW(root_.c_str(), nullptr, 0);
    if (rootNeeded > 0 && rootNeeded <= kMaxExpanded) {
        std::vector<wchar_t> rootBuffer(rootNeeded);
        DWORD rootWritten = Win32().GetLongPathNameW(root_.c_str(), rootBuffer.data(), rootNeeded);
        if (rootWritten > 0 && rootWritten < rootNeeded) rootLong.assign(rootBuffer.data(), rootWritten);
    }
    if (text.size() < rootLong.size() || !SameName(text.substr(0, rootLong.size()).c_str(), rootLong.c_str())) {
        Win32().SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::wstring rest = text.substr(rootLong.size());
    return CopyAnswer(L"C:" + (rest.empty() ? std::wstring(L"\\") : rest), buffer, capacity);
}

bool OfflineBackend::ReadText(HKEY root, const wchar_t* path, const wchar_t* name, std::wstring& text, DWORD* type) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD valueType = 0, size = 0;
    bool read = false;
    if (RegQueryValueExW(key, name, nullptr, &valueType, nullptr, &size) == ERROR_SUCCESS &&
        (valueType == REG_SZ || valueType == REG_EXPAND_SZ) && size <= kMaxExpanded * sizeof(wchar_t)) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, 0);
        if (RegQueryValueExW(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            data.back() = 0;
            text = data.data();
            if (type) *type = valueType;
            read = true;
        }
    }
    RegCloseKey(key);
    return read;
}

bool OfflineBackend::Variable(const std::wstring& name, std::wstring& value) const {
    for (const auto& entry : environment_)
        if (SameName(entry.first.c_str(), name.c_str())) {
            value = entry.second;
            return true;
        }
    return false;
}

void OfflineBackend::SetVariable(const std::wstring& name, const std::wstring& value) {
    for (auto& entry : environment_)
        if (SameName(entry.first.c_str(), name.c_str())) {
            entry.second = value;
            return;
        }
    environment_.emplace_back(name, value);
}

// Windows' expansion: a %name% that is defined becomes its value, any other text stays as written.
std::wstring OfflineBackend::Expand(const std::wstring& text) const {
    std::wstring out;
    for (size_t at = 0; at < text.size() && out.size() <= kMaxExpanded;) {
        size_t open = text.find(L'%', at);
        if (open == std::wstring::npos) {
            out.append(text, at, std::wstring::npos);
            break;
        }
        out.append(text, at, open - at);
        size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out.append(text, open, std::wstring::npos);
            break;
        }
        std::wstring value;
        if (close > open + 1 && Variable(text.substr(open + 1, close - open - 1), value)) {
            out += value;
            at = close + 1;
        } else {
            // The second % may open the next name.
            out.append(text, open, close - open);
            at = close;
        }
    }
    return out;
}

// The values of an Environment key, as Windows adds them: plain strings first, then the expandable
// ones over what is set so far; a user's Path is appended to the system's.
void OfflineBackend::AddEnvironmentKey(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    std::vector<std::pair<std::wstring, DWORD>> names;
    for (DWORD index = 0; index < 4096; ++index) {
        wchar_t name[512];
        DWORD capacity = 512, type = 0;
        LSTATUS status = RegEnumValueW(key, index, name, &capacity, nullptr, &type, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && capacity > 0)
            names.emplace_back(name, type);
    }
    RegCloseKey(key);
    bool user = root == HKEY_CURRENT_USER;
    for (DWORD pass : {static_cast<DWORD>(REG_SZ), static_cast<DWORD>(REG_EXPAND_SZ)}) {
        for (const auto& entry : names) {
            if (entry.second != pass) continue;
            std::wstring text;
            DWORD type = 0;
            if (!ReadText(root, path, entry.first.c_str(), text, &type)) continue;
            if (type == REG_EXPAND_SZ) text = Expand(text);
            std::wstring systemPath;
            if (user && SameName(entry.first.c_str(), L"Path") && Variable(L"Path", systemPath) && !systemPath.empty())
                text = systemPath + L";" + text;
            SetVariable(entry.first, text);
        }
    }
}

void OfflineBackend::LoadEnvironment() {
    SetVariable(L"SystemDrive", L"C:");
    SetVariable(L"SystemRoot", systemRoot_);
    SetVariable(L"windir", systemRoot_);
    const struct {
        const wchar_t* variable;
        const wchar_t* value;
    } kFolders[] = {
        {L"ProgramFiles", L"ProgramFilesDir"},
        {L"ProgramFiles(x86)", L"ProgramFilesDir (x86)"},
        {L"ProgramW6432", L"ProgramW6432Dir"},
        {L"CommonProgramFiles", L"CommonFilesDir"},
        {L"CommonProgramFiles(x86)", L"CommonFilesDir (x86)"},
        {L"CommonProgramW6432", L"CommonW6432Dir"},
    };
    for (const auto& folder : kFolders) {
        std::wstring text;
        if (ReadText(HKEY_LOCAL_MACHINE, kCurrentVersion, folder.value, text))
            SetVariable(folder.variable, Expand(text));
    }
    std::wstring profileList = std::wstring(kNtCurrentVersion) + L"\\ProfileList", text;
    if (ReadText(HKEY_LOCAL_MACHINE, profileList.c_str(), L"ProgramData", text)) {
        SetVariable(L"ProgramData", Expand(text));
        SetVariable(L"ALLUSERSPROFILE", Expand(text));
    }
    if (ReadText(HKEY_LOCAL_MACHINE, profileList.c_str(), L"Public", text)) SetVariable(L"PUBLIC", Expand(text));
    AddEnvironmentKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
    if (!userProfile_.empty()) {
        SetVariable(L"USERPROFILE", userProfile_);
        SetVariable(L"HOMEDRIVE", L"C:");
        SetVariable(L"HOMEPATH", userProfile_.substr(2));
        SetVariable(L"USERNAME", userProfile_.substr(userProfile_.find_last_of(L'\\') + 1));
    }
    for (const auto& folder :
         {std::make_pair(L"APPDATA", L"AppData"), std::make_pair(L"LOCALAPPDATA", L"Local AppData")}) {
        if (ReadText(HKEY_CURRENT_USER, kUserShellFolders, folder.second, text) ||
            ReadText(HKEY_CURRENT_USER, kShellFolders, folder.second, text))
            SetVariable(folder.first, Expand(text));
    }
    AddEnvironmentKey(HKEY_CURRENT_USER, L"Environment");
}

DWORD OfflineBackend::ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) {
    std::wstring text = Expand(source ? source : L"");
    if (text.size() >= kMaxExpanded) {
        Win32().SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Unlike the path calls, the count includes the terminator whether or not it fit.
    if (buffer && text.size() + 1 <= capacity) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
    }
    return static_cast<DWORD>(text.size() + 1);
}

UINT OfflineBackend::GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    return CopyAnswer(systemRoot_, buffer, capacity);
}
// Windows spells its system directory in lower case below the Windows directory.
UINT OfflineBackend::GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
    return CopyAnswer(systemRoot_ + L"\\system32", buffer, capacity);
}

BOOL OfflineBackend::GetVersionExW(LPOSVERSIONINFOW info) {
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                  info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
        Win32().SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::fill_n(reinterpret_cast<BYTE*>(info), size, BYTE{0});
    info->dwOSVersionInfoSize = size;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    // Windows 10 and later keep 6.3 in CurrentVersion for old readers; the numbers say the truth.
    HKEY key = nullptr;
    DWORD major = 0, minor = 0;
    bool numbered = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNtCurrentVersion, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type = 0, bytes = sizeof major;
        numbered = RegQueryValueExW(key, L"CurrentMajorVersionNumber", nullptr, &type, reinterpret_cast<BYTE*>(&major),
                                    &bytes) == ERROR_SUCCESS &&
                   type == REG_DWORD && bytes == sizeof major;
        bytes = sizeof minor;
        if (numbered && (RegQueryValueExW(key, L"CurrentMinorVersionNumber", nullptr, &type,
                                          reinterpret_cast<BYTE*>(&minor), &bytes) != ERROR_SUCCESS ||
                         type != REG_DWORD || bytes != sizeof minor))
            minor = 0;
        RegCloseKey(key);
    }
    std::wstring text;
    if (!numbered) {
        if (!ReadText(HKEY_LOCAL_MACHINE, kNtCurrentVersion, L"CurrentVersion", text)) {
            Win32().SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        wchar_t* end = nullptr;
        major = std::wcstoul(text.c_str(), &end, 10);
        minor = *end == L'.' ? std::wcstoul(end + 1, nullptr, 10) : 0;
    }
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    if (ReadText(HKEY_LOCAL_MACHINE, kNtCurrentVersion, L"CurrentBuildNumber", text))
        info->dwBuildNumber = std::wcstoul(text.c_str(), nullptr, 10);
    if (ReadText(HKEY_LOCAL_MACHINE, kNtCurrentVersion, L"CSDVersion", text))
        std::wcsncpy(info->szCSDVersion, text.c_str(), 127);
    return TRUE;
}

// A shell folder of the image: the user's or the common one, from User Shell Folders (expanded in
// the image's environment), else Shell Folders, as the shell of the image would find it.
bool OfflineBackend::ShellFolder(int csidl, std::wstring& path) {
    const struct {
        int csidl;
        const wchar_t* value;
        bool common;
    } kFolders[] = {
        {CSIDL_STARTUP, L"Startup", false},
        {CSIDL_COMMON_STARTUP, L"Common Startup", true},
        {CSIDL_PROGRAMS, L"Programs", false},
        {CSIDL_COMMON_PROGRAMS, L"Common Programs", true},
        {CSIDL_STARTMENU, L"Start Menu", false},
        {CSIDL_COMMON_STARTMENU, L"Common Start Menu", true},
        {CSIDL_APPDATA, L"AppData", false},
        {CSIDL_LOCAL_APPDATA, L"Local AppData", false},
        {CSIDL_COMMON_APPDATA, L"Common AppData", true},
        {CSIDL_DESKTOPDIRECTORY, L"Desktop", false},
        {CSIDL_COMMON_DESKTOPDIRECTORY, L"Common Desktop", true},
        {CSIDL_PERSONAL, L"Personal", false},
    };
    switch (csidl) {
        case CSIDL_WINDOWS:
            path = systemRoot_;
            return true;
        case CSIDL_SYSTEM:
            path = systemRoot_ + L"\\system32";
            return true;
        case CSIDL_PROFILE:
            return Variable(L"USERPROFILE", path);
        case CSIDL_PROGRAM_FILES:
            return Variable(L"ProgramFiles", path);
        default:
            break;
    }
    for (const auto& folder : kFolders) {
        if (folder.csidl != csidl) continue;
        HKEY root = folder.common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        std::wstring user = folder.common ? std::wstring(L"SOFTWARE\\") + (kUserShellFolders + 9) : kUserShellFolders;
        std::wstring shell = folder.common ? std::wstring(L"SOFTWARE\\") + (kShellFolders + 9) : kShellFolders;
        std::wstring text;
        if (ReadText(root, user.c_str(), folder.value, text) || ReadText(root, shell.c_str(), folder.value, text)) {
            path = Expand(text);
            return !path.empty();
        }
        return false;
    }
    return false;
}

BOOL OfflineBackend::SHGetSpecialFolderPathW(HWND, LPWSTR buffer, int csidl, BOOL create) {
    if (!buffer) return FALSE;
    buffer[0] = 0;
    std::wstring path;
    // The image is never written, so a folder is never created in it.
    if (create || !ShellFolder(csidl & ~CSIDL_FLAG_MASK, path) || path.size() >= MAX_PATH) return FALSE;
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return TRUE;
}

}  // namespace offline
}  // namespace platform
