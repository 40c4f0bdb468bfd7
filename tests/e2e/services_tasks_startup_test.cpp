// Services and startup folders through the built DLL, against the real registry and files of the Wine
// prefix. Each test adds entries under names of its own, finds them by location among whatever else
// the prefix holds, and removes them again.
#include <gtest/gtest.h>

#include "support/loaded_dll.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <functional>
#include <string>
#include <vector>

#include "zvatrun.h"

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr ULONG kServiceRow = 0x10200001;
constexpr ULONG kUserStartupRow = 0x10400002;

std::wstring Unique() { return std::to_wstring(GetCurrentProcessId()); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SameText(LPCWSTR a, const std::wstring& b) { return a && _wcsicmp(a, b.c_str()) == 0; }

// Runs what it was given when the test ends, in reverse order, whatever happened in between.
class Cleanup {
public:
    ~Cleanup() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    }
    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }

    void File(const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        CloseHandle(file);
        Add([path] { DeleteFileW(path.c_str()); });
    }
    void Directory(const std::wstring& path) {
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
        Add([path] { RemoveDirectoryW(path.c_str()); });
    }
    void Shortcut(const std::wstring& path, const std::wstring& target) {
        IShellLinkW* link = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)),
                  S_OK);
        link->SetPath(target.c_str());
        IPersistFile* file = nullptr;
        HRESULT saved = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        if (SUCCEEDED(saved)) {
            saved = file->Save(path.c_str(), TRUE);
            file->Release();
        }
        link->Release();
        ASSERT_EQ(saved, S_OK);
        Add([path] { DeleteFileW(path.c_str()); });
    }
    // A service key with its values; the whole key goes when the test ends.
    void ServiceKey(const std::wstring& name) {
        std::wstring path = kServicesPath + name;
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegCloseKey(key);
        Add([path] {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        });
    }

private:
    std::vector<std::function<void()>> steps_;
};

void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

class ServicesTasksStartupTest : public test::LoadedDll {
protected:
    void SetUp() override {
        ASSERT_NE(create, nullptr);
        ASSERT_EQ(create(&IID_IZVAutorunScanner, reinterpret_cast<void**>(&scanner), 0), S_OK);
    }
    void TearDown() override {
        for (auto* item : items) item->Release();
        if (scanner) {
            EXPECT_EQ(scanner->Release(), 0u);
        }
    }

    // Starts a scan and keeps every item for which keep says so; stops at the first for which more
    // says no (that item is not kept).
    void Collect(DWORD flags, const std::function<bool(IZVAutorunItemEx*)>& keep,
                 const std::function<bool(IZVAutorunItemEx*)>& more) {
        ZV_SCAN_SETTINGS settings{sizeof(settings), flags, {}};
        ASSERT_EQ(scanner->StartScan(&settings), S_OK);
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            bool goOn = more(item);
            if (goOn && keep(item))
                items.push_back(item);
            else
                item->Release();
            if (!goOn) break;
        }
    }
    std::vector<IZVAutorunItemEx*> WithLocation(ULONG id, const std::wstring& location) const {
        std::vector<IZVAutorunItemEx*> found;
        for (auto* item : items)
            if (item->GetId() == id && SameText(item->GetLocation(), location)) found.push_back(item);
        return found;
    }

    IZVAutorunScanner* scanner = nullptr;
    std::vector<IZVAutorunItemEx*> items;
};

TEST_F(ServicesTasksStartupTest, FirstItemOfADefaultScanIsAService) {
    ASSERT_EQ(scanner->StartScan(nullptr), S_OK);
    IZVAutorunItemEx* item = nullptr;
    ASSERT_TRUE(scanner->NextItem(&item));
    items.push_back(item);
    EXPECT_EQ(item->GetId(), kServiceRow);
    EXPECT_EQ(item->GetCategory(), 0x10200000u);
    EXPECT_EQ(std::wstring(item->GetLocation()).rfind(L"HKLM\\System\\CurrentControlSet\\Services\\", 0), 0u)
        << item->GetLocation();
    EXPECT_FALSE(item->CanRepair());
    EXPECT_EQ(item->Repair(nullptr), E_NOTIMPL);
}

