// Items as the construction operations build them: interfaces, files, locations, probes, repair.
#include <gtest/gtest.h>

#include "paths/display_names.h"
#include "platform/handles.h"
#include "scanner/items.h"
#include "support/sim_test.h"

namespace {

using platform::ComPtr;
using Tessel::CAutorunContext;
using Tessel::LocationRow;

int g_repairs = 0;
HRESULT CountRepair(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) {
    ++g_repairs;
    return S_OK;
}
HRESULT NoScan(Tessel::IAutorunContext*, const LocationRow*) { return S_OK; }

const LocationRow kRunRow{0x10101015, NoScan, CountRepair, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", nullptr, nullptr, 0, 0};
const LocationRow kQuietRow{0x10102003, NoScan, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\X", nullptr, nullptr, 1, 0};
const LocationRow kUserRow{0x10101016, NoScan, CountRepair, HKEY_CURRENT_USER, L"SOFTWARE\\Run", nullptr, nullptr, 0, 0};
const LocationRow kServiceRow{0x10200001, NoScan, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0};
const LocationRow kRepairableServiceRow{0x10200001, NoScan, CountRepair, nullptr, nullptr, nullptr, nullptr, 0, 0};
const LocationRow kOpenRow{0x10700010, NoScan, CountRepair, HKEY_CLASSES_ROOT, L".exe", L"open", nullptr, 0, 0};

class ItemsTest : public test::SimTest {
protected:
    void SetUp() override {
        g_repairs = 0;
        sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
        sim.AddFile(L"C:\\apps\\app.exe");
        context->ResetForScan(nullptr);
    }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }

    // The one item the last operation queued, or null.
    ComPtr<IZVAutorunItemEx> Take() {
        IZVAutorunItemEx* item = nullptr;
        if (!context->PopItem(&item)) return nullptr;
        EXPECT_FALSE(context->PopItem(nullptr)) << "one item per operation";
        return ComPtr<IZVAutorunItemEx>::Attach(item);
    }
    template <typename Kind>
    ComPtr<Kind> KindOf(const ComPtr<IZVAutorunItemEx>& item, REFIID iid) {
        ComPtr<Kind> kind;
        EXPECT_EQ(item->QueryInterface(iid, kind.PutVoid()), S_OK);
        return kind;
    }
    ULONG Probes() const { return context->Counter(ZV_COUNT_FILE_PROBES); }

    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
};

TEST_F(ItemsTest, RegistryItemAnswersItsFieldsAndSharesOneIdentity) {
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", L"App", L"\"C:\\apps\\app.exe\" /x");
    auto item = Take();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->GetId(), 0x10101015u);
    EXPECT_EQ(item->GetCategory(), 0x10100000u);
    EXPECT_STREQ(item->GetLocation(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Run\\[App]");
    EXPECT_EQ(item->GetFileCount(), 1u);
    EXPECT_STREQ(item->GetFile(0), L"C:\\apps\\app.exe");
    EXPECT_EQ(item->GetFile(1), nullptr);
    EXPECT_TRUE(item->CanRepair());

    auto reg = KindOf<IZVAutorunItem_Reg>(item, IID_IZVAutorunItem_Reg);
    EXPECT_EQ(reg->GetRootKey(), HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(reg->GetKeyPath(), L"SOFTWARE\\Run");
    EXPECT_STREQ(reg->GetValueName(), L"App");
    EXPECT_STREQ(reg->GetValueData(), L"\"C:\\apps\\app.exe\" /x");

    ComPtr<IUnknown> a, b;
    ASSERT_EQ(reg->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
    ASSERT_EQ(item->QueryInterface(IID_IZVAutorunItem, b.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(a.Get()), static_cast<void*>(item.Get()));
    EXPECT_EQ(static_cast<void*>(b.Get()), static_cast<void*>(item.Get()));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(item->QueryInterface(IID_IZVAutorunItem_Ime, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ItemsTest, RegistryEntryConditionsLocationsAndProbes) {
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", L"App", L"");
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", L"App", nullptr);
    context->AddRegValueNameCommand(&kRunRow, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Run", L"C:\\apps\\app.exe", L"");
    EXPECT_FALSE(Take()) << "empty value data makes no item, also for the value-name variant";

    context->AddRegValueNameCommand(&kRunRow, HKEY_LOCAL_MACHINE, L"Mui", L"C:\\apps\\app.exe", L"App");
    auto named = Take();
    ASSERT_TRUE(named);
    EXPECT_STREQ(named->GetFile(0), L"C:\\apps\\app.exe") << "the value name is the command";

    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"", L"App", L"C:\\apps\\app.exe");
    EXPECT_STREQ(Take()->GetLocation(), L"HKEY_LOCAL_MACHINE") << "no key path: the root alone";
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"Software\\X", L"", L"C:\\apps\\app.exe");
    EXPECT_STREQ(Take()->GetLocation(), L"HKEY_LOCAL_MACHINE\\Software\\X") << "default value: no brackets";

    ULONG before = Probes();
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"C:\\gone.exe");
    auto missing = Take();
    ASSERT_TRUE(missing) << "a text naming no file still makes an item";
    EXPECT_EQ(missing->GetFileCount(), 0u);
    EXPECT_EQ(missing->GetFile(0), nullptr);
    ULONG resolvedAndProbed = Probes() - before;

    before = Probes();
    context->AddRegCommandValue(&kQuietRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"C:\\gone.exe");
    Take();
    EXPECT_EQ(Probes() - before, resolvedAndProbed - 1) << "flagged rows make no unresolved-text probe";

    context->AddRegFileListValue(&kRunRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"C:\\apps\\app.exe, C:\\gone.dll");
    EXPECT_EQ(Take()->GetFileCount(), 1u);
}

TEST_F(ItemsTest, PerUserItemsNameTheirHiveAndKeepItOpen) {
    ASSERT_EQ(context->UserHives().size(), 2u);
    HKEY hive = context->UserHives()[1]->key.get();
    LocationRow perUser = kUserRow;
    perUser.root = hive;
    context->AddRegCommandValue(&perUser, hive, L"SOFTWARE\\Run", L"App", L"C:\\apps\\app.exe");
    auto item = Take();
    EXPECT_EQ(std::wstring(item->GetLocation()),
              std::wstring(L"HKEY_USERS\\") + platform::SimulatedBackend::kCurrentUserSid + L"\\SOFTWARE\\Run\\[App]");

    context->ResetForScan(nullptr);
    EXPECT_EQ(sim.OpenHandles(), 3u) << "the item still refers to the old hive handle";
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, hive), L"UNKNOWN") << "the new scan does not know it";
    item.Reset();
    EXPECT_EQ(sim.OpenHandles(), 2u);
}

TEST_F(ItemsTest, RootDisplayNames) {
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, HKEY_CLASSES_ROOT), L"HKEY_CLASSES_ROOT");
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, HKEY_CURRENT_USER), L"HKEY_CURRENT_USER");
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, HKEY_USERS), L"HKEY_USERS");
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, nullptr), L"NULL");
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, HKEY_CURRENT_CONFIG), L"UNKNOWN");
    EXPECT_EQ(Tessel::GetRootDisplayName(*context, context->UserHives()[0]->key.get()), L"HKEY_USERS\\.Default");
}

