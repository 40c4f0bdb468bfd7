#include "repair/repair_state.h"

#include <algorithm>
#include <stdexcept>

#include "evidence/sha256.h"
#include "win/handles.h"
#include "win/text.h"

namespace zvscan {

namespace {

const wchar_t kWinlogonPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kWindowsPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t kPreloadPath[] = L"Keyboard Layout\\Preload";

// The repairs that write a fixed key of the item's root rather than the item's own key.
struct FixedKeyRepair {
    unsigned long id;
    const wchar_t* path;
};
const FixedKeyRepair kFixedKeyRepairs[] = {
    {0x10101006, kWinlogonPath},  // Userinit
    {0x10101008, kWinlogonPath},  // Shell of a user
    {0x1010100A, kWinlogonPath},  // Shell of the machine
    {0x1010C003, kWinlogonPath},  // System
    {0x1010C004, kWinlogonPath},  // UIHost
    {0x1010A001, kWindowsPath},   // AppInit_DLLs
};

// An open-command repair points the extension back at its default ProgID and rewrites that ProgID's
// command, whichever ProgID the scan found.
struct OpenCommandRepair {
    unsigned long id;
    const wchar_t* progId;
};
const OpenCommandRepair kOpenCommandRepairs[] = {
    {0x10700010, L"exefile"}, {0x10700011, L"exefile"}, {0x10700020, L"txtfile"}, {0x10700050, L"batfile"},
    {0x10700051, L"batfile"}, {0x10700070, L"cmdfile"}, {0x10700071, L"cmdfile"}, {0x10700080, L"comfile"},
};

constexpr unsigned long kInputMethodId = 0x10600001;

[[noreturn]] void Fail(const std::string& what, LONG error) {
    throw std::runtime_error(what + " (error " + std::to_string(error) + ")");
}

}  // namespace

HKEY PredefinedKey(const std::wstring& root, std::wstring& prefix) {
    struct Predefined {
        const wchar_t* name;
        HKEY key;
    };
    static const Predefined kRoots[] = {{L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                        {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                        {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                                        {L"HKEY_USERS", HKEY_USERS}};
    std::wstring first = root.substr(0, root.find(L'\\'));
    for (const Predefined& entry : kRoots) {
        if (!EqualsIgnoreCase(first, entry.name)) continue;
        prefix = first.size() < root.size() ? root.substr(first.size() + 1) + L"\\" : std::wstring();
        return entry.key;
    }
    throw std::runtime_error("not a registry root: " + Utf8(root));
}

void SetValue(HKEY key, const RegistryValue& value, const std::string& where) {
    // Bytes that are not zero after the data: the registry then stores the data exactly as given and
    // adds no terminator to a string value that lacks one.
    std::string buffer = value.data + std::string(2, '\xFF');
    LONG status = RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(buffer.data()),
                                 static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) Fail("cannot write " + where + "\\[" + Utf8(value.name) + "]", status);
}

namespace {

void ReadTree(HKEY key, RegistryTree& tree, const std::string& where) {
    DWORD subkeys = 0, maxSubkey = 0, valueCount = 0, maxValueName = 0, maxData = 0;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &valueCount,
                                   &maxValueName, &maxData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) Fail("cannot read " + where, status);
    std::vector<wchar_t> name(std::max(maxValueName, maxSubkey) + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
        status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_MORE_DATA) {
            // The key changed since its sizes were read: start again with the new sizes.
            tree.values.clear();
            tree.subkeys.clear();
            return ReadTree(key, tree, where);
        }
        if (status != ERROR_SUCCESS) Fail("cannot read a value of " + where, status);
        tree.values.push_back({std::wstring(name.data(), nameLength), type,
                               std::string(reinterpret_cast<const char*>(data.data()), dataSize)});
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        status = RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) Fail("cannot list the subkeys of " + where, status);
        RegistryTree subtree;
        subtree.name.assign(name.data(), nameLength);
        std::string subWhere = where + "\\" + Utf8(subtree.name);
        RegKey child;
        status = RegOpenKeyExW(key, subtree.name.c_str(), 0, KEY_READ, child.Put());
        if (status != ERROR_SUCCESS) Fail("cannot open " + subWhere, status);
        ReadTree(child.Get(), subtree, subWhere);
        tree.subkeys.push_back(std::move(subtree));
    }
}

// Makes the open key hold exactly what the tree holds.
void WriteTree(HKEY key, const RegistryTree& tree, const std::string& where) {
    RegistryTree current;
    ReadTree(key, current, where);
    auto named = [](const auto& list, const std::wstring& name) {
        return std::any_of(list.begin(), list.end(), [&](const auto& entry) { return EqualsIgnoreCase(entry.name, name); });
    };
    for (const RegistryValue& value : current.values) {
        if (named(tree.values, value.name)) continue;
        LONG status = RegDeleteValueW(key, value.name.c_str());
        if (status != ERROR_SUCCESS) Fail("cannot delete " + where + "\\[" + Utf8(value.name) + "]", status);
    }
    for (const RegistryTree& subkey : current.subkeys) {
        if (named(tree.subkeys, subkey.name)) continue;
        LONG status = RegDeleteTreeW(key, subkey.name.c_str());
        if (status != ERROR_SUCCESS) Fail("cannot delete " + where + "\\" + Utf8(subkey.name), status);
    }
    for (const RegistryValue& value : tree.values) SetValue(key, value, where);
    for (const RegistryTree& subkey : tree.subkeys) {
        std::string subWhere = where + "\\" + Utf8(subkey.name);
        RegKey child;
        LONG status = RegCreateKeyExW(key, subkey.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, child.Put(), nullptr);
        if (status != ERROR_SUCCESS) Fail("cannot create " + subWhere, status);
        WriteTree(child.Get(), subkey, subWhere);
    }
}

std::string HexBytes(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::string FromHex(const std::string& text) {
    if (text.size() % 2) throw std::runtime_error("odd number of hex digits");
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto digit = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            throw std::runtime_error("not a hex digit");
        };
        bytes += static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1]));
    }
    return bytes;
}