TEST_F(ServicesTasksStartupTest, ServiceFilesWithTheParametersLibraryThird) {
    Cleanup cleanup;
    std::wstring dir = L"C:\\zv e2e services " + Unique();
    cleanup.Directory(dir);
    for (const wchar_t* name : {L"\\host.exe", L"\\param.dll", L"\\key.dll", L"\\own.exe"}) cleanup.File(dir + name);
    std::wstring shared = L"ZvE2E" + Unique() + L"Shared", own = L"ZvE2E" + Unique() + L"Own";
    cleanup.ServiceKey(shared);
    cleanup.ServiceKey(own);
    std::wstring sharedPath = kServicesPath + shared, ownPath = kServicesPath + own;
    SetString(sharedPath, L"ImagePath", L"\"" + dir + L"\\host.exe\" -k zv", REG_EXPAND_SZ);
    SetDword(sharedPath, L"Type", 0x20);
    SetString(sharedPath, L"ServiceDll", dir + L"\\key.dll");
    SetString(sharedPath + L"\\Parameters", L"ServiceDll", dir + L"\\param.dll");
    SetString(ownPath, L"ImagePath", dir + L"\\own.exe");
    SetDword(ownPath, L"Type", 0x10);
    SetString(ownPath + L"\\Parameters", L"ServiceDll", dir + L"\\param.dll");

    // The services row comes first: the scan needs to go no further than its last item.
    Collect(
        0, [](IZVAutorunItemEx*) { return true; }, [](IZVAutorunItemEx* item) { return item->GetId() == kServiceRow; });

    auto sharedItems = WithLocation(kServiceRow, L"HKLM\\System\\CurrentControlSet\\Services\\" + shared);
    ASSERT_EQ(sharedItems.size(), 1u);
    ASSERT_EQ(sharedItems[0]->GetFileCount(), 3u);
    EXPECT_TRUE(SameText(sharedItems[0]->GetFile(0), dir + L"\\host.exe")) << sharedItems[0]->GetFile(0);
    EXPECT_STREQ(sharedItems[0]->GetFile(1), L"") << "no application";
    EXPECT_TRUE(SameText(sharedItems[0]->GetFile(2), dir + L"\\param.dll")) << sharedItems[0]->GetFile(2);

    auto ownItems = WithLocation(kServiceRow, L"HKLM\\System\\CurrentControlSet\\Services\\" + own);
    ASSERT_EQ(ownItems.size(), 1u);
    ASSERT_EQ(ownItems[0]->GetFileCount(), 2u);
    EXPECT_TRUE(SameText(ownItems[0]->GetFile(0), dir + L"\\own.exe")) << ownItems[0]->GetFile(0);
    EXPECT_STREQ(ownItems[0]->GetFile(2), L"") << "an own-process service loads no library";
}

TEST_F(ServicesTasksStartupTest, FileAndShortcutInTheUsersStartUpFolder) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer);
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"StartUp", RRF_RT_REG_SZ, nullptr, buffer, &size),
              ERROR_SUCCESS);
    std::wstring folder = buffer;
    CreateDirectoryW(folder.c_str(), nullptr);

    Cleanup cleanup;
    std::wstring targetDir = L"C:\\zv e2e startup " + Unique();
    std::wstring target = targetDir + L"\\target.exe";
    std::wstring file = folder + L"\\zv-e2e-" + Unique() + L".exe";
    std::wstring shortcut = folder + L"\\zv-e2e-" + Unique() + L".lnk";
    cleanup.Directory(targetDir);
    cleanup.File(target);
    cleanup.File(file);
    cleanup.Shortcut(shortcut, target);

    Collect(
        ZV_SCAN_REPAIRABLE_ONLY, [](IZVAutorunItemEx* item) { return item->GetId() == kUserStartupRow; },
        [](IZVAutorunItemEx*) { return true; });

    // Every loaded hive that names this folder reports it; Wine's default-user hive names the same one.
    auto fileItems = WithLocation(kUserStartupRow, file);
    auto shortcutItems = WithLocation(kUserStartupRow, shortcut);
    ASSERT_FALSE(fileItems.empty());
    ASSERT_EQ(fileItems.size(), shortcutItems.size());
    for (auto* item : fileItems) {
        ASSERT_EQ(item->GetFileCount(), 1u);
        EXPECT_TRUE(SameText(item->GetFile(0), file)) << item->GetFile(0);
    }
    for (auto* item : shortcutItems) {
        ASSERT_EQ(item->GetFileCount(), 1u);
        EXPECT_TRUE(SameText(item->GetFile(0), target)) << "the program the shortcut starts";
        IZVAutorunItem_ShortCut* kind = nullptr;
        ASSERT_EQ(item->QueryInterface(IID_IZVAutorunItem_ShortCut, reinterpret_cast<void**>(&kind)), S_OK);
        EXPECT_TRUE(SameText(kind->GetFilePath(), shortcut));
        kind->Release();
    }

    const ZV_REPAIR_REQUEST request{sizeof(ZV_REPAIR_REQUEST), nullptr};
    for (auto* item : fileItems) EXPECT_EQ(item->Repair(&request), S_OK) << "gone after the first";
    for (auto* item : shortcutItems) EXPECT_EQ(item->Repair(&request), S_OK);
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_TRUE(Exists(target)) << "the shortcut's target survives its repair";
}

}  // namespace
