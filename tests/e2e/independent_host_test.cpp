// A host written from the interface tables alone, without the library's header: it declares the
// identifiers and tables itself, loads the DLL, and checks what a host relies on against the real
// registry and files of the Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// {AC489AB3-530C-408C-9B3F-6CAFE9A3DD0C} and the others, from the interface table.
const GUID kScannerIid = {0xAC489AB3, 0x530C, 0x408C, {0x9B, 0x3F, 0x6C, 0xAF, 0xE9, 0xA3, 0xDD, 0x0C}};
const GUID kPerformViewIid = {0xB77E4A52, 0xDA85, 0x4A5D, {0x9E, 0x72, 0x03, 0xEA, 0xC8, 0x16, 0xE7, 0x3E}};
const GUID kItemIid = {0xB762E747, 0xD0D5, 0x4C73, {0x8C, 0xED, 0x04, 0x58, 0xE9, 0xDB, 0x62, 0xE0}};
const GUID kRegIid = {0x6136ABAC, 0x77B7, 0x4FF6, {0xB9, 0x8C, 0xE2, 0x0C, 0x00, 0x34, 0xBA, 0xFA}};
const GUID kUnknownIid = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct Object {
    void** vtable;
};
template <typename Result, typename... Args>
Result Call(void* object, int slot, Args... args) {
    auto function = reinterpret_cast<Result(__stdcall*)(void*, Args...)>(static_cast<Object*>(object)->vtable[slot]);
    return function(object, args...);
}
HRESULT QueryInterface(void* o, const GUID& iid, void** out) { return Call<HRESULT>(o, 0, &iid, out); }
ULONG AddRef(void* o) { return Call<ULONG>(o, 1); }
ULONG Release(void* o) { return Call<ULONG>(o, 2); }

struct Settings {
    DWORD size = 28;
    DWORD flags = 0;
    BYTE reserved[20] = {};
};
struct RepairRequest {
    DWORD size = 8;
    const wchar_t* file = nullptr;
};

// What a host keeps of one item.
struct Seen {
    ULONG id, category;
    std::wstring location;
    std::vector<std::wstring> files;
    BOOL repairable;
    std::wstring keyPath, valueName, data;
    void* item = nullptr;  // kept only when asked for
};

using CreateObject = HRESULT(__stdcall*)(const GUID*, void**, DWORD);

class IndependentHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dll = LoadLibraryW(L"zvatrun.dll");
        ASSERT_NE(dll, nullptr);
        create = reinterpret_cast<CreateObject>(reinterpret_cast<void*>(GetProcAddress(dll, "ZVAtrunCreateObject")));
        ASSERT_NE(create, nullptr);
    }
    static void TearDownTestSuite() {
        FreeLibrary(dll);
        CoUninitialize();
    }

    void* NewScanner() {
        void* scanner = nullptr;
        EXPECT_EQ(create(&kScannerIid, &scanner, 0), S_OK);
        return scanner;
    }

    // Scans to the end; items whose location contains `keep` stay alive in Seen::item.
    std::vector<Seen> Scan(void* scanner, DWORD flags, const std::wstring& keep = L"\x1") {
        Settings settings;
        settings.flags = flags;
        EXPECT_EQ(Call<HRESULT>(scanner, 3, &settings), S_OK);
        std::vector<Seen> items;
        void* item = nullptr;
        while (Call<BOOL>(scanner, 4, &item)) {
            Seen seen{Call<ULONG>(item, 3), Call<ULONG>(item, 4), Call<const wchar_t*>(item, 5), {},
                      Call<BOOL>(item, 8), {}, {}, {}};
            for (ULONG i = 0, n = Call<ULONG>(item, 6); i < n; ++i) {
                const wchar_t* file = Call<const wchar_t*>(item, 7, i);
                seen.files.push_back(file ? file : L"(null)");
            }
            void* reg = nullptr;
            if (QueryInterface(item, kRegIid, &reg) == S_OK) {
                seen.keyPath = Call<const wchar_t*>(reg, 4);
                seen.valueName = Call<const wchar_t*>(reg, 5);
                seen.data = Call<const wchar_t*>(reg, 6);
                Release(reg);
            }
            if (seen.location.find(keep) != std::wstring::npos) seen.item = item;
            else Release(item);
            items.push_back(seen);
        }
        return items;
    }

    static inline HMODULE dll = nullptr;
    static inline CreateObject create = nullptr;
};