OrderedJson TreeJson(const RegistryTree& tree, bool sorted) {
    std::vector<const RegistryValue*> values;
    for (const RegistryValue& value : tree.values) values.push_back(&value);
    std::vector<const RegistryTree*> subkeys;
    for (const RegistryTree& subkey : tree.subkeys) subkeys.push_back(&subkey);
    if (sorted) {
        auto byName = [](const auto* a, const auto* b) { return Folded(a->name) < Folded(b->name); };
        std::sort(values.begin(), values.end(), byName);
        std::sort(subkeys.begin(), subkeys.end(), byName);
    }
    OrderedJson json;
    json["values"] = OrderedJson::array();
    for (const RegistryValue* value : values)
        json["values"].push_back({{"name", Utf8(value->name)}, {"type", value->type}, {"data", HexBytes(value->data)}});
    json["subkeys"] = OrderedJson::array();
    for (const RegistryTree* subkey : subkeys) {
        OrderedJson child = {{"name", Utf8(subkey->name)}};
        child.update(TreeJson(*subkey, sorted));
        json["subkeys"].push_back(child);
    }
    return json;
}

RegistryTree TreeFromJson(const OrderedJson& json) {
    RegistryTree tree;
    if (json.contains("name")) tree.name = Wide(json.at("name").get<std::string>());
    for (const auto& value : json.at("values"))
        tree.values.push_back({Wide(value.at("name").get<std::string>()), value.at("type").get<DWORD>(),
                               FromHex(value.at("data").get<std::string>())});
    for (const auto& subkey : json.at("subkeys")) tree.subkeys.push_back(TreeFromJson(subkey));
    return tree;
}

