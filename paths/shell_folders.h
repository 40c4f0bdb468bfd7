// Which value under "Shell Folders" names a shell folder, and whether it is an all-users folder.
#pragma once

#include <windows.h>

#include <unordered_map>

namespace Tessel {

struct ShellFolderEntry {
    LPCWSTR valueName;  // constant text, never freed
    BOOL allUsers;      // read under HKEY_LOCAL_MACHINE rather than under each user hive
};

using ShellFolderTable = std::unordered_map<int, ShellFolderEntry>;

// Sets every entry (insert or overwrite): the table then holds the same 34 entries however often
// it is filled.
void FillShellFolderTable(ShellFolderTable& table);

// The entry of a CSIDL, or null when the table has none (the folder is then asked of the shell).
const ShellFolderEntry* LookupShellFolder(const ShellFolderTable& table, int csidl);

}  // namespace Tessel
