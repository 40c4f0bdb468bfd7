// Path and string primitives that bring the paths autostart entries name into a form that can be
// probed and compared: trimming and unquoting, prefix rewriting, file name and extension, joining
// and cutting, full and long forms, and the test for the system's host programs.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "zvhostprograms.h"

namespace Tessel {

// Limits: rewritten paths fit MAX_PATH with their terminator; expansions and full or long
// conversions needing more than this many characters are refused.
constexpr DWORD kMaxExpandedPath = 32771;

// White space as iswspace classifies it.
void TrimWhiteSpace(std::wstring& text);
void TrimTrailingWhiteSpace(std::wstring& text);
// Trims both ends, then removes one pair of enclosing double quotes.
void TrimAndUnquote(std::wstring& text);
// The part of a text that TrimWhiteSpace, and TrimAndUnquote, keep.
std::wstring_view WithoutWhiteSpace(std::wstring_view text);
std::wstring_view WithoutWhiteSpaceAndQuotes(std::wstring_view text);

// Expands environment references only when the text starts with '%'.
bool ExpandLeadingEnvironment(std::wstring& text);
// Replaces a leading prefix (any letter case) by the special folder and a backslash.
bool ReplacePrefixWithFolder(std::wstring& text, const wchar_t* prefix, int csidl);
// Removes a leading "\??\" that is followed by something.
bool StripDosDevicesPrefix(std::wstring& text);
// "System32\" -> system folder, "\SystemRoot\" -> Windows folder, "\??\" -> removed.
bool RewriteSystemPrefix(std::wstring& text);

// Where the ordinary path begins after "\\?\", "\\?\UNC\" or the two backslashes of a UNC path.
size_t SkipLongPathPrefix(std::wstring_view path);
bool IsUncPath(std::wstring_view path);
// Position of the file-name part; trailing separators do not start a name.
size_t FindFileName(std::wstring_view path);
// Position of the extension's '.', or path.size() when the last component has none.
size_t FindExtension(std::wstring_view path);
inline std::wstring FileNameOf(const std::wstring& path) { return path.substr(FindFileName(path)); }
inline std::wstring ExtensionOf(const std::wstring& path) { return path.substr(FindExtension(path)); }

// directory := directory, one backslash, name without its leading backslashes.
bool CombinePath(std::wstring& directory, const wchar_t* name);
// Cuts a path back to its parent directory; false when nothing can be cut.
bool RemoveFileName(std::wstring& path);
HRESULT MakeFullPath(std::wstring& path);
HRESULT MakeLongPath(std::wstring& path);
// "\\?\" + long path, or "\\?\UNC\" + server path.
void ToLongPathForm(std::wstring& path);

// S_OK with the matching row when the path names one of the system's host programs, else E_FAIL.
HRESULT IsKnownHostProgram(const std::wstring& path, const KnownHostProgram** row);

// Case-insensitive comparisons of the C runtime (_wcsicmp, _wcsnicmp); a NUL ends a text, as it
// ends a C string.
bool EqualsNoCase(std::wstring_view a, const wchar_t* b);
bool StartsWithNoCase(std::wstring_view text, const wchar_t* prefix);
// Position of the first occurrence of what in text in any letter case, or npos.
size_t FindNoCase(std::wstring_view text, const wchar_t* what);

}  // namespace Tessel