OrderedJson StateJson(const TargetState& state, bool canonical) {
    OrderedJson json;
    const Target& target = state.target;
    json["kind"] = target.kind == TargetKind::Key ? "key" : "file";
    if (target.kind == TargetKind::Key) json["root"] = Utf8(target.root);
    json["path"] = Utf8(target.path);
    json["exists"] = state.exists;
    if (!state.exists) return json;
    if (target.kind == TargetKind::Key) {
        json["tree"] = TreeJson(state.tree, canonical);
        return json;
    }
    json["attributes"] = state.attributes;
    json["size"] = state.size;
    json["sha256"] = state.sha256;
    if (!canonical) json["quarantine"] = Utf8(state.quarantine);
    return json;
}

// Content hash and size of a file.
void HashFile(const std::wstring& path, TargetState& state) {
    FileHandle file = OpenForReading(path);
    if (!file) Fail("cannot read " + Utf8(path), static_cast<LONG>(GetLastError()));
    if (DWORD error = Sha256OfFile(file.Get(), state.sha256, state.size))
        Fail("cannot read " + Utf8(path), static_cast<LONG>(error));
}

bool FileFacts(const std::wstring& path, TargetState& state) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
        Fail("cannot read the attributes of " + Utf8(path), static_cast<LONG>(error));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw std::runtime_error(Utf8(path) + " is a directory");
    state.attributes = attributes;
    HashFile(path, state);
    return true;
}

// The attributes SetFileAttributesW accepts.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;

void RemoveFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) Fail("cannot delete " + Utf8(path), static_cast<LONG>(GetLastError()));
}

}  // namespace

std::optional<std::vector<Target>> RepairTargets(const ItemRecord& record) {
    if (!record.repairable) return std::vector<Target>{};
    // A registry item names its root; an input method, the user hive of its preload list.
    std::wstring root = record.kind == ItemKind::Registry ? record.root
                        : record.hive.empty()             ? std::wstring(L"HKEY_CURRENT_USER")
                                                          : L"HKEY_USERS\\" + record.hive;
    auto key = [&](const std::wstring& keyRoot, const std::wstring& path) {
        return std::vector<Target>{{TargetKind::Key, keyRoot, path}};
    };
    switch (record.kind) {
        case ItemKind::Registry:
            if (root.empty() || record.keyPath.empty()) return std::nullopt;
            for (const FixedKeyRepair& repair : kFixedKeyRepairs)
                if (repair.id == record.id) return key(root, repair.path);
            return key(root, record.keyPath);
        case ItemKind::InputMethod:
            if (record.id != kInputMethodId) return std::nullopt;
            return key(root, kPreloadPath);
        case ItemKind::Shortcut:
            return std::vector<Target>{{TargetKind::File, {}, record.filePath}};
        case ItemKind::AutorunFile:
            return std::vector<Target>{{TargetKind::File, {}, record.iniPath}};
        case ItemKind::OpenCommand:
            for (const OpenCommandRepair& repair : kOpenCommandRepairs) {
                if (repair.id != record.id) continue;
                std::wstring command = std::wstring(repair.progId) + L"\\shell\\" + record.verb + L"\\command";
                return std::vector<Target>{{TargetKind::Key, L"HKEY_CLASSES_ROOT", command},
                                           {TargetKind::Key, L"HKEY_CLASSES_ROOT", record.extension}};
            }
            return std::nullopt;
        case ItemKind::Service:
        case ItemKind::Task:
        case ItemKind::Other:
            break;
    }
    return std::nullopt;
}

Target WidenToFirstMissing(const Target& target) {
    if (target.kind != TargetKind::Key) return target;
    std::wstring prefix;
    HKEY predefined = PredefinedKey(target.root, prefix);
    for (size_t end = 0; end != std::wstring::npos;) {
        end = target.path.find(L'\\', end + 1);
        std::wstring path = target.path.substr(0, end);
        RegKey key;
        if (RegOpenKeyExW(predefined, (prefix + path).c_str(), 0, KEY_READ, key.Put()) == ERROR_FILE_NOT_FOUND)
            return {TargetKind::Key, target.root, path};
    }
    return target;
}

