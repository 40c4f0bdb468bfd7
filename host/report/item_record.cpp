#include "report/item_record.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>

#include "win/handles.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {

namespace {

struct CategoryEntry {
    unsigned long category;
    const char* name;
};

const CategoryEntry kCategories[] = {
    {0x10100000, "registry"},         {0x10200000, "services"},  {0x10300000, "tasks"},         {0x10400000, "startup"},
    {0x10500000, "autorun-registry"}, {0x10600000, "input-mui"}, {0x10700000, "open-commands"},
};

// Releases the kind interface it was given when the read is done.
template <class T>
class KindInterface {
public:
    KindInterface(IZVAutorunItemEx* item, REFIID iid) {
        if (FAILED(item->QueryInterface(iid, reinterpret_cast<void**>(&p_)))) p_ = nullptr;
    }
    ~KindInterface() {
        if (p_) p_->Release();
    }
    KindInterface(const KindInterface&) = delete;
    KindInterface& operator=(const KindInterface&) = delete;
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// The library writes the root of a registry location first ("HKEY_USERS\<hive>" for a user hive,
// whose handle alone tells the host nothing), then the key path.
std::wstring RootName(HKEY root, const std::wstring& location, const std::wstring& keyPath) {
    if (keyPath.empty()) {
        if (!location.empty()) return location;
    } else {
        size_t at = location.find(L"\\" + keyPath);
        if (at != std::wstring::npos && at > 0) return location.substr(0, at);
    }
    struct Predefined {
        HKEY key;
        const wchar_t* name;
    };
    static const Predefined kPredefined[] = {{HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
                                             {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
                                             {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
                                             {HKEY_USERS, L"HKEY_USERS"}};
    for (const Predefined& entry : kPredefined)
        if (entry.key == root) return entry.name;
    return Wide(Hex32(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(root))));
}


// The per-user startup folder row reads the "Startup" value of every hive's Shell Folders key.
constexpr unsigned long kUserStartupFolderId = 0x10400002;

std::wstring ReadString(HKEY root, const wchar_t* path, const wchar_t* name) {
    RegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return {};
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return {};
    return text.data();
}

// A startup-folder item carries no root key: its hive is the one whose Startup folder, the value the
// scan read, holds the item's file. Hives that name the same folder each give the file once, in
// HKEY_USERS order: the occurrence-th of them (from 0) is the item's.
std::wstring StartupFolderHive(const std::wstring& filePath, unsigned long occurrence) {
    size_t slash = filePath.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    std::wstring folder = filePath.substr(0, slash);
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        LSTATUS status = RegEnumKeyExW(HKEY_USERS, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return {};
        RegKey hive;
        if (RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ, hive.Put()) != ERROR_SUCCESS) continue;
        std::wstring value = ReadString(hive.Get(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                        L"Startup");
        while (!value.empty() && value.back() == L'\\') value.pop_back();
        if (!value.empty() && EqualsIgnoreCase(value, folder) && occurrence-- == 0) return name;
    }
}


}  // namespace

namespace {

// The kernel's name of an open key: \REGISTRY\MACHINE\... or \REGISTRY\USER\...; empty for a
// predefined key or when the system does not say.
std::wstring KernelKeyName(HKEY key) {
    static const HKEY kPredefined[] = {HKEY_CLASSES_ROOT,      HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE, HKEY_USERS,
                                       HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
    if (!key) return {};
    for (HKEY predefined : kPredefined)
        if (key == predefined) return {};
    using NtQueryKeyFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int kKeyNameInformation = 3;
    static const auto queryKey = reinterpret_cast<NtQueryKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    if (!queryKey) return {};
    std::vector<ULONG> buffer(1024);  // a length, then the name
    ULONG needed = 0;
    LONG status = queryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG)),
                           &needed);
    if (status < 0 && needed > buffer.size() * sizeof(ULONG) && needed < (1u << 20)) {
        buffer.resize(needed / sizeof(ULONG) + 1);
        status = queryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG)),
                          &needed);
    }
    if (status < 0 || buffer[0] > (buffer.size() - 1) * sizeof(ULONG)) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + 1), buffer[0] / sizeof(wchar_t));
}

bool StartsWithFolded(const std::wstring& text, const std::wstring& start) {
    return text.size() >= start.size() && EqualsIgnoreCase(text.substr(0, start.size()), start);
}

}  // namespace

std::wstring HiveOfKey(HKEY key) {
    std::wstring name = KernelKeyName(key);
    const std::wstring users = L"\\REGISTRY\\USER\\";
    if (name.size() <= users.size() || !StartsWithFolded(name, users)) return {};
    return name.substr(users.size(), name.find(L'\\', users.size()) - users.size());
}

std::wstring RealKeyName(HKEY root, const std::wstring& path) {
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return {};
    std::wstring name = KernelKeyName(key.Get());
    for (const auto& [kernel, shown] : {std::pair<std::wstring, std::wstring>{L"\\REGISTRY\\MACHINE", L"HKLM"},
                                        std::pair<std::wstring, std::wstring>{L"\\REGISTRY\\USER", L"HKU"}})
        if (StartsWithFolded(name, kernel)) return shown + name.substr(kernel.size());
    return {};
}

std::wstring HiveOfLocation(const std::wstring& location) {
    const std::wstring users = L"HKEY_USERS\\";
    if (location.size() <= users.size() || !EqualsIgnoreCase(location.substr(0, users.size()), users)) return {};
    return location.substr(users.size(), location.find(L'\\', users.size()) - users.size());
}

