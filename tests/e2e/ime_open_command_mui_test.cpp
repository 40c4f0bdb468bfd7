// Input methods, the .txt open command and the MUI cache through the built DLL, against the real
// registry of the Wine prefix. The preload list and the .txt association are shared by every
// program of the prefix: each scenario that changes one of them stays inside one test, and puts back
// exactly what it found.
#include <gtest/gtest.h>

#include "support/loaded_dll.h"
#include "support/test_files.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "zvatrun.h"

namespace {

const wchar_t kPreloadPath[] = L"Keyboard Layout\\Preload";
const wchar_t kLayoutsPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";
const wchar_t kMuiCachePath[] = L"Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const wchar_t kTxtCommandPath[] = L"txtfile\\shell\\open\\command";

std::wstring Unique() { return std::to_wstring(GetCurrentProcessId()); }

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Stores exactly these bytes: what follows them in the buffer is not a terminator, so Wine adds none.
void StoreValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, std::vector<BYTE> bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD size = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), {'X', 'X', 'X', 'X'});
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, bytes.data(), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void StoreString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                 DWORD type = REG_SZ) {
    auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
    StoreValue(root, path, name, type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

// Type (REG_NONE when absent) and text of a value.
std::pair<DWORD, std::wstring> ReadString(HKEY root, const std::wstring& path, const wchar_t* name) {
    std::vector<wchar_t> buffer(1024, L'\0');
    DWORD type = REG_NONE, size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {REG_NONE, L""};
    LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return {REG_NONE, L""};
    return {type, buffer.data()};
}

// Everything a test may change in one key: its values, and which keys of its path it had to create.
// Put back when the test ends, whatever it did in between.
class SavedKey {
public:
    SavedKey(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            for (DWORD index = 0;; ++index) {
                wchar_t name[16384];
                DWORD nameSize = 16384, type = 0, size = 0;
                if (RegEnumValueW(key, index, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
                Value value{name, type, std::vector<BYTE>(size)};
                RegQueryValueExW(key, name, nullptr, nullptr, value.bytes.data(), &size);
                value.bytes.resize(size);
                values_.push_back(std::move(value));
            }
            RegCloseKey(key);
        }
        // The keys of the path that are missing now, outermost first.
        for (size_t at = path_.find(L'\\');; at = path_.find(L'\\', at + 1)) {
            std::wstring prefix = path_.substr(0, at);
            if (!KeyExists(root_, prefix)) created_.push_back(prefix);
            if (at == std::wstring::npos) break;
        }
    }
    ~SavedKey() {
        ClearValues();
        for (const auto& value : values_) StoreValue(root_, path_, value.name, value.type, value.bytes);
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) RegDeleteKeyW(root_, it->c_str());
    }
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;

    void ClearValues() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
        for (;;) {
            wchar_t name[16384];
            DWORD nameSize = 16384;
            if (RegEnumValueW(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (RegDeleteValueW(key, name) != ERROR_SUCCESS) break;
        }
        RegCloseKey(key);
    }

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    HKEY root_;
    std::wstring path_;
    std::vector<Value> values_;
    std::vector<std::wstring> created_;
};

// One item a host keeps, with its reference.
struct HeldItem {
    IZVAutorunItemEx* item = nullptr;
    std::wstring location;
    std::vector<std::wstring> files;
};

class ImeOpenCommandMuiTest : public test::LoadedDll {
protected:
    void SetUp() override { ASSERT_EQ(create(&IID_IZVAutorunScanner, reinterpret_cast<void**>(&scanner), 0), S_OK); }
    void TearDown() override {
        Release();
        if (scanner) {
            EXPECT_EQ(scanner->Release(), 0u);
        }
    }

    // Scans with the flags and keeps the items of one location id.
    void Scan(DWORD flags, ULONG id) {
        Release();
        ZV_SCAN_SETTINGS settings{sizeof(settings), flags, {}};
        ASSERT_EQ(scanner->StartScan(&settings), S_OK);
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            if (item->GetId() != id) {
                item->Release();
                continue;
            }
            HeldItem held{item, item->GetLocation(), {}};
            for (ULONG i = 0; i < item->GetFileCount(); ++i) held.files.push_back(item->GetFile(i));
            items.push_back(held);
        }
    }
    void Release() {
        for (auto& held : items) held.item->Release();
        items.clear();
    }

    template <typename Kind>
    static Kind* KindOf(const HeldItem& held, REFIID iid) {
        Kind* kind = nullptr;
        EXPECT_EQ(held.item->QueryInterface(iid, reinterpret_cast<void**>(&kind)), S_OK);
        return kind;
    }

    IZVAutorunScanner* scanner = nullptr;
    std::vector<HeldItem> items;
    ZV_REPAIR_REQUEST request{sizeof(ZV_REPAIR_REQUEST), nullptr};
};

TEST_F(ImeOpenCommandMuiTest, PreloadedLayoutsAndTheRemovalOfEntryTwoOfFour) {
    test::TestFiles files(L"ime");
    const std::wstring imeFile = files.Add(L"zv.ime"), layoutFile = files.Add(L"kbdzv.dll");
    std::vector<std::wstring> ids;
    // Put back after the layouts in it: an empty layouts key of the test's making goes with them.
    SavedKey layouts(HKEY_LOCAL_MACHINE, kLayoutsPath);
    std::vector<std::unique_ptr<SavedKey>> layoutKeys;
    for (wchar_t suffix : {L'a', L'b', L'c', L'd'}) {
        ids.push_back(L"zv" + Unique() + suffix);
        const std::wstring path = std::wstring(kLayoutsPath) + L"\\" + ids.back();
        layoutKeys.push_back(std::make_unique<SavedKey>(HKEY_LOCAL_MACHINE, path));
        StoreString(HKEY_LOCAL_MACHINE, path, L"Layout File", layoutFile);
        if (suffix == L'a') StoreString(HKEY_LOCAL_MACHINE, path, L"Ime File", imeFile);
    }
    SavedKey preload(HKEY_CURRENT_USER, kPreloadPath);
    // Wine writes its own layout into entry 1 whenever a process of the prefix starts, at any moment
    // of a test run: entry 1 keeps that value and the test's list starts at entry 2.
    std::wstring wineLayout = ReadString(HKEY_CURRENT_USER, kPreloadPath, L"1").second;
    preload.ClearValues();
    StoreString(HKEY_CURRENT_USER, kPreloadPath, L"1", wineLayout.empty() ? L"00000409" : wineLayout);
    StoreString(HKEY_CURRENT_USER, kPreloadPath, L"2", ids[0]);
    StoreString(HKEY_CURRENT_USER, kPreloadPath, L"3", ids[1]);
    StoreString(HKEY_CURRENT_USER, kPreloadPath, L"4", ids[2], REG_EXPAND_SZ);
    StoreString(HKEY_CURRENT_USER, kPreloadPath, L"5", ids[3]);

    Scan(ZV_SCAN_REPAIRABLE_ONLY, 0x10600001);
    std::vector<HeldItem> ours;
    for (const auto& held : items) {
        IZVAutorunItem_Ime* ime = KindOf<IZVAutorunItem_Ime>(held, IID_IZVAutorunItem_Ime);
        if (!ime) continue;
        if (std::find(ids.begin(), ids.end(), ime->GetLayoutId()) != ids.end()) {
            EXPECT_EQ(ime->GetLayoutId(), ids[ours.size()]);
            EXPECT_EQ(ime->GetPreloadIndex(), ours.size() + 2);
            ours.push_back(held);
        }
        ime->Release();
    }
    ASSERT_EQ(ours.size(), 4u) << "the four layouts of the current user's list, in order";
    for (size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(ours[i].location, L"HKCU\\Keyboard Layout\\Preload\\[" + std::to_wstring(i + 2) + L"]");
        EXPECT_TRUE(ours[i].item->CanRepair());
    }
    EXPECT_EQ(ours[0].files, (std::vector<std::wstring>{imeFile, layoutFile}));
    EXPECT_EQ(ours[1].files, std::vector<std::wstring>{layoutFile});

    EXPECT_EQ(ours[1].item->Repair(&request), S_OK);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"2"), std::make_pair(DWORD{REG_SZ}, ids[0]));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"3"), std::make_pair(DWORD{REG_SZ}, ids[2]));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"4"), std::make_pair(DWORD{REG_SZ}, ids[3]));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"5").first, DWORD{REG_NONE});

    EXPECT_EQ(ours[2].item->Repair(&request), S_FALSE) << "entry 4 now holds another layout";
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"3"), std::make_pair(DWORD{REG_SZ}, ids[2]));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kPreloadPath, L"4"), std::make_pair(DWORD{REG_SZ}, ids[3]));
    Release();
}