TEST_F(ItemsTest, ServiceItemsHaveTwoOrThreeFilesAndNoKindInterface) {
    context->AddService(&kServiceRow, L"Beep", SERVICE_KERNEL_DRIVER, 1, L"", nullptr, L"Beep", L"", nullptr);
    auto driver = Take();
    ASSERT_TRUE(driver);
    EXPECT_STREQ(driver->GetLocation(), L"HKLM\\System\\CurrentControlSet\\Services\\Beep");
    EXPECT_EQ(driver->GetFileCount(), 2u);
    EXPECT_STREQ(driver->GetFile(0), L"") << "an empty image file is still reported";
    EXPECT_STREQ(driver->GetFile(2), L"") << "the count is not consulted";
    EXPECT_EQ(driver->GetFile(3), nullptr);
    void* reg = reinterpret_cast<void*>(1);
    EXPECT_EQ(driver->QueryInterface(IID_IZVAutorunItem_Reg, &reg), E_NOINTERFACE);
    EXPECT_EQ(reg, nullptr);

    context->AddService(&kServiceRow, L"Shared", SERVICE_WIN32_SHARE_PROCESS, 2,
                       L"%SystemRoot%\\system32\\rundll32.exe -k x", L"C:\\apps\\app.exe", L"", L"", L"");
    auto shared = Take();
    EXPECT_EQ(shared->GetFileCount(), 3u);
    EXPECT_STREQ(shared->GetFile(0), L"C:\\windows\\system32\\rundll32.exe");
    EXPECT_STREQ(shared->GetFile(1), L"");
    EXPECT_STREQ(shared->GetFile(2), L"C:\\apps\\app.exe");
}

