#include "item_record.h"

#include "text.h"

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

}  // namespace

const char* CategoryName(unsigned long category) {
    for (const CategoryEntry& entry : kCategories)
        if (entry.category == category) return entry.name;
    return "unknown";
}

std::optional<unsigned long> ParseCategory(const std::string& text) {
    for (const CategoryEntry& entry : kCategories)
        if (text == entry.name) return entry.category;
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

ItemRecord ReadItemRecord(IZVAutorunItemEx* item, unsigned long index) {
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
    } else if (KindInterface<IZVAutorunItem_Ime> ime{item, IID_IZVAutorunItem_Ime}) {
        record.kind = ItemKind::InputMethod;
        record.preloadIndex = ime->GetPreloadIndex();
        record.layoutId = Text(ime->GetLayoutId());
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
    } else if (record.category == 0x10200000) {
        record.kind = ItemKind::Service;
    } else if (record.category == 0x10300000) {
        record.kind = ItemKind::Task;
    }
    return record;
}

}  // namespace zvscan