TargetState Capture(const Target& target) {
    TargetState state;
    state.target = target;
    if (target.kind == TargetKind::File) {
        state.exists = FileFacts(target.path, state);
        return state;
    }
    std::wstring prefix;
    HKEY predefined = PredefinedKey(target.root, prefix);
    RegKey key;
    LONG status = RegOpenKeyExW(predefined, (prefix + target.path).c_str(), 0, KEY_READ, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return state;
    if (status != ERROR_SUCCESS) Fail("cannot open " + Describe(target), status);
    state.exists = true;
    ReadTree(key.Get(), state.tree, Describe(target));
    return state;
}

void CreateFolders(const std::wstring& folder) {
    for (size_t at = folder.find_first_of(L"\\/", 3); at != std::wstring::npos; at = folder.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
}

void Quarantine(TargetState& state, const std::wstring& folder, const std::wstring& name) {
    if (state.target.kind != TargetKind::File || !state.exists) return;
    CreateFolders(folder);
    std::wstring copy = folder + L"\\" + name;
    if (!CopyFileW(state.target.path.c_str(), copy.c_str(), TRUE))
        Fail("cannot copy " + Utf8(state.target.path) + " to " + Utf8(copy), static_cast<LONG>(GetLastError()));
    TargetState copied;
    HashFile(copy, copied);
    if (copied.sha256 != state.sha256)
        throw std::runtime_error("the copy of " + Utf8(state.target.path) + " differs from the file");
    state.quarantine = copy;
}

void Restore(const TargetState& state) {
    const Target& target = state.target;
    if (target.kind == TargetKind::File) {
        if (GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveFile(target.path);
        if (!state.exists) return;
        TargetState kept;
        HashFile(state.quarantine, kept);
        if (kept.sha256 != state.sha256)
            throw std::runtime_error("the quarantined copy " + Utf8(state.quarantine) + " was changed");
        if (!CopyFileW(state.quarantine.c_str(), target.path.c_str(), TRUE))
            Fail("cannot copy " + Utf8(state.quarantine) + " back", static_cast<LONG>(GetLastError()));
        if (!SetFileAttributesW(target.path.c_str(), state.attributes & kSettableAttributes))
            Fail("cannot set the attributes of " + Utf8(target.path), static_cast<LONG>(GetLastError()));
        return;
    }
    std::wstring prefix;
    HKEY predefined = PredefinedKey(target.root, prefix);
    std::wstring path = prefix + target.path;
    std::string where = Describe(target);
    if (!state.exists) {
        LONG status = RegDeleteTreeW(predefined, path.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Fail("cannot delete " + where, status);
        return;
    }
    RegKey key;
    LONG status = RegCreateKeyExW(predefined, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) Fail("cannot create " + where, status);
    WriteTree(key.Get(), state.tree, where);
}

std::string Fingerprint(const TargetState& state) { return Sha256Hex(StateJson(state, true).dump()); }

std::string Describe(const Target& target) {
    return target.kind == TargetKind::Key ? Utf8(target.root + L"\\" + target.path) : Utf8(target.path);
}

OrderedJson ToJson(const TargetState& state) { return StateJson(state, false); }

TargetState TargetStateFromJson(const OrderedJson& json) {
    try {
        TargetState state;
        std::string kind = json.at("kind").get<std::string>();
        if (kind != "key" && kind != "file") throw std::runtime_error("unknown kind " + kind);
        state.target.kind = kind == "key" ? TargetKind::Key : TargetKind::File;
        if (state.target.kind == TargetKind::Key) state.target.root = Wide(json.at("root").get<std::string>());
        state.target.path = Wide(json.at("path").get<std::string>());
        state.exists = json.at("exists").get<bool>();
        if (!state.exists) return state;
        if (state.target.kind == TargetKind::Key) {
            state.tree = TreeFromJson(json.at("tree"));
            return state;
        }
        state.attributes = json.at("attributes").get<DWORD>();
        state.size = json.at("size").get<unsigned long long>();
        state.sha256 = json.at("sha256").get<std::string>();
        state.quarantine = Wide(json.at("quarantine").get<std::string>());
        return state;
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(std::string("not a captured state: ") + error.what());
    }
}

}  // namespace zvscan
