// One scanned item as the host keeps it: everything the item's interfaces tell, read once.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evidence/evidence.h"
#include "evidence/signature.h"
#include "zvatrun.h"

namespace zvscan {

enum class ItemKind { Registry, AutorunFile, Shortcut, InputMethod, OpenCommand, Service, Task, Other };

struct ItemRecord {
    unsigned long index = 0;  // position in the scan, from 1: what `repair --index` selects
    unsigned long id = 0;
    unsigned long category = 0;
    std::wstring location;
    // The HKEY_USERS subkey of the user hive the entry came from; empty for a machine-wide entry.
    std::wstring hive;
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
    // With --evidence: the facts of each file, in the order of files.
    std::optional<std::vector<FileEvidence>> evidence;
    // On 64-bit Windows: the registry view the entry was seen in ("native", "wow64", or "both" for an
    // entry the two views share); empty where the system has one view.
    std::string view;
    // A registry item's key as the system names it ("HKLM\SOFTWARE\WOW6432Node\..."), where a view
    // redirects the key the library names; empty where the system has one view.
    std::wstring realKey;
    // With --signatures: who signed each file, in the order of files.
    std::optional<std::vector<FileSignature>> signatures;
};

// The drive autorun row answers the registry kind interface's IID with its autorun-file interface.
constexpr unsigned long kDriveAutorunId = 0x10500001;

// "registry", "services", ...; "unknown" outside the table's categories.
const char* CategoryName(unsigned long category);
// A category by name or as hex ("0x10100000"); nothing when it is neither.
std::optional<unsigned long> ParseCategory(const std::string& text);
const char* KindName(ItemKind kind);

// occurrence: how often the scan handed out an item of this identifier and location before (an entry
// of a folder that two hives share comes once per hive).
// offline: the item comes from an offline scanner, whose keys are no keys of this system; its
// location names its hive.
ItemRecord ReadItemRecord(IZVAutorunItemEx* item, unsigned long index, unsigned long occurrence = 0,
                          bool offline = false);

// Reads the items of one scan in their order, numbering them from 1.
class ItemReader {
public:
    explicit ItemReader(bool offline = false) : offline_(offline) {}
    ItemRecord Read(IZVAutorunItemEx* item);

private:
    bool offline_;
    unsigned long count_ = 0;
    std::map<std::string, unsigned long> seen_;  // identifier and location, folded: items so far
};

// The item's key: twelve lower-case hex digits derived from its identifier, hive and location
// (without regard to case), the same in every scan for as long as the entry exists; an entry that
// only the WOW64 view sees has a key of its own.
std::string ItemKey(const ItemRecord& record);

// The HKEY_USERS subkey a registry key handle lies in; empty for a predefined key or a key outside
// HKEY_USERS.
std::wstring HiveOfKey(HKEY key);
// The full name the system gives the key `path` below `root` in this process's view, such as
// HKLM\SOFTWARE\WOW6432Node\... for a redirected key; empty when it cannot be opened.
std::wstring RealKeyName(HKEY root, const std::wstring& path);
// The HKEY_USERS subkey a location starts with; empty for any other location.
std::wstring HiveOfLocation(const std::wstring& location);

}  // namespace zvscan