TEST_F(ItemsTest, ServiceProbesDependOnTheType) {
    auto probesFor = [&](DWORD type) {
        ULONG before = Probes();
        context->AddService(&kServiceRow, L"S", type, 2, L"C:\\gone.exe", L"C:\\gone.dll", L"", L"", L"C:\\gone2.exe");
        Take();
        return Probes() - before;
    };
    ULONG unknown = probesFor(0xFFFFFFFF), own = probesFor(SERVICE_WIN32_OWN_PROCESS),
          shared = probesFor(SERVICE_WIN32_SHARE_PROCESS);
    EXPECT_EQ(own, unknown + 2) << "image and application are probed when the type is known";
    EXPECT_EQ(shared, own + 1) << "the service library is probed for shared services";
}

TEST_F(ItemsTest, InputMethodFilesMoveUpWithoutAnImeFile) {
    sim.AddFile(L"C:\\windows\\system32\\kbdus.dll");
    context->AddInputMethod(&kUserRow, 3, L"00000409", L"", L"kbdus.dll");
    auto item = Take();
    ASSERT_TRUE(item);
    EXPECT_STREQ(item->GetLocation(), L"HKCU\\Keyboard Layout\\Preload\\[3]");
    EXPECT_EQ(item->GetFileCount(), 1u);
    EXPECT_STREQ(item->GetFile(0), L"C:\\windows\\system32\\kbdus.dll");
    EXPECT_EQ(item->GetFile(1), nullptr);
    auto ime = KindOf<IZVAutorunItem_Ime>(item, IID_IZVAutorunItem_Ime);
    EXPECT_EQ(ime->GetPreloadIndex(), 3u);
    EXPECT_STREQ(ime->GetLayoutId(), L"00000409");
    EXPECT_EQ(ime->GetRootKey(), HKEY_CURRENT_USER);

    context->AddInputMethod(&kUserRow, 1, L"E0010411", L"C:\\apps\\app.exe", L"gone.dll");
    auto withIme = Take();
    EXPECT_EQ(withIme->GetFileCount(), 1u);
    EXPECT_STREQ(withIme->GetFile(0), L"C:\\apps\\app.exe");
    EXPECT_STREQ(withIme->GetFile(1), L"") << "index 1 is the layout file even when empty";
}

TEST_F(ItemsTest, StartupFilesAndShortcuts) {
    ZV_SCAN_SETTINGS skip{sizeof(skip), ZV_SCAN_SKIP_PROBE, {}};
    context->ResetForScan(&skip);
    const std::wstring folder = L"C:\\Users\\u\\Startup";
    sim.AddFile(folder + L"\\run.bat");
    sim.AddShortcut(folder + L"\\app.lnk", L"C:\\apps\\app.exe /min");
    sim.SetShortcutLoadFailure(folder + L"\\bad.lnk", E_FAIL);

    context->AddStartupFile(&kRunRow, folder.c_str(), (folder + L"\\run.bat").c_str());
    auto plain = Take();
    EXPECT_STREQ(plain->GetLocation(), (folder + L"\\run.bat").c_str());
    EXPECT_EQ(plain->GetFileCount(), 1u) << "checked directly whatever the skip-probe flag";
    context->AddStartupFile(&kRunRow, folder.c_str(), (folder + L"\\gone.bat").c_str());
    EXPECT_EQ(Take()->GetFileCount(), 0u);

    context->AddStartupFile(&kRunRow, folder.c_str(), (folder + L"\\app.lnk").c_str());
    auto link = Take();
    auto shortcut = KindOf<IZVAutorunItem_ShortCut>(link, IID_IZVAutorunItem_ShortCut);
    EXPECT_STREQ(shortcut->GetFilePath(), (folder + L"\\app.lnk").c_str());
    EXPECT_STREQ(link->GetFile(0), L"C:\\apps\\app.exe");

    context->AddStartupFile(&kRunRow, folder.c_str(), (folder + L"\\bad.lnk").c_str());
    EXPECT_STREQ(Take()->GetFile(0), (folder + L"\\bad.lnk").c_str()) << "an unreadable shortcut is itself";
}

