// Registry scan routines on the simulated machine: what each reports for the structures it reads.
#include <gtest/gtest.h>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/scan_context.h"
#include "support/context_helpers.h"
#include "support/sim_test.h"

namespace {

using test::PopAll;
using test::TableRow;

using platform::ComPtr;
using Tessel::LocationRow;

struct Entry {
    HKEY root;
    std::wstring keyPath, valueName, data, location;
    bool operator==(const Entry& o) const {
        return root == o.root && keyPath == o.keyPath && valueName == o.valueName && data == o.data;
    }
};
std::ostream& operator<<(std::ostream& out, const Entry& e) {
    auto narrow = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    return out << "{" << narrow(e.keyPath) << " [" << narrow(e.valueName) << "] " << narrow(e.data) << "}";
}

std::vector<Entry> One(const Entry& entry) { return {entry}; }

const wchar_t kHklmRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kClsid[] = L"{11111111-2222-3333-4444-555555555555}";

class RegistryScansTest : public test::SimTest {
protected:
    void SetUp() override {
        ZV_SCAN_SETTINGS settings{sizeof(settings), ZV_SCAN_SKIP_PROBE, {}};
        context->ResetForScan(&settings);
    }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }

    void RegisterClass(const std::wstring& clsid, const std::wstring& server) {
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"", server);
    }

    // Runs the row as the scanner does and collects what it reported.
    std::vector<Entry> Run(const LocationRow& row, HRESULT* result = nullptr) {
        HRESULT hr = row.scan(context.get(), &row);
        if (result) *result = hr;
        std::vector<Entry> entries;
        IZVAutorunItemEx* raw = nullptr;
        while (context->PopItem(&raw)) {
            auto item = ComPtr<IZVAutorunItemEx>::Attach(raw);
            ComPtr<IZVAutorunItem_Reg> reg;
            EXPECT_EQ(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid()), S_OK);
            entries.push_back(
                {reg->GetRootKey(), reg->GetKeyPath(), reg->GetValueName(), reg->GetValueData(), item->GetLocation()});
        }
        return entries;
    }

    std::unique_ptr<Tessel::CAutorunContext> context = std::make_unique<Tessel::CAutorunContext>();
};

