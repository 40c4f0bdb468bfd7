#include "paths/path_primitives.h"

#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <vector>

#include "platform/platform.h"
#include "winhelpers/hresult.h"

namespace Tessel {

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

HRESULT LastErrorOrFail() {
    DWORD error = platform::GetLastError();
    return error ? Basalt::HResultFromWin32(static_cast<LONG>(error)) : E_FAIL;
}

// The size-then-fill protocol of GetFullPathNameW and GetLongPathNameW.
template <typename Convert>
HRESULT ConvertPath(std::wstring& path, Convert convert) {
    DWORD needed = convert(path.c_str(), nullptr, 0);
    if (needed == 0) return LastErrorOrFail();
    if (needed > kMaxExpandedPath) return E_UNEXPECTED;
    std::vector<wchar_t> buffer(needed);
    DWORD written = convert(path.c_str(), buffer.data(), needed);
    if (written == 0 || written >= needed) return LastErrorOrFail();
    path.assign(buffer.data(), written);
    return S_OK;
}

}  // namespace

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    return _wcsnicmp(text.c_str(), prefix, std::wcslen(prefix)) == 0;
}

size_t FindNoCase(const std::wstring& text, const wchar_t* what) {
    size_t length = std::wcslen(what);
    for (size_t i = 0; i + length <= text.size(); ++i)
        if (_wcsnicmp(text.c_str() + i, what, length) == 0) return i;
    return std::wstring::npos;
}

void TrimTrailingWhiteSpace(std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && std::iswspace(text[end - 1])) --end;
    text.erase(end);
}

void TrimWhiteSpace(std::wstring& text) {
    TrimTrailingWhiteSpace(text);
    size_t start = 0;
    while (start < text.size() && std::iswspace(text[start])) ++start;
    text.erase(0, start);
}

void TrimAndUnquote(std::wstring& text) {
    TrimWhiteSpace(text);
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
}

bool ExpandLeadingEnvironment(std::wstring& text) {
    if (text.empty() || text[0] != L'%') return false;
    DWORD needed = platform::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0 || needed > kMaxExpandedPath) return false;
    std::vector<wchar_t> buffer(needed);
    DWORD written = platform::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
    if (written == 0 || written > needed) return false;
    buffer.back() = 0;
    text = buffer.data();
    return true;
}

bool ReplacePrefixWithFolder(std::wstring& text, const wchar_t* prefix, int csidl) {
    size_t prefixLength = std::wcslen(prefix);
    if (_wcsnicmp(text.c_str(), prefix, prefixLength < MAX_PATH ? prefixLength : MAX_PATH) != 0) return false;
    wchar_t folder[MAX_PATH] = {};
    if (!platform::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE)) return false;
    folder[MAX_PATH - 1] = 0;
    std::wstring replacement = folder;
    if (replacement.size() + 1 < MAX_PATH) replacement += L'\\';
    size_t newLength = text.size() - prefixLength + replacement.size();
    if (newLength + 1 >= MAX_PATH) return false;
    text.replace(0, prefixLength, replacement);
    return true;
}

bool StripDosDevicesPrefix(std::wstring& text) {
    if (!StartsWith(text, L"\\??\\") || text.size() <= 4) return false;
    text.erase(0, 4);
    return true;
}

bool RewriteSystemPrefix(std::wstring& text) {
    return ReplacePrefixWithFolder(text, L"System32\\", CSIDL_SYSTEM) ||
           ReplacePrefixWithFolder(text, L"\\SystemRoot\\", CSIDL_WINDOWS) || StripDosDevicesPrefix(text);
}

bool IsUncPath(const std::wstring& path) {
    if (path.empty()) return false;
    if (StartsWith(path, L"\\\\?\\")) return _wcsnicmp(path.c_str() + 4, L"UNC\\", 4) == 0;
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\' && (path.size() < 3 || path[2] != L'?');
}

size_t SkipLongPathPrefix(const std::wstring& path) {
    if (path.empty()) return 0;
    if (StartsWith(path, L"\\\\?\\")) return _wcsnicmp(path.c_str() + 4, L"UNC\\", 4) == 0 ? 8 : 4;
    return IsUncPath(path) ? 2 : 0;
}

size_t FindFileName(const std::wstring& path) {
    if (path == L"\\\\") return 0;
    size_t result = SkipLongPathPrefix(path);
    for (size_t i = result; i < path.size(); ++i) {
        wchar_t c = path[i];
        bool separator = IsSeparator(c) || c == L':';
        if (separator && i + 1 < path.size() && !IsSeparator(path[i + 1])) result = i + 1;
    }
    return result;
}

size_t FindExtension(const std::wstring& path) {
    size_t dot = path.size();
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'.') dot = i;
        else if (path[i] == L'\\') dot = path.size();
    }
    return dot;
}

bool CombinePath(std::wstring& directory, const wchar_t* name) {
    if (!name) return false;
    while (*name == L'\\') ++name;
    if (!*name) return true;
    size_t end = directory.size();
    while (end > 0 && directory[end - 1] == L'\\') --end;
    directory.erase(end);
    directory += L'\\';
    directory += name;
    return true;
}

bool RemoveFileName(std::wstring& path) {
    if (path.empty()) return false;
    size_t start = SkipLongPathPrefix(path);
    size_t length = path.size();
    if (start + 1 < length && path[start + 1] == L':') {
        size_t third = start + 2;
        if (third == length || (path[third] == L'\\' && third + 1 == length)) return false;
        start += path[third] == L'\\' ? 3 : 2;
    }
    size_t last = path.find_last_of(L'\\');
    size_t cut;
    if (last == std::wstring::npos || last < start) cut = start;
    else if (last == 0) cut = 1;
    else if (path[last - 1] == L'\\') cut = last - 1;
    else cut = last;
    if (cut >= length) return false;
    path.erase(cut);
    return true;
}

HRESULT MakeFullPath(std::wstring& path) {
    return ConvertPath(path, [](const wchar_t* p, wchar_t* buffer, DWORD capacity) {
        return platform::GetFullPathNameW(p, capacity, buffer, nullptr);
    });
}

HRESULT MakeLongPath(std::wstring& path) {
    return ConvertPath(path, [](const wchar_t* p, wchar_t* buffer, DWORD capacity) {
        return platform::GetLongPathNameW(p, buffer, capacity);
    });
}

void ToLongPathForm(std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\")) return;
    if (IsUncPath(path)) {
        path = L"\\\\?\\UNC\\" + path.substr(2);
        return;
    }
    MakeLongPath(path);
    path = L"\\\\?\\" + path;
}

HRESULT IsKnownHostProgram(const std::wstring& path, const KnownHostProgram** row) {
    if (row) *row = nullptr;
    std::wstring candidate = path;
    MakeLongPath(candidate);
    std::wstring fileName = FileNameOf(candidate);
    for (const KnownHostProgram* known = kKnownHostPrograms; known->fileName; ++known) {
        if (!EqualsNoCase(fileName, known->fileName)) continue;
        std::wstring knownPath = known->directory;
        CombinePath(knownPath, known->fileName);
        RewriteSystemPrefix(knownPath);
        ToLongPathForm(knownPath);
        std::wstring compared = candidate;
        MakeLongPath(compared);
        ToLongPathForm(compared);
        if (EqualsNoCase(compared, knownPath.c_str())) {
            if (row) *row = known;
            return S_OK;
        }
    }
    return E_FAIL;
}

}  // namespace Tessel