TEST_F(ItemsTest, AutorunFileCommandsSearchTheirDriveFirst) {
    sim.SetDrive(L'X', DRIVE_REMOVABLE, true);
    sim.AddFile(L"X:\\setup.exe");
    sim.AddFile(L"C:\\windows\\system32\\setup.exe");
    context->AddIniCommand(&kRunRow, L"X:\\autorun.inf", L"autorun", L"open", L"setup");
    auto item = Take();
    EXPECT_STREQ(item->GetLocation(), L"X:\\autorun.inf");
    EXPECT_STREQ(item->GetFile(0), L"X:\\setup.exe");
    auto ini = KindOf<IZVAutorunItem_Ini>(item, IID_IZVAutorunItem_Ini);
    EXPECT_STREQ(ini->GetIniPath(), L"X:\\autorun.inf");
    EXPECT_STREQ(ini->GetSection(), L"autorun");
    EXPECT_STREQ(ini->GetKeyName(), L"open");
    EXPECT_STREQ(ini->GetValue(), L"setup");
}

TEST_F(ItemsTest, OpenCommandsAndScheduledTasks) {
    context->AddShellCommand(&kOpenRow, L"exefile", L"");
    EXPECT_FALSE(Take()) << "no command, no item";
    context->AddShellCommand(&kOpenRow, L"exefile", L"\"%1\" %*");
    auto open = Take();
    EXPECT_STREQ(open->GetLocation(), L"open .exe");
    auto command = KindOf<IZVAutorunItem_ShlCmd>(open, IID_IZVAutorunItem_ShlCmd);
    EXPECT_STREQ(command->GetExtension(), L".exe");
    EXPECT_STREQ(command->GetProgId(), L"exefile");
    EXPECT_STREQ(command->GetVerb(), L"open");
    EXPECT_EQ(command->GetValueName(), nullptr);
    EXPECT_EQ(command->GetAltValueName(), nullptr);

    ULONG before = Probes();
    context->AddScheduledTask(&kServiceRow, L"\\Updater", L"C:\\apps\\app.exe", L"");
    auto task = Take();
    EXPECT_STREQ(task->GetLocation(), L"\\Updater");
    EXPECT_EQ(task->GetFileCount(), 1u);
    EXPECT_EQ(Probes() - before, 2u) << "one probe to find the program, one of the empty arguments";
    EXPECT_EQ(task->Repair(nullptr), E_NOTIMPL);
}

TEST_F(ItemsTest, RepairChecksInOrderAndRefusesKnownHostPrograms) {
    sim.AddFile(L"C:\\windows\\system32\\svchost.exe");
    context->AddRegCommandValue(&kQuietRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"C:\\apps\\app.exe");
    auto unrepairable = Take();
    EXPECT_FALSE(unrepairable->CanRepair());
    EXPECT_EQ(unrepairable->Repair(nullptr), E_NOTIMPL);

    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"C:\\apps\\app.exe");
    auto item = Take();
    EXPECT_EQ(item->Repair(nullptr), E_POINTER);
    ZV_REPAIR_REQUEST host{sizeof(host), L"C:\\Windows\\System32\\RUNDLL32.EXE"};
    EXPECT_EQ(item->Repair(&host), S_FALSE);
    EXPECT_EQ(g_repairs, 0);
    ZV_REPAIR_REQUEST other{0, L"C:\\apps\\app.exe"};
    EXPECT_EQ(item->Repair(&other), S_OK);
    ZV_REPAIR_REQUEST none{0, nullptr};
    EXPECT_EQ(item->Repair(&none), S_OK);
    EXPECT_EQ(g_repairs, 2);

    context->AddService(&kRepairableServiceRow, L"S", 0x10, 2, L"", L"", L"", L"", L"");
    auto service = Take();
    EXPECT_EQ(service->Repair(&other), S_OK);
    EXPECT_EQ(g_repairs, 2) << "service items never call a routine";
}

TEST_F(ItemsTest, SetOwnerHoldsOneReference) {
    context->AddRegCommandValue(&kRunRow, HKEY_LOCAL_MACHINE, L"K", L"V", L"x");
    auto item = Take();
    struct Owner : IZVAutorunScanner {
        ULONG refs = 1;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
        ULONG STDMETHODCALLTYPE Release() override { return --refs; }
        HRESULT STDMETHODCALLTYPE StartScan(const ZV_SCAN_SETTINGS*) override { return S_OK; }
        BOOL STDMETHODCALLTYPE NextItem(IZVAutorunItemEx**) override { return FALSE; }
    } owner, other;
    item->SetOwner(&owner);
    item->SetOwner(&owner);
    EXPECT_EQ(owner.refs, 2u);
    item->SetOwner(&other);
    EXPECT_EQ(owner.refs, 1u);
    EXPECT_EQ(other.refs, 2u);
    item.Reset();
    EXPECT_EQ(other.refs, 1u) << "the item released its owner";
}

}  // namespace