TEST_F(RegistryScansTest, KeyValuesReportEveryStringValue) {
    sim.SetString(HKEY_LOCAL_MACHINE, kHklmRun, L"App", L"\"C:\\apps\\app.exe\" /x");
    sim.SetDword(HKEY_LOCAL_MACHINE, kHklmRun, L"Number", 1);
    sim.SetString(HKEY_LOCAL_MACHINE, kHklmRun, L"Empty", L"");
    sim.SetString(HKEY_LOCAL_MACHINE, kHklmRun, L"Tool", L"%ProgramFiles%\\t.exe", REG_EXPAND_SZ);
    auto entries = Run(TableRow(0x1010100E));
    ASSERT_EQ(entries.size(), 2u) << "no item for a REG_DWORD or an empty string";
    EXPECT_EQ(entries[0], (Entry{HKEY_LOCAL_MACHINE, kHklmRun, L"App", L"\"C:\\apps\\app.exe\" /x", {}}));
    EXPECT_EQ(entries[0].location, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[App]");
    EXPECT_EQ(entries[1].data, L"%ProgramFiles%\\t.exe");
    EXPECT_TRUE(Run(TableRow(0x1010100F)).empty()) << "a missing key reports nothing";
    EXPECT_EQ(TableRow(0x1010100F).scan(context.get(), &TableRow(0x1010100F)), S_OK);
}

TEST_F(RegistryScansTest, SubkeyValuesAndSecondLevelValues) {
    const std::wstring ifeo = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
    sim.SetString(HKEY_LOCAL_MACHINE, ifeo + L"\\notepad.exe", L"Debugger", L"C:\\evil.exe");
    sim.AddKey(HKEY_LOCAL_MACHINE, ifeo + L"\\calc.exe");
    EXPECT_EQ(Run(TableRow(0x10109001)),
              One({HKEY_LOCAL_MACHINE, ifeo + L"\\notepad.exe", L"Debugger", L"C:\\evil.exe", {}}));

    const std::wstring scripts = L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts\\Startup";
    sim.SetString(HKEY_LOCAL_MACHINE, scripts + L"\\0\\0", L"Script", L"C:\\s0.cmd");
    sim.SetString(HKEY_LOCAL_MACHINE, scripts + L"\\0\\1", L"Script", L"C:\\s1.cmd");
    sim.SetString(HKEY_LOCAL_MACHINE, scripts + L"\\1\\0", L"Script", L"C:\\s2.cmd");
    sim.DenyAccess(HKEY_LOCAL_MACHINE, scripts + L"\\1\\0", KEY_WRITE);
    auto entries = Run(TableRow(0x10101003));
    ASSERT_EQ(entries.size(), 2u) << "a second-level key refusing write access is passed over";
    EXPECT_EQ(entries[1], (Entry{HKEY_LOCAL_MACHINE, scripts + L"\\0\\1", L"Script", L"C:\\s1.cmd", {}}));
}

TEST_F(RegistryScansTest, ShellVerbCommandsFindCommandInAnyCase) {
    const std::wstring shell = L"CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\shell";
    sim.SetString(HKEY_CLASSES_ROOT, shell + L"\\Manage\\Command", L"", L"mmc.exe compmgmt.msc");
    sim.SetString(HKEY_CLASSES_ROOT, shell + L"\\find\\command", L"", L"explorer.exe");
    sim.SetString(HKEY_CLASSES_ROOT, shell + L"\\find\\ddeexec", L"", L"not a command");
    auto entries = Run(TableRow(0x10510022));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].keyPath, shell + L"\\find\\command");
    EXPECT_EQ(entries[1].keyPath, shell + L"\\Manage\\Command") << "the name as stored";
    EXPECT_EQ(entries[1].valueName, L"");
}

TEST_F(RegistryScansTest, ClsidHandlersThroughSubkeysDefaultValuesAndValueNames) {
    RegisterClass(kClsid, L"C:\\ext\\bho.dll");
    const std::wstring bho = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
    sim.AddKey(HKEY_LOCAL_MACHINE, bho + L"\\" + kClsid);
    sim.AddKey(HKEY_LOCAL_MACHINE, bho + L"\\{99999999-0000-0000-0000-000000000000}");
    EXPECT_EQ(Run(TableRow(0x10103001)),
              One({HKEY_LOCAL_MACHINE, bho + L"\\" + kClsid, L"", L"C:\\ext\\bho.dll", {}}))
        << "a CLSID without InprocServer32 yields nothing";

    const std::wstring overlays = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers";
    sim.SetString(HKEY_LOCAL_MACHINE, overlays + L"\\ SyncedOverlay", L"", kClsid);
    sim.SetString(HKEY_LOCAL_MACHINE, overlays + L"\\Plain", L"", L"not a clsid");
    auto entries = Run(TableRow(0x1010201D));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].keyPath, overlays + L"\\ SyncedOverlay");

    const std::wstring approved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
    sim.SetString(HKEY_LOCAL_MACHINE, approved, kClsid, L"whatever");
    sim.SetDword(HKEY_LOCAL_MACHINE, approved, L"{99999999-0000-0000-0000-000000000000}", 0);
    EXPECT_EQ(Run(TableRow(0x10102021)),
              One({HKEY_LOCAL_MACHINE, approved, kClsid, L"C:\\ext\\bho.dll", {}}));
}

TEST_F(RegistryScansTest, PerUserHandlersResolveClassesThroughClassesRoot) {
    RegisterClass(kClsid, L"C:\\ext\\menu.dll");
    HKEY hive = context->UserHives()[1]->key.get();
    std::wstring sid = platform::SimulatedBackend::kCurrentUserSid;
    const std::wstring handlers = L"SOFTWARE\\Classes\\*\\ShellEx\\ContextMenuHandlers";
    sim.SetString(HKEY_USERS, sid + L"\\" + handlers + L"\\Menu", L"", kClsid);
    LocationRow perUser = TableRow(0x1010200A);
    perUser.root = hive;
    EXPECT_EQ(Run(perUser), One({hive, handlers + L"\\Menu", L"", L"C:\\ext\\menu.dll", {}}));
}

