// Startup folders: which folders a CSIDL gives (all users, every user hive, the shell's fallback),
// what is reported from them, reading the Shell Folders values, and the repair that deletes an entry.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/scan_context.h"
#include "support/sim_test.h"

namespace {

using platform::ComPtr;
using Tessel::LocationRow;
using Entries = std::vector<std::pair<std::wstring, std::wstring>>;  // folder as listed, file path

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::wstring kUser = platform::SimulatedBackend::kCurrentUserSid;
const std::wstring kSecondUser = L"S-1-5-21-0-0-0-1001";

// The four startup-folder rows of the table, by CSIDL.
const LocationRow& Row(int csidl) {
    for (const LocationRow* row = Tessel::kAutorunLocations; row->id; ++row)
        if (row->scan == Tessel::ScanStartupFolder && row->extra == static_cast<DWORD>(csidl)) return *row;
    throw std::logic_error("no startup-folder row for this CSIDL");
}

// Records what the startup-folder scan reports; any other report fails the test.
class StartupRecorder final : public Tessel::IAutorunContext {
public:
    StartupRecorder() { Tessel::FillShellFolderTable(table_); }

    void AddStartupFile(const LocationRow*, LPCWSTR folderPath, LPCWSTR filePath) override {
        entries.emplace_back(folderPath ? folderPath : L"<null>", filePath ? filePath : L"<null>");
    }