TEST_F(ImeOpenCommandMuiTest, TheTxtOpenCommandIsReportedAndRestored) {
    test::TestFiles files(L"ime");
    const std::wstring hijacker = files.Add(L"zvtxt.exe");
    SavedKey extension(HKEY_CLASSES_ROOT, L".txt");
    SavedKey command(HKEY_CLASSES_ROOT, kTxtCommandPath);
    StoreString(HKEY_CLASSES_ROOT, L".txt", L"", L"txtfile");
    StoreString(HKEY_CLASSES_ROOT, kTxtCommandPath, L"", L"\"" + hijacker + L"\" \"%1\"");

    Scan(ZV_SCAN_REPAIRABLE_ONLY, 0x10700020);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].location, L"open .txt");
    EXPECT_EQ(items[0].files, std::vector<std::wstring>{hijacker});
    IZVAutorunItem_ShlCmd* shellCommand = KindOf<IZVAutorunItem_ShlCmd>(items[0], IID_IZVAutorunItem_ShlCmd);
    ASSERT_NE(shellCommand, nullptr);
    EXPECT_STREQ(shellCommand->GetProgId(), L"txtfile");
    EXPECT_STREQ(shellCommand->GetExtension(), L".txt");
    EXPECT_STREQ(shellCommand->GetVerb(), L"open");
    shellCommand->Release();

    EXPECT_EQ(items[0].item->Repair(&request), S_OK);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kTxtCommandPath, L""),
              std::make_pair(DWORD{REG_EXPAND_SZ}, std::wstring(L"%SystemRoot%\\System32\\notepad.exe %1")));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kTxtCommandPath, L"IsolatedCommand").first, DWORD{REG_NONE});
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".txt", L""),
              std::make_pair(DWORD{REG_EXPAND_SZ}, std::wstring(L"txtfile")));

    Scan(ZV_SCAN_REPAIRABLE_ONLY, 0x10700020);
    ASSERT_EQ(items.size(), 1u);
    ASSERT_EQ(items[0].files.size(), 1u);
    EXPECT_EQ(_wcsicmp(items[0].files[0].c_str(), L"C:\\windows\\system32\\notepad.exe"), 0)
        << "the restored command names the system's notepad";
    Release();
}