TEST_F(RegistryScansTest, ClsidValuesInSubkeysAndValueData) {
    RegisterClass(kClsid, L"C:\\ext\\x.dll");
    const std::wstring extensions = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions";
    sim.SetString(HKEY_LOCAL_MACHINE, extensions + L"\\{E}", L"clsid", kClsid);
    sim.SetString(HKEY_LOCAL_MACHINE, extensions + L"\\{F}", L"clsid", L"C:\\not-a-clsid.dll");
    EXPECT_EQ(Run(TableRow(0x10103007, 1)),
              One({HKEY_LOCAL_MACHINE, extensions + L"\\{E}", L"clsid", L"C:\\ext\\x.dll", {}}));

    const std::wstring delayLoad = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad";
    sim.SetString(HKEY_LOCAL_MACHINE, delayLoad, L"Tray", kClsid);
    EXPECT_EQ(Run(TableRow(0x10102007)),
              One({HKEY_LOCAL_MACHINE, delayLoad, L"Tray", L"C:\\ext\\x.dll", {}}));
}

TEST_F(RegistryScansTest, SingleValuesFailWhenTheirLocationIsMissing) {
    HRESULT hr = S_OK;
    EXPECT_TRUE(Run(TableRow(0x1010C007), &hr).empty());
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
    const std::wstring winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    sim.SetDword(HKEY_LOCAL_MACHINE, winlogon, L"Taskman", 5);
    Run(TableRow(0x1010C007), &hr);
    EXPECT_EQ(hr, static_cast<HRESULT>(0x8007000D)) << "a value of the wrong type";
    sim.SetString(HKEY_LOCAL_MACHINE, winlogon, L"Taskman", L"taskman.exe");
    EXPECT_EQ(Run(TableRow(0x1010C007), &hr),
              One({HKEY_LOCAL_MACHINE, winlogon, L"Taskman", L"taskman.exe", {}}));
    EXPECT_EQ(hr, S_OK);

    sim.SetString(HKEY_LOCAL_MACHINE, winlogon, L"Userinit", L"C:\\windows\\system32\\userinit.exe,");
    sim.AddFile(L"C:\\windows\\system32\\userinit.exe");
    ZV_SCAN_SETTINGS probing{sizeof(probing), 0, {}};
    context->ResetForScan(&probing);
    auto entries = Run(TableRow(0x10101006));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, L"C:\\windows\\system32\\userinit.exe,");
    EXPECT_EQ(context->Counter(ZV_COUNT_FILE_LISTS), 1u) << "read as a file list";
}

TEST_F(RegistryScansTest, MultiStringsReportEachElementInOrder) {
    const std::wstring manager = L"System\\CurrentControlSet\\Control\\Session Manager";
    sim.SetMultiString(HKEY_LOCAL_MACHINE, manager, L"BootExecute", {L"autocheck autochk *", L"C:\\boot.exe"});
    sim.SetMultiString(HKEY_LOCAL_MACHINE, manager, L"PendingFileRenameOperations",
                       {L"\\??\\C:\\old.dll", L"", L"\\??\\C:\\third.dll"});
    auto boot = Run(TableRow(0x10108001));
    ASSERT_EQ(boot.size(), 2u);
    EXPECT_EQ(boot[0], (Entry{HKEY_LOCAL_MACHINE, manager, L"BootExecute", L"autocheck autochk *", {}}));
    EXPECT_EQ(boot[1].data, L"C:\\boot.exe");
    auto pending = Run(TableRow(0x10510039));
    ASSERT_EQ(pending.size(), 1u) << "the list ends at the first empty element";
    EXPECT_EQ(pending[0].data, L"\\??\\C:\\old.dll");
}

