// The shell's path-text helpers (PathAppendW, PathRemoveFileSpecW, PathAddBackslashW,
// PathFindFileNameW), on std::wstring and with the same results.
#pragma once

#include <string>

namespace Tessel {

// Joins with exactly one backslash between the parts; a leading backslash of more is dropped.
void PathAppend(std::wstring& path, const std::wstring& more);
// Cuts the last component and its backslash, keeping the backslash of a drive root ("C:\").
void PathRemoveFileSpec(std::wstring& path);
// Ends the path with a backslash unless it is empty or already ends with one.
void PathAddBackslash(std::wstring& path);
// The text after the last backslash or colon (a trailing backslash does not count).
std::wstring PathFindFileName(const std::wstring& path);

}  // namespace Tessel
