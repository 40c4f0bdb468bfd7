#include "paths/path_primitives.h"

#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <vector>

#include "platform/platform.h"
#include "winhelpers/hresult.h"

namespace Tessel {

namespace {

bool StartsWith(std::wstring_view text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// Cuts text down to kept, a part of it.
void Keep(std::wstring& text, std::wstring_view kept) {
    size_t start = kept.data() - text.data();
    text.erase(start + kept.size()).erase(0, start);
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

bool EqualsNoCase(std::wstring_view a, const wchar_t* b) {
    size_t length = std::wcslen(b);
    return StartsWithNoCase(a, b) && (a.size() == length || a[length] == L'\0');
}

bool StartsWithNoCase(std::wstring_view text, const wchar_t* prefix) {
    size_t length = std::wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.data(), prefix, length) == 0;
}

size_t FindNoCase(std::wstring_view text, const wchar_t* what) {
    size_t length = std::wcslen(what);
    for (size_t i = 0; i + length <= text.size(); ++i)
        if (_wcsnicmp(text.data() + i, what, length) == 0) return i;
    return std::wstring::npos;
}

std::wstring_view WithoutWhiteSpace(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
    while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
    return text;
}

std::wstring_view WithoutWhiteSpaceAndQuotes(std::wstring_view text) {
    text = WithoutWhiteSpace(text);
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
    return text;
}

void TrimTrailingWhiteSpace(std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && std::iswspace(text[end - 1])) --end;
    text.erase(end);
}

void TrimWhiteSpace(std::wstring& text) { Keep(text, WithoutWhiteSpace(text)); }

void TrimAndUnquote(std::wstring& text) { Keep(text, WithoutWhiteSpaceAndQuotes(text)); }

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

bool IsUncPath(std::wstring_view path) {
    if (path.empty()) return false;
    if (StartsWith(path, L"\\\\?\\")) return StartsWithNoCase(path.substr(4), L"UNC\\");
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\' && (path.size() < 3 || path[2] != L'?');
}

size_t SkipLongPathPrefix(std::wstring_view path) {
    if (path.empty()) return 0;
    if (StartsWith(path, L"\\\\?\\")) return StartsWithNoCase(path.substr(4), L"UNC\\") ? 8 : 4;
    return IsUncPath(path) ? 2 : 0;
}

size_t FindFileName(std::wstring_view path) {
    if (path == L"\\\\") return 0;
    size_t result = SkipLongPathPrefix(path);
    for (size_t i = result; i < path.size(); ++i) {
        wchar_t c = path[i];
        bool separator = IsSeparator(c) || c == L':';
        if (separator && i + 1 < path.size() && !IsSeparator(path[i + 1])) result = i + 1;
    }
    return result;
}

size_t FindExtension(std::wstring_view path) {
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
