// One scanned item as the host keeps it: everything the item's interfaces tell, read once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zvatrun.h"

namespace zvscan {

enum class ItemKind { Registry, AutorunFile, Shortcut, InputMethod, OpenCommand, Service, Task, Other };

struct ItemRecord {
    unsigned long index = 0;  // position in the scan, from 1: what `repair --index` selects
    unsigned long id = 0;
    unsigned long category = 0;
    std::wstring location;
    std::vector<std::wstring> files;
    bool repairable = false;
    ItemKind kind = ItemKind::Other;
    // Registry items.
    std::wstring root, keyPath, valueName, valueData;
    // Autorun-file items.
    std::wstring iniPath, section, iniKey, iniValue;
    // Startup-folder items: the file that lies in the folder.
    std::wstring filePath;
    // Input-method items.
    unsigned long preloadIndex = 0;
    std::wstring layoutId;
    // Open-command items.
    std::wstring extension, progId, verb;
};

// The drive autorun row answers the registry kind interface's IID with its autorun-file interface.
constexpr unsigned long kDriveAutorunId = 0x10500001;

// "registry", "services", ...; "unknown" outside the table's categories.
const char* CategoryName(unsigned long category);
// A category by name or as hex ("0x10100000"); nothing when it is neither.
std::optional<unsigned long> ParseCategory(const std::string& text);
const char* KindName(ItemKind kind);

ItemRecord ReadItemRecord(IZVAutorunItemEx* item, unsigned long index);

}  // namespace zvscan