namespace {

std::string KeyOf(const ItemRecord& record) {
    // WTF-8: the same bytes as UTF-8 for well-formed text, and distinct for each unpaired surrogate.
    std::string identity = Hex32(record.id) + "\n" + Wtf8(Folded(record.hive)) + "\n" + Wtf8(Folded(record.location));
    if (record.view == "wow64") identity += "\nwow64";
    // FNV-1a, folded to 48 bits: short enough to type, ample for the entries of one machine.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : identity) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    hash = (hash ^ (hash >> 48)) & 0xFFFFFFFFFFFFull;
    char text[16];
    std::snprintf(text, sizeof(text), "%012llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace

std::string ItemKey(const ItemRecord& record) { return KeyOf(record); }

const char* CategoryName(unsigned long category) {
    for (const CategoryEntry& entry : kCategories)
        if (entry.category == category) return entry.name;
    return "unknown";
}

std::optional<unsigned long> ParseCategory(const std::string& text) {
    for (const CategoryEntry& entry : kCategories)
        if (EqualsIgnoreCase(Wide(text), Wide(entry.name))) return entry.category;
    std::optional<unsigned long> value = ParseHex32(text);
    if (value && (*value & 0x000FFFFFul) == 0) return value;
    return std::nullopt;
}

const char* KindName(ItemKind kind) {
    switch (kind) {
        case ItemKind::Registry:
            return "registry";
        case ItemKind::AutorunFile:
            return "autorun-file";
        case ItemKind::Shortcut:
            return "startup-file";
        case ItemKind::InputMethod:
            return "input-method";
        case ItemKind::OpenCommand:
            return "open-command";
        case ItemKind::Service:
            return "service";
        case ItemKind::Task:
            return "task";
        case ItemKind::Other:
            break;
    }
    return "item";
}

ItemRecord ItemReader::Read(IZVAutorunItemEx* item) {
    const wchar_t* location = item->GetLocation();
    unsigned long& seen = seen_[Hex32(item->GetId()) + Wtf8(Folded(location ? location : L""))];
    return ReadItemRecord(item, ++count_, seen++, offline_);
}

ItemRecord ReadItemRecord(IZVAutorunItemEx* item, unsigned long index, unsigned long occurrence, bool offline) {
    ItemRecord record;
    record.index = index;
    record.id = item->GetId();
    record.category = item->GetCategory();
    record.location = Text(item->GetLocation());
    // A service without a library or an application reports those files empty: they are no files.
    for (ULONG i = 0, count = item->GetFileCount(); i < count; ++i) {
        std::wstring file = Text(item->GetFile(i));
        if (!file.empty()) record.files.push_back(file);
    }
    record.repairable = item->CanRepair() != FALSE;

    if (KindInterface<IZVAutorunItem_ShortCut> shortcut{item, IID_IZVAutorunItem_ShortCut}) {
        record.kind = ItemKind::Shortcut;
        record.filePath = Text(shortcut->GetFilePath());
        // This system's profiles say nothing about an image's startup folders.
        if (record.id == kUserStartupFolderId && !offline) record.hive = StartupFolderHive(record.filePath, occurrence);
    } else if (KindInterface<IZVAutorunItem_Ime> ime{item, IID_IZVAutorunItem_Ime}) {
        record.kind = ItemKind::InputMethod;
        record.preloadIndex = ime->GetPreloadIndex();
        record.layoutId = Text(ime->GetLayoutId());
        record.hive = offline ? HiveOfLocation(record.location) : HiveOfKey(ime->GetRootKey());
    } else if (KindInterface<IZVAutorunItem_ShlCmd> command{item, IID_IZVAutorunItem_ShlCmd}) {
        record.kind = ItemKind::OpenCommand;
        record.extension = Text(command->GetExtension());
        record.progId = Text(command->GetProgId());
        record.verb = Text(command->GetVerb());
    } else if (record.id == kDriveAutorunId) {
        if (KindInterface<IZVAutorunItem_Ini> ini{item, IID_IZVAutorunItem_Ini}) {
            record.kind = ItemKind::AutorunFile;
            record.iniPath = Text(ini->GetIniPath());
            record.section = Text(ini->GetSection());
            record.iniKey = Text(ini->GetKeyName());
            record.iniValue = Text(ini->GetValue());
        }
    } else if (KindInterface<IZVAutorunItem_Reg> reg{item, IID_IZVAutorunItem_Reg}) {
        record.kind = ItemKind::Registry;
        record.keyPath = Text(reg->GetKeyPath());
        record.valueName = Text(reg->GetValueName());
        record.valueData = Text(reg->GetValueData());
        record.root = RootName(reg->GetRootKey(), record.location, record.keyPath);
        record.hive = offline ? HiveOfLocation(record.location) : HiveOfKey(reg->GetRootKey());
        // An image's keys are no keys of this system: an offline item has no real key here.
        if (!offline && SystemHasTwoViews()) record.realKey = RealKeyName(reg->GetRootKey(), record.keyPath);
    } else if (record.category == 0x10200000) {
        record.kind = ItemKind::Service;
    } else if (record.category == 0x10300000) {
        record.kind = ItemKind::Task;
    }
    return record;
}

}  // namespace zvscan