TEST_F(IndependentHostTest, FactoryAndQueryInterfaceRules) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(create(&kScannerIid, nullptr, 0), E_POINTER);
    EXPECT_EQ(create(nullptr, nullptr, 0), E_POINTER);
    EXPECT_EQ(create(&kUnknownIid, &out, 0), E_NOTIMPL);
    EXPECT_EQ(create(&kPerformViewIid, &out, 0), E_NOTIMPL);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));

    void* scanner = NewScanner();
    EXPECT_EQ(QueryInterface(scanner, kScannerIid, nullptr), E_INVALIDARG);
    EXPECT_EQ(QueryInterface(scanner, kItemIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    void* view = nullptr;
    ASSERT_EQ(QueryInterface(scanner, kPerformViewIid, &view), S_OK);
    EXPECT_EQ(AddRef(view), 3u) << "one count behind both interfaces";
    EXPECT_EQ(Release(scanner), 2u);
    EXPECT_EQ(Call<ULONG>(view, 3, 0u), 0u);
    EXPECT_EQ(Call<ULONG>(view, 3, 7u), 0u);
    EXPECT_EQ(Release(view), 1u);
    EXPECT_EQ(Release(view), 0u);
}

// Entries of the registry families, seeded in the real registry and removed again.
class SeededRegistryTest : public IndependentHostTest {
protected:
    void SetUp() override {
        unique = std::to_wstring(GetCurrentProcessId());
        dir = L"C:\\zv e2e " + unique;
        CreateDirectoryW(dir.c_str(), nullptr);
        app = dir + L"\\app.exe";
        CloseHandle(CreateFileW(app.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        run = L"ZvRun " + unique;
        rundll = L"ZvRundll " + unique;
        SetString(HKEY_CURRENT_USER, kRun, run, L"\"" + app + L"\" /min");
        SetString(HKEY_CURRENT_USER, kRun, rundll, L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl");
        SetString(HKEY_CURRENT_USER, kRun, L"ZvEmpty " + unique, L"");
        DWORD number = 1;
        SetValue(HKEY_CURRENT_USER, kRun, L"ZvNumber " + unique, REG_DWORD, &number, sizeof(number));
        clsid = L"{5A5A0000-0000-0000-0000-" + std::wstring(12 - unique.size(), L'0') + unique + L"}";
        SetString(HKEY_LOCAL_MACHINE, kBho + clsid, L"", L"");
        SetString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"", dir + L"\\bho.dll");
    }
    void TearDown() override {
        for (const auto& name : {run, rundll, L"ZvEmpty " + unique, L"ZvNumber " + unique})
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kRun.c_str(), name.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kBho + clsid).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kBho + clsid).c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
        DeleteFileW(app.c_str());
        RemoveDirectoryW(dir.c_str());
    }

    static void SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
                         DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
        RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text) {
        SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static std::vector<std::wstring> UserHives() {
        std::vector<std::wstring> hives;
        wchar_t name[512];
        for (DWORD i = 0; RegEnumKeyW(HKEY_USERS, i, name, 512) == ERROR_SUCCESS; ++i) hives.push_back(name);
        return hives;
    }
    static std::vector<Seen> Named(const std::vector<Seen>& items, const std::wstring& part) {
        std::vector<Seen> found;
        std::copy_if(items.begin(), items.end(), std::back_inserter(found),
                     [&](const Seen& s) { return s.location.find(part) != std::wstring::npos; });
        return found;
    }

    const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring kBho = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
    const std::wstring kSessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";
    std::wstring unique, dir, app, run, rundll, clsid;
};

TEST_F(SeededRegistryTest, EntriesOfEachFamilyAreReportedWithTheirFiles) {
    // The prefix has no BootExecute value; only this test sets one, so parallel tests do not see it.
    const wchar_t bootValue[] = L"autocheck autochk *\0C:\\zv\\boot.exe\0\0after.exe\0\0";
    SetValue(HKEY_LOCAL_MACHINE, kSessionManager, L"BootExecute", REG_MULTI_SZ, bootValue, sizeof(bootValue));
    void* scanner = NewScanner();
    auto items = Scan(scanner, 0);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), L"BootExecute");

    auto runItems = Named(items, L"[" + run + L"]");
    ASSERT_EQ(runItems.size(), 1u);
    const Seen& item = runItems[0];
    EXPECT_EQ(item.id, 0x10101015u);
    EXPECT_EQ(item.category, 0x10100000u);
    auto hives = UserHives();
    bool underAHive = std::any_of(hives.begin(), hives.end(), [&](const std::wstring& hive) {
        return item.location == L"HKEY_USERS\\" + hive + L"\\" + kRun + L"\\[" + run + L"]";
    });
    EXPECT_TRUE(underAHive) << std::string(item.location.begin(), item.location.end());
    EXPECT_EQ(item.files, std::vector<std::wstring>{app});
    EXPECT_TRUE(item.repairable);

    EXPECT_TRUE(Named(items, L"ZvEmpty " + unique).empty());
    EXPECT_TRUE(Named(items, L"ZvNumber " + unique).empty());
    auto rundllItems = Named(items, L"[" + rundll + L"]");
    ASSERT_EQ(rundllItems.size(), 1u);
    EXPECT_EQ(rundllItems[0].files, (std::vector<std::wstring>{L"C:\\windows\\system32\\rundll32.exe",
                                                               L"C:\\windows\\system32\\shell32.dll"}));

    auto boot = Named(items, L"Session Manager\\[BootExecute]");
    ASSERT_EQ(boot.size(), 2u) << "nothing past the empty element";
    EXPECT_EQ(boot[0].data, L"autocheck autochk *");
    EXPECT_EQ(boot[1].data, L"C:\\zv\\boot.exe");
    EXPECT_EQ(boot[0].id, 0x10108001u);

    auto bho = Named(items, clsid);
    ASSERT_EQ(bho.size(), 1u);
    EXPECT_EQ(bho[0].data, dir + L"\\bho.dll");
    EXPECT_EQ(bho[0].keyPath, kBho + clsid);
    EXPECT_EQ(bho[0].valueName, L"");
    EXPECT_EQ(Release(scanner), 0u);
}