TEST_F(ImeOpenCommandMuiTest, AMuiCacheValueIsReportedByItsName) {
    test::TestFiles files(L"ime");
    const std::wstring program = files.Add(L"zvmui.exe");
    SavedKey cache(HKEY_CURRENT_USER, kMuiCachePath);
    StoreString(HKEY_CURRENT_USER, kMuiCachePath, program, L"Zv Program");
    const std::wstring binaryName = L"zvmui" + Unique() + L".bin";
    StoreValue(HKEY_CURRENT_USER, kMuiCachePath, binaryName, REG_BINARY, {1, 2, 3, 4});

    Scan(ZV_SCAN_UNREPAIRABLE_ONLY, 0x10600003);
    std::vector<HeldItem> ours;
    for (const auto& held : items) {
        IZVAutorunItem_Reg* reg = KindOf<IZVAutorunItem_Reg>(held, IID_IZVAutorunItem_Reg);
        if (!reg) continue;
        if (program == reg->GetValueName()) {
            EXPECT_STREQ(reg->GetValueData(), L"Zv Program");
            EXPECT_STREQ(reg->GetKeyPath(), kMuiCachePath);
            ours.push_back(held);
        }
        EXPECT_NE(binaryName, reg->GetValueName()) << "a value that is not a string";
        reg->Release();
    }
    ASSERT_EQ(ours.size(), 1u) << "the current user's hive only";
    EXPECT_EQ(ours[0].location,
              std::wstring(L"HKEY_USERS\\S-1-5-21-0-0-0-1000\\") + kMuiCachePath + L"\\[" + program + L"]");
    EXPECT_EQ(ours[0].files, std::vector<std::wstring>{program}) << "the file is the path the name holds";
    EXPECT_FALSE(ours[0].item->CanRepair());
    Release();
}

}  // namespace