TEST_F(RegistryScansTest, WinsockCatalogPathsComeFromTheAnsiBytes) {
    const std::wstring catalog =
        L"System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries";
    std::vector<BYTE> item = {'%', 'S', 'y', 's', 't', 'e', 'm', 'R', 'o', 'o', 't', '%', '\\', 'm', 's', 0xE9,
                              '.', 'd', 'l', 'l', 0, 'j', 'u', 'n', 'k'};
    sim.SetValue(HKEY_LOCAL_MACHINE, catalog + L"\\000000000001", L"PackedCatalogItem", REG_BINARY, item);
    sim.SetValue(HKEY_LOCAL_MACHINE, catalog + L"\\000000000002", L"PackedCatalogItem", REG_BINARY,
                 {'C', ':', '\\', 'n', 'o', 'z', 'e', 'r', 'o'});
    sim.SetString(HKEY_LOCAL_MACHINE, catalog + L"\\000000000003", L"PackedCatalogItem", L"not binary");
    auto entries = Run(TableRow(0x1010D002));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].data, L"%SystemRoot%\\ms\u00E9.dll");
    EXPECT_EQ(entries[0].keyPath, catalog + L"\\000000000001");
    EXPECT_EQ(entries[1].data, L"C:\\nozero") << "read up to the appended zero";
}

TEST_F(RegistryScansTest, NetworkProvidersAreTrimmedSkippedAndFailFast) {
    const std::wstring order = L"System\\CurrentControlSet\\Control\\NetworkProvider\\Order";
    const std::wstring services = L"System\\CurrentControlSet\\Services\\";
    sim.SetString(HKEY_LOCAL_MACHINE, order, L"ProviderOrder", L",, RDPNP , ,  LanmanWorkstation,Missing");
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"RDPNP\\NetworkProvider", L"ProviderPath", L"drprov.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"LanmanWorkstation\\NetworkProvider", L"ProviderPath",
                  L"%SystemRoot%\\System32\\ntlanman.dll", REG_EXPAND_SZ);
    HRESULT hr = E_FAIL;
    auto entries = Run(TableRow(0x10110001), &hr);
    EXPECT_EQ(hr, S_OK) << "a provider without a key is passed over";
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (Entry{HKEY_LOCAL_MACHINE, services + L"RDPNP\\NetworkProvider", L"ProviderPath",
                                 L"drprov.dll", {}}));
    EXPECT_EQ(entries[1].keyPath, services + L"LanmanWorkstation\\NetworkProvider");

    sim.AddKey(HKEY_LOCAL_MACHINE, services + L"First\\NetworkProvider");
    sim.SetString(HKEY_LOCAL_MACHINE, order, L"ProviderOrder", L"RDPNP,First,LanmanWorkstation");
    EXPECT_FALSE(context->RunRow(&TableRow(0x10110001)))
        << "a provider without ProviderPath fails the row";
    const LocationRow next{};
    context->RunRow(&next);
    EXPECT_FALSE(context->PopItem(nullptr)) << "the providers before it go when the scanner moves on";
}

TEST_F(RegistryScansTest, PolicyScriptsOfAUserHive) {
    std::wstring sid = platform::SimulatedBackend::kCurrentUserSid;
    const std::wstring logon = L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts\\Logon";
    sim.SetString(HKEY_USERS, sid + L"\\" + logon + L"\\0\\0", L"Script", L"logon.cmd");
    EXPECT_TRUE(context->RunRow(&TableRow(0x10101004)));
    IZVAutorunItemEx* raw = nullptr;
    ASSERT_TRUE(context->PopItem(&raw));
    auto item = ComPtr<IZVAutorunItemEx>::Attach(raw);
    EXPECT_EQ(std::wstring(item->GetLocation()),
              L"HKEY_USERS\\" + sid + L"\\" + logon + L"\\0\\0\\[Script]");
}

