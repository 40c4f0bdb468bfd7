// What one repair can change, captured so that it can be put back exactly: registry keys with their
// whole subtree (every value's type and bytes, every subkey) and files (content, attributes).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/item_record.h"

namespace zvscan {

using OrderedJson = nlohmann::ordered_json;

struct RegistryValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::string data;  // the stored bytes, exactly
};

struct RegistryTree {
    std::wstring name;  // empty for the captured key itself
    std::vector<RegistryValue> values;
    std::vector<RegistryTree> subkeys;
};

enum class TargetKind { Key, File };

// A registry key under a root ("HKEY_LOCAL_MACHINE", "HKEY_USERS\S-1-5-21-...", "HKEY_CLASSES_ROOT",
// "HKEY_CURRENT_USER"), or a file.
struct Target {
    TargetKind kind = TargetKind::Key;
    std::wstring root;  // keys only
    std::wstring path;  // the key path below the root, or the file's full path
};

struct TargetState {
    Target target;
    bool exists = false;
    RegistryTree tree;             // keys
    DWORD attributes = 0;          // files
    unsigned long long size = 0;   // files
    std::string sha256;            // files: of the content
    std::wstring quarantine;       // files: the copy kept beside the journal; empty in a check of the current state
};

// Everything the item's repair routine can change, or nothing when zvscan cannot tell (an item without
// a repair changes nothing and gives an empty list).
std::optional<std::vector<Target>> RepairTargets(const ItemRecord& record);

// A key that does not exist is captured from its first missing ancestor, so that putting it back
// removes every key a repair created on the way.
Target WidenToFirstMissing(const Target& target);

// Throws std::runtime_error naming the key or file when it cannot be read.
TargetState Capture(const Target& target);
// Creates the folder and every missing folder above it.
void CreateFolders(const std::wstring& folder);
// Copies a captured file into folder, creating it, under the given name, and checks the copy.
void Quarantine(TargetState& state, const std::wstring& folder, const std::wstring& name);
// Puts the captured state back; throws std::runtime_error on a failure.
void Restore(const TargetState& state);

// The predefined key a root name starts with, and the path below it ("S-1-5-21-...\" for a hive);
// throws std::runtime_error for a name that is not a root.
HKEY PredefinedKey(const std::wstring& root, std::wstring& prefix);
// Writes the value's type and exact bytes into the open key; where names the key in an error.
void SetValue(HKEY key, const RegistryValue& value, const std::string& where);

// SHA-256 of the state in a canonical form: names sorted without regard to case, quarantine left out.
std::string Fingerprint(const TargetState& state);
std::string Describe(const Target& target);

OrderedJson ToJson(const TargetState& state);
// Throws std::runtime_error when the object does not hold a captured state.
TargetState TargetStateFromJson(const OrderedJson& json);

}  // namespace zvscan
