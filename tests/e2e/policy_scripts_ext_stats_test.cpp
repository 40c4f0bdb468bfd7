// Group-policy scripts and browser extension statistics through the built DLL, against the real
// registry of the Wine prefix: an entry at its real place is reported with its files, one at a place
// that exists on no system is not. Every key the test creates goes when it ends.
#include <gtest/gtest.h>

#include "support/loaded_dll.h"
#include "support/test_files.h"

#include <algorithm>
#include <string>
#include <vector>

#include "zvatrun.h"

namespace {

std::wstring Unique() { return L"zv" + std::to_wstring(GetCurrentProcessId()); }

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Keys created for a test; the outermost of each path that did not exist is deleted with its tree.
class CreatedKeys {
public:
    ~CreatedKeys() {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) RegDeleteTreeW(it->first, it->second.c_str());
    }
    void SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text) {
        for (size_t at = path.find(L'\\');; at = path.find(L'\\', at + 1)) {
            std::wstring prefix = path.substr(0, at);
            if (!KeyExists(root, prefix)) {
                created_.emplace_back(root, prefix);
                break;
            }
            if (at == std::wstring::npos) break;
        }
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

private:
    std::vector<std::pair<HKEY, std::wstring>> created_;
};

struct Found {
    ULONG id;
    std::wstring location;
    std::vector<std::wstring> files;
};

class PolicyScriptsExtStatsTest : public test::LoadedDll {
protected:
    // The items of a whole scan whose location names the test's own keys.
    std::vector<Found> ScanFor(const std::wstring& mark) {
        IZVAutorunScanner* scanner = nullptr;
        EXPECT_EQ(create(&IID_IZVAutorunScanner, reinterpret_cast<void**>(&scanner), 0), S_OK);
        if (!scanner) return {};
        ZV_SCAN_SETTINGS settings{sizeof(settings), 0, {}};
        EXPECT_EQ(scanner->StartScan(&settings), S_OK);
        std::vector<Found> found;
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            std::wstring location = item->GetLocation();
            if (location.find(mark) != std::wstring::npos) {
                Found one{item->GetId(), location, {}};
                for (ULONG i = 0; i < item->GetFileCount(); ++i) one.files.push_back(item->GetFile(i));
                found.push_back(std::move(one));
            }
            item->Release();
        }
        EXPECT_EQ(scanner->Release(), 0u);
        return found;
    }
};

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(PolicyScriptsExtStatsTest, PolicyScriptsOfEveryEventReadTheScriptValue) {
    const std::wstring scripts = L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts\\";
    struct Event {
        ULONG id;
        const wchar_t* name;
        HKEY root;
    };
    const Event events[] = {{0x10101003, L"Startup", HKEY_LOCAL_MACHINE},
                            {0x10101005, L"Logon", HKEY_LOCAL_MACHINE},
                            {0x1010101A, L"Logoff", HKEY_CURRENT_USER},
                            {0x1010101B, L"Shutdown", HKEY_LOCAL_MACHINE}};
    CreatedKeys keys;
    test::TestFiles files(L"policy");
    std::wstring old = files.Add(L"old.cmd");
    std::vector<std::wstring> programs;
    for (const Event& event : events) {
        std::wstring key = scripts + event.name + L"\\" + Unique();
        programs.push_back(files.Add(std::wstring(event.name) + L".cmd"));
        keys.SetString(event.root, key + L"\\0", L"Script", programs.back());
        keys.SetString(event.root, key + L"\\0", L"Parameters", L"/quiet");
        keys.SetString(event.root, key + L"\\1", L"Scripts", old);
    }
    auto found = ScanFor(L"\\Scripts\\");
    for (size_t i = 0; i < std::size(events); ++i) {
        SCOPED_TRACE(events[i].name);
        auto it = std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.id == events[i].id; });
        ASSERT_NE(it, found.end());
        std::wstring tail = scripts + events[i].name + L"\\" + Unique() + L"\\0\\[Script]";
        EXPECT_TRUE(EndsWith(it->location, tail)) << std::string(it->location.begin(), it->location.end());
        EXPECT_EQ(it->location.rfind(events[i].root == HKEY_CURRENT_USER ? L"HKEY_USERS\\" : L"HKEY_LOCAL_MACHINE\\", 0),
                  0u);
        EXPECT_EQ(it->files, std::vector<std::wstring>{programs[i]});
    }
    EXPECT_EQ(found.size(), std::size(events)) << "the Scripts values are no entries";
}

TEST_F(PolicyScriptsExtStatsTest, ExtStatsClsidsOfTheMachineAndTheUser) {
    wchar_t clsid[40], other[40];
    swprintf(clsid, 40, L"{5A560001-0000-0000-0000-%012lX}", GetCurrentProcessId());
    swprintf(other, 40, L"{5A560002-0000-0000-0000-%012lX}", GetCurrentProcessId());
    const std::wstring version = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    CreatedKeys keys;
    test::TestFiles files(L"policy");
    std::wstring server = files.Add(L"stats.dll");
    keys.SetString(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + clsid + L"\\InprocServer32", L"",
                   server);
    keys.SetString(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + other + L"\\InprocServer32", L"",
                   files.Add(L"old.dll"));
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        keys.SetString(root, version + L"\\Ext\\Stats\\" + clsid + L"\\iexplore", L"Type", L"1");
        keys.SetString(root, version + L"\\CurrentVersion\\Ext\\Stats\\" + other + L"\\iexplore", L"Type", L"1");
    }
    auto found = ScanFor(L"\\Ext\\Stats\\");
    std::vector<ULONG> ids;
    for (const Found& f : found) {
        if (f.location.find(other) != std::wstring::npos) ADD_FAILURE() << "reported from an impossible place";
        if (f.location.find(clsid) == std::wstring::npos) continue;
        ids.push_back(f.id);
        EXPECT_TRUE(EndsWith(f.location, version + L"\\Ext\\Stats\\" + clsid));
        EXPECT_EQ(f.files, std::vector<std::wstring>{server});
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<ULONG>{0x10510013, 0x10510014}));
}

}  // namespace
