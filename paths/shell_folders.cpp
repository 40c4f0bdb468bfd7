#include "paths/shell_folders.h"

namespace Tessel {

namespace {

struct Entry {
    int csidl;
    ShellFolderEntry entry;
};

const Entry kShellFolders[] = {
    {0x2F, {L"Common Administrative Tools", TRUE}},
    {0x23, {L"Common AppData", TRUE}},
    {0x19, {L"Common Desktop", TRUE}},
    {0x2E, {L"Common Documents", TRUE}},
    {0x17, {L"Common Programs", TRUE}},
    {0x16, {L"Common Start Menu", TRUE}},
    {0x18, {L"Common Startup", TRUE}},
    {0x35, {L"CommonMusic", TRUE}},
    {0x36, {L"CommonPictures", TRUE}},
    {0x37, {L"CommonVideo", TRUE}},
    {0x1F, {L"Common Favorites", TRUE}},
    // No lookup asks for 0x30 or 0x28; these two names only complete the table.
    {0x30, {L"Common Templates", TRUE}},
    {0x1A, {L"AppData", FALSE}},
    {0x20, {L"Cache", FALSE}},
    {0x21, {L"Cookies", FALSE}},
    {0x10, {L"Desktop", FALSE}},
    {0x06, {L"Favorites", FALSE}},
    {0x14, {L"Fonts", FALSE}},
    {0x22, {L"History", FALSE}},
    {0x1C, {L"Local AppData", FALSE}},
    {0x28, {L"Local Settings", FALSE}},
    {0x05, {L"Personal", FALSE}},
    {0x02, {L"Programs", FALSE}},
    {0x08, {L"Recent", FALSE}},
    {0x09, {L"SendTo", FALSE}},
    {0x0B, {L"Start Menu", FALSE}},
    {0x07, {L"Startup", FALSE}},
    {0x15, {L"Templates", FALSE}},
    {0x3B, {L"CD Burning", FALSE}},
    {0x0D, {L"My Music", FALSE}},
    {0x27, {L"My Pictures", FALSE}},
    {0x0E, {L"My Video", FALSE}},
    {0x13, {L"NetHood", FALSE}},
    {0x1B, {L"PrintHood", FALSE}},
};

}  // namespace

void FillShellFolderTable(ShellFolderTable& table) {
    for (const auto& e : kShellFolders) table[e.csidl] = e.entry;
}

const ShellFolderEntry* LookupShellFolder(const ShellFolderTable& table, int csidl) {
    auto it = table.find(csidl);
    return it == table.end() ? nullptr : &it->second;
}

}  // namespace Tessel