// The items of one row run as the scanner runs it, with files probed: its location and its files.
struct Found {
    std::wstring location;
    std::vector<std::wstring> files;
};
std::vector<Found> ProbedRow(Tessel::CAutorunContext& context, ULONG id) {
    ZV_SCAN_SETTINGS settings{sizeof(settings), 0, {}};
    context.ResetForScan(&settings);
    std::vector<Found> found;
    context.RunRow(&TableRow(id));
    IZVAutorunItemEx* raw = nullptr;
    while (context.PopItem(&raw)) {
        auto item = ComPtr<IZVAutorunItemEx>::Attach(raw);
        Found one{item->GetLocation(), {}};
        for (ULONG i = 0; i < item->GetFileCount(); ++i) one.files.push_back(item->GetFile(i));
        found.push_back(std::move(one));
    }
    return found;
}

// Group-policy scripts name their program in "Script" (its arguments in "Parameters") two keys below
// the event's key; a "Scripts" value there is no script.
TEST_F(RegistryScansTest, PolicyScriptsOfEveryEventReadTheScriptValue) {
    const std::wstring scripts = L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts\\";
    std::wstring sid = platform::SimulatedBackend::kCurrentUserSid;
    struct Event {
        ULONG id;
        const wchar_t* name;
        bool perUser;
    };
    for (Event event : {Event{0x10101003, L"Startup", false}, Event{0x10101005, L"Logon", false},
                        Event{0x1010101A, L"Logoff", true}, Event{0x1010101B, L"Shutdown", false}}) {
        SCOPED_TRACE(event.name);
        HKEY root = event.perUser ? HKEY_USERS : HKEY_LOCAL_MACHINE;
        std::wstring key = (event.perUser ? sid + L"\\" : L"") + scripts + event.name;
        std::wstring program = std::wstring(L"C:\\gpo\\") + event.name + L".cmd";
        sim.AddFile(program);
        sim.AddFile(L"C:\\gpo\\old.cmd");
        sim.SetString(root, key + L"\\0\\0", L"Script", program);
        sim.SetString(root, key + L"\\0\\0", L"Parameters", L"/quiet");
        sim.SetString(root, key + L"\\1\\0", L"Scripts", L"C:\\gpo\\old.cmd");
        auto found = ProbedRow(*context, event.id);
        ASSERT_EQ(found.size(), 1u) << "only the Script value is an entry";
        EXPECT_EQ(found[0].location, std::wstring(event.perUser ? L"HKEY_USERS\\" : L"HKEY_LOCAL_MACHINE\\") + key +
                                         L"\\0\\0\\[Script]");
        EXPECT_EQ(found[0].files, std::vector<std::wstring>{program});
    }
}

// Browser extension statistics are kept per CLSID under CurrentVersion\Ext\Stats, machine-wide and per
// user; the same path with CurrentVersion twice exists on no system.
TEST_F(RegistryScansTest, ExtStatsClsidsOfTheMachineAndEveryUser) {
    const std::wstring version = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring other = L"{99999999-0000-0000-0000-000000000000}";
    std::wstring sid = platform::SimulatedBackend::kCurrentUserSid;
    RegisterClass(kClsid, L"C:\\ext\\stats.dll");
    RegisterClass(other, L"C:\\ext\\old.dll");
    sim.AddFile(L"C:\\ext\\stats.dll");
    sim.AddFile(L"C:\\ext\\old.dll");
    for (bool perUser : {false, true}) {
        SCOPED_TRACE(perUser ? "per user" : "machine");
        HKEY root = perUser ? HKEY_USERS : HKEY_LOCAL_MACHINE;
        std::wstring prefix = perUser ? sid + L"\\" : L"";
        sim.AddKey(root, prefix + version + L"\\Ext\\Stats\\" + kClsid + L"\\iexplore");
        sim.AddKey(root, prefix + version + L"\\CurrentVersion\\Ext\\Stats\\" + other);
        auto found = ProbedRow(*context, perUser ? 0x10510014 : 0x10510013);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].location, std::wstring(perUser ? L"HKEY_USERS\\" : L"HKEY_LOCAL_MACHINE\\") + prefix +
                                         version + L"\\Ext\\Stats\\" + kClsid);
        EXPECT_EQ(found[0].files, std::vector<std::wstring>{L"C:\\ext\\stats.dll"});
    }
}

}  // namespace