    void AddRegFileListValue(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegCommandValue(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegValueNameCommand(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddService(const LocationRow*, LPCWSTR, DWORD, DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
        Unexpected();
    }
    void AddScheduledTask(const LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddIniCommand(const LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddInputMethod(const LocationRow*, DWORD, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddShellCommand(const LocationRow*, LPCWSTR, LPCWSTR) override { Unexpected(); }
    const Tessel::ShellFolderTable& GetShellFolderTable() override { return table_; }

    Entries entries;

private:
    static void Unexpected() { ADD_FAILURE() << "the startup-folder scan reported something other than a file"; }
    Tessel::ShellFolderTable table_;
};

class StartupFoldersTest : public test::SimTest {
protected:
    // The Startup value of one user hive.
    void SetUserFolder(const std::wstring& sid, const std::wstring& path) {
        sim.SetString(HKEY_USERS, sid + L"\\" + kShellFolders, L"Startup", path);
    }
    Entries Scan(int csidl, HRESULT expected = S_OK) {
        StartupRecorder recorder;
        EXPECT_EQ(Tessel::ScanStartupFolder(&recorder, &Row(csidl)), expected);
        return recorder.entries;
    }
    std::vector<std::wstring> Resolve(int csidl, bool expected = true) {
        Tessel::ShellFolderTable table;
        Tessel::FillShellFolderTable(table);
        std::vector<std::wstring> folders{L"left over"};
        EXPECT_EQ(Tessel::ResolveSpecialFolder(table, csidl, folders), expected);
        return folders;
    }
};

TEST_F(StartupFoldersTest, PerUserFoldersOfEveryHiveInHiveOrder) {
    SetUserFolder(kUser, L"C:\\Users\\one\\Startup");
    sim.AddFile(L"C:\\Users\\one\\Startup\\b.exe");
    sim.AddFile(L"C:\\Users\\one\\Startup\\desktop.ini", "", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    sim.AddDirectory(L"C:\\Users\\one\\Startup\\Tools");
    sim.AddShortcut(L"C:\\Users\\one\\Startup\\a.lnk", L"C:\\apps\\a.exe");
    SetUserFolder(kSecondUser, L"C:\\Users\\two\\Startup\\");  // already ends in a backslash
    sim.AddFile(L"C:\\Users\\two\\Startup\\c.exe");
    SetUserFolder(L"S-1-5-21-0-0-0-1002", L"");  // present but empty: nothing to list
    SetUserFolder(L"S-1-5-21-0-0-0-1003", L"C:\\Users\\locked\\Startup");
    sim.DenyAccess(HKEY_USERS, L"S-1-5-21-0-0-0-1003", KEY_READ);
    sim.AddFile(L"C:\\Users\\locked\\Startup\\hidden.exe");
    sim.SetSpecialFolder(CSIDL_STARTUP, L"C:\\Users\\caller\\Startup");
    sim.AddFile(L"C:\\Users\\caller\\Startup\\never.exe");

    EXPECT_EQ(Resolve(CSIDL_STARTUP),
              (std::vector<std::wstring>{L"C:\\Users\\one\\Startup", L"C:\\Users\\two\\Startup\\"}));
    EXPECT_EQ(Scan(CSIDL_STARTUP), (Entries{
                                       {L"C:\\Users\\one\\Startup", L"C:\\Users\\one\\Startup\\b.exe"},
                                       {L"C:\\Users\\one\\Startup", L"C:\\Users\\one\\Startup\\desktop.ini"},
                                       {L"C:\\Users\\one\\Startup", L"C:\\Users\\one\\Startup\\Tools"},
                                       {L"C:\\Users\\one\\Startup", L"C:\\Users\\one\\Startup\\a.lnk"},
                                       {L"C:\\Users\\two\\Startup\\", L"C:\\Users\\two\\Startup\\c.exe"},
                                   }))
        << "'.' and '..' are passed over; the second folder gets no second backslash";
}

TEST_F(StartupFoldersTest, WithoutAnyUserValueTheCallersFolderIsAsked) {
    sim.SetSpecialFolder(CSIDL_STARTUP, L"C:\\Users\\caller\\Startup");
    sim.AddFile(L"C:\\Users\\caller\\Startup\\mine.exe");
    EXPECT_TRUE(Resolve(CSIDL_STARTUP).empty()) << "the per-user route answers true even with nothing";
    EXPECT_EQ(Scan(CSIDL_STARTUP), (Entries{{L"C:\\Users\\caller\\Startup", L"C:\\Users\\caller\\Startup\\mine.exe"}}));
}

TEST_F(StartupFoldersTest, CommonValueMissingFallsBackButEmptyDoesNot) {
    sim.SetSpecialFolder(CSIDL_COMMON_STARTUP, L"C:\\ProgramData\\Startup");
    sim.AddFile(L"C:\\ProgramData\\Startup\\all.exe");
    EXPECT_TRUE(Resolve(CSIDL_COMMON_STARTUP, false).empty());
    EXPECT_EQ(Scan(CSIDL_COMMON_STARTUP),
              (Entries{{L"C:\\ProgramData\\Startup", L"C:\\ProgramData\\Startup\\all.exe"}}));

    sim.SetString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Startup", L"");
    EXPECT_EQ(Resolve(CSIDL_COMMON_STARTUP), std::vector<std::wstring>{L""});
    EXPECT_TRUE(Scan(CSIDL_COMMON_STARTUP).empty()) << "configured to nowhere: no fallback";

    sim.SetString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Startup", L"%ALLUSERSPROFILE%\\Startup", REG_EXPAND_SZ);
    EXPECT_EQ(Resolve(CSIDL_COMMON_STARTUP), std::vector<std::wstring>{L"%ALLUSERSPROFILE%\\Startup"})
        << "taken as stored";
    EXPECT_TRUE(Scan(CSIDL_COMMON_STARTUP).empty());
}

TEST_F(StartupFoldersTest, AlternateFoldersComeFromTheShellAlone) {
    sim.SetString(HKEY_USERS, kUser + L"\\" + kShellFolders, L"AltStartup", L"C:\\Elsewhere");
    sim.SetSpecialFolder(CSIDL_ALTSTARTUP, L"C:\\Users\\caller\\AltStartup");
    sim.AddFile(L"C:\\Users\\caller\\AltStartup\\alt.exe");
    EXPECT_EQ(Resolve(CSIDL_ALTSTARTUP), std::vector<std::wstring>{L"C:\\Users\\caller\\AltStartup"});
    EXPECT_EQ(Scan(CSIDL_ALTSTARTUP),
              (Entries{{L"C:\\Users\\caller\\AltStartup", L"C:\\Users\\caller\\AltStartup\\alt.exe"}}));

    sim.FailSpecialFolder(CSIDL_COMMON_ALTSTARTUP);
    EXPECT_TRUE(Resolve(CSIDL_COMMON_ALTSTARTUP, false).empty());
    EXPECT_TRUE(Scan(CSIDL_COMMON_ALTSTARTUP, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)).empty());
}

TEST_F(StartupFoldersTest, EmptyAndMissingFoldersGiveNothing) {
    SetUserFolder(kUser, L"C:\\Users\\one\\Startup");
    sim.AddDirectory(L"C:\\Users\\one\\Startup");
    SetUserFolder(kSecondUser, L"C:\\Users\\gone\\Startup");
    EXPECT_TRUE(Scan(CSIDL_STARTUP).empty());
}

TEST_F(StartupFoldersTest, ShellFolderValuesMustBeTerminatedText) {
    auto set = [&](const wchar_t* name, DWORD type, std::vector<BYTE> bytes) {
        sim.SetValue(HKEY_LOCAL_MACHINE, kShellFolders, name, type, bytes);
    };
    auto bytes = [](const std::wstring& text) {
        auto* data = reinterpret_cast<const BYTE*>(text.data());
        return std::vector<BYTE>(data, data + text.size() * sizeof(wchar_t));
    };
    set(L"Plain", REG_SZ, bytes(std::wstring(L"C:\\plain") + L'\0'));
    set(L"Expand", REG_EXPAND_SZ, bytes(std::wstring(L"%windir%\\x") + L'\0'));
    set(L"Empty", REG_SZ, {});
    set(L"Unterminated", REG_SZ, bytes(L"C:\\x"));
    set(L"Odd", REG_SZ, {'C', 0, 0});
    set(L"Number", REG_DWORD, {1, 0, 0, 0});
    set(L"Multi", REG_MULTI_SZ, bytes(std::wstring(L"C:\\m") + L'\0' + L'\0'));

    std::wstring path = L"unchanged";
    EXPECT_TRUE(Tessel::ReadShellFolderValue(HKEY_LOCAL_MACHINE, L"Plain", path));
    EXPECT_EQ(path, L"C:\\plain");
    EXPECT_TRUE(Tessel::ReadShellFolderValue(HKEY_LOCAL_MACHINE, L"Expand", path));
    EXPECT_EQ(path, L"%windir%\\x");
    EXPECT_TRUE(Tessel::ReadShellFolderValue(HKEY_LOCAL_MACHINE, L"Empty", path));
    EXPECT_EQ(path, L"");
    for (const wchar_t* name : {L"Unterminated", L"Odd", L"Number", L"Multi", L"Missing"})
        EXPECT_FALSE(Tessel::ReadShellFolderValue(HKEY_LOCAL_MACHINE, name, path)) << name;
    EXPECT_FALSE(Tessel::ReadShellFolderValue(HKEY_USERS, L"Plain", path)) << "no Shell Folders key";
}

TEST_F(StartupFoldersTest, RepairDeletesTheEntryNeverWhatItPointsTo) {
    writesExpected = true;
    const std::wstring folder = L"C:\\Users\\one\\Startup";
    SetUserFolder(kUser, folder);
    sim.AddFile(folder + L"\\run.exe");
    sim.AddFile(L"C:\\apps\\target.exe");
    sim.AddShortcut(folder + L"\\target.lnk", L"C:\\apps\\target.exe");
    sim.AddDirectory(folder + L"\\Tools");

    Tessel::CAutorunContext context;
    context.ResetForScan(nullptr);
    ASSERT_TRUE(context.RunRow(&Row(CSIDL_STARTUP)));
    std::vector<ComPtr<IZVAutorunItemEx>> items;
    for (IZVAutorunItemEx* item = nullptr; context.PopItem(&item);)
        items.push_back(ComPtr<IZVAutorunItemEx>::Attach(item));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_STREQ(items[0]->GetLocation(), (folder + L"\\run.exe").c_str());
    EXPECT_STREQ(items[1]->GetFile(0), L"C:\\apps\\target.exe") << "a shortcut names its target";
    EXPECT_TRUE(items[1]->CanRepair());

    const ZV_REPAIR_REQUEST request{sizeof(ZV_REPAIR_REQUEST), nullptr};
    EXPECT_EQ(items[0]->Repair(&request), S_OK);
    EXPECT_FALSE(sim.Exists(folder + L"\\run.exe"));
    EXPECT_EQ(items[0]->Repair(&request), S_OK) << "already gone";
    EXPECT_EQ(items[1]->Repair(&request), S_OK);
    EXPECT_FALSE(sim.Exists(folder + L"\\target.lnk"));
    EXPECT_TRUE(sim.Exists(L"C:\\apps\\target.exe")) << "the program the shortcut starts stays";
    EXPECT_EQ(items[2]->Repair(&request), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "a directory is not deleted";
    EXPECT_TRUE(sim.Exists(folder + L"\\Tools"));
    EXPECT_EQ(sim.Writes(), 2u);
}

TEST_F(StartupFoldersTest, RepairNeedsAStartupFolderItem) {
    EXPECT_EQ(Tessel::RepairStartupFolderItem(nullptr, nullptr), E_POINTER);

    const LocationRow registryRow{0x10101015,
                                  Tessel::ScanKeyValues,
                                  Tessel::RepairDeleteValue,
                                  HKEY_LOCAL_MACHINE,
                                  L"SOFTWARE\\Run",
                                  nullptr,
                                  nullptr,
                                  0,
                                  0};
    Tessel::CAutorunContext context;
    context.ResetForScan(nullptr);
    context.AddRegCommandValue(&registryRow, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", L"App", L"app.exe");
    IZVAutorunItemEx* raw = nullptr;
    ASSERT_TRUE(context.PopItem(&raw));
    auto item = ComPtr<IZVAutorunItemEx>::Attach(raw);
    EXPECT_EQ(Tessel::RepairStartupFolderItem(item.Get(), nullptr), E_NOINTERFACE);
}

// The real StartUp folders of the Wine prefix: the calling user's folder comes from the hive's
// "StartUp" value, and a file dropped there is reported under it.
TEST(RealStartupFoldersTest, FileInTheUsersStartUpFolder) {
    std::wstring folder;
    ASSERT_TRUE(Tessel::ReadShellFolderValue(HKEY_CURRENT_USER, L"Startup", folder));
    ASSERT_FALSE(folder.empty());
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring file = folder + L"\\zv-unit-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);

    std::wstring common;
    EXPECT_TRUE(Tessel::ReadShellFolderValue(HKEY_LOCAL_MACHINE, L"Common Startup", common));
    Tessel::ShellFolderTable table;
    Tessel::FillShellFolderTable(table);
    std::vector<std::wstring> folders;
    EXPECT_TRUE(Tessel::ResolveSpecialFolder(table, CSIDL_COMMON_STARTUP, folders));
    EXPECT_EQ(folders, std::vector<std::wstring>{common});

    StartupRecorder recorder;
    EXPECT_EQ(Tessel::ScanStartupFolder(&recorder, &Row(CSIDL_STARTUP)), S_OK);
    int found = 0;
    for (const auto& [listed, path] : recorder.entries)
        if (_wcsicmp(path.c_str(), file.c_str()) == 0 && listed == folder) ++found;
    // Wine's default-user hive names the same folder as the user's own, and every hive is listed.
    int hivesNamingTheFolder = 0;
    for (const wchar_t* hive : {L".Default", platform::SimulatedBackend::kCurrentUserSid}) {
        HKEY key = nullptr;
        std::wstring value;
        if (RegOpenKeyExW(HKEY_USERS, hive, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        if (Tessel::ReadShellFolderValue(key, L"Startup", value) && value == folder) ++hivesNamingTheFolder;
        RegCloseKey(key);
    }
    EXPECT_GE(hivesNamingTheFolder, 1);
    EXPECT_EQ(found, hivesNamingTheFolder);
    EXPECT_TRUE(DeleteFileW(file.c_str()));
}

}  // namespace