TEST_F(SeededRegistryTest, CountersFollowTheSkipProbeFlag) {
    void* scanner = NewScanner();
    void* view = nullptr;
    ASSERT_EQ(QueryInterface(scanner, kPerformViewIid, &view), S_OK);
    Scan(scanner, 0);
    EXPECT_GT(Call<ULONG>(view, 3, 1u), 0u);
    EXPECT_GT(Call<ULONG>(view, 3, 2u), 0u);
    auto skipped = Scan(scanner, 1);
    EXPECT_EQ(Call<ULONG>(view, 3, 1u), 0u) << "no probe with the skip-probe flag";
    EXPECT_GT(Call<ULONG>(view, 3, 2u), 0u);
    EXPECT_EQ(Named(skipped, L"[" + run + L"]").at(0).files, std::vector<std::wstring>{app});
    Release(view);
    EXPECT_EQ(Release(scanner), 0u);
}

TEST_F(SeededRegistryTest, RepairFiltersAndResults) {
    void* scanner = NewScanner();
    auto repairable = Scan(scanner, 2);
    EXPECT_TRUE(std::all_of(repairable.begin(), repairable.end(), [](const Seen& s) { return s.repairable; }));
    EXPECT_EQ(Named(repairable, L"[" + run + L"]").size(), 1u);
    auto unrepairable = Scan(scanner, 4);
    EXPECT_TRUE(std::none_of(unrepairable.begin(), unrepairable.end(), [](const Seen& s) { return s.repairable; }));
    EXPECT_TRUE(Named(unrepairable, L"[" + run + L"]").empty());
    EXPECT_EQ(Named(unrepairable, clsid).size(), 1u);
    EXPECT_EQ(Named(Scan(scanner, 6), unique).size(), Named(repairable, unique).size()) << "repairable-only wins";

    auto items = Scan(scanner, 0, unique);
    void* runItem = Named(items, L"[" + run + L"]").at(0).item;
    void* bhoItem = Named(items, clsid).at(0).item;
    RepairRequest request;
    EXPECT_EQ(Call<HRESULT>(bhoItem, 9, &request), E_NOTIMPL);
    EXPECT_EQ(Call<HRESULT>(runItem, 9, static_cast<RepairRequest*>(nullptr)), E_POINTER);
    request.file = L"C:\\windows\\system32\\RUNDLL32.exe";
    EXPECT_EQ(Call<HRESULT>(runItem, 9, &request), S_FALSE);
    request.file = app.c_str();
    EXPECT_EQ(Call<HRESULT>(runItem, 9, &request), S_OK);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kRun.c_str(), 0, KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(RegQueryValueExW(key, run.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, rundll.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(GetFileAttributesW(app.c_str()) != INVALID_FILE_ATTRIBUTES, true) << "the program is left alone";

    for (auto& seen : items)
        if (seen.item) Release(seen.item);
    EXPECT_EQ(Release(scanner), 0u) << "the items released their owner";
}

}  // namespace
