// Registry repairs: each changes exactly its entry, and fails without writing when it cannot.
#include <gtest/gtest.h>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/scan_context.h"
#include "support/context_helpers.h"
#include "support/machine.h"
#include "support/sim_test.h"

namespace {

using test::PopAll;
using test::TableRow;

using platform::ComPtr;
using Tessel::LocationRow;

const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
// A string as RegSetValueExW stores it with its terminator.
std::wstring Stored(const std::wstring& text) { return text + L'\0'; }

const ZV_REPAIR_REQUEST kRequest{sizeof(ZV_REPAIR_REQUEST), nullptr};

// An item of the row for (root, key path, value name), as the registry scans build them.
ComPtr<IZVAutorunItemEx> MakeItem(Tessel::CAutorunContext& context, DWORD id, HKEY root, const std::wstring& keyPath,
                                  const std::wstring& valueName) {
    LocationRow row = TableRow(id);
    row.root = root;
    context.AddRegCommandValue(&row, root, keyPath.c_str(), valueName.c_str(), L"x.exe");
    IZVAutorunItemEx* item = nullptr;
    EXPECT_TRUE(context.PopItem(&item));
    return ComPtr<IZVAutorunItemEx>::Attach(item);
}

// Deleting a value: on both machines, through a per-test key under HKEY_CURRENT_USER.
class DeleteValueTest : public ::testing::TestWithParam<test::MachineKind> {
protected:
    test::Machine machine{GetParam()};
    Tessel::CAutorunContext context;
};

TEST_P(DeleteValueTest, RemovesExactlyTheItemsValue) {
    std::wstring key = machine.TestKey();
    machine.SetString(HKEY_CURRENT_USER, key, L"Updater", L"\"C:\\u.exe\" /x");
    machine.SetString(HKEY_CURRENT_USER, key, L"Other", L"C:\\o.exe");
    auto item = MakeItem(context, 0x10101015, HKEY_CURRENT_USER, key, L"Updater");
    EXPECT_EQ(item->Repair(&kRequest), S_OK);

    platform::UniqueHKey handle;
    ASSERT_EQ(platform::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()), 0);
    EXPECT_EQ(platform::RegQueryValueExW(handle.get(), L"Updater", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(platform::RegQueryValueExW(handle.get(), L"Other", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(item->Repair(&kRequest), static_cast<HRESULT>(0x80070002)) << "a value already gone";

    auto gone = MakeItem(context, 0x10101015, HKEY_CURRENT_USER, key + L"\\Missing", L"Updater");
    EXPECT_EQ(gone->Repair(&kRequest), static_cast<HRESULT>(0x80070002)) << "the key is not recreated";
}

INSTANTIATE_TEST_SUITE_P(Machines, DeleteValueTest,
                         ::testing::Values(test::MachineKind::Simulated, test::MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

class RegistryRepairsTest : public test::SimTest {
protected:
    void SetUp() override {
        writesExpected = true;
        context->ResetForScan(nullptr);
        sim.AddFile(L"C:\\windows\\system32\\userinit.exe");
        sim.AddFile(L"C:\\windows\\explorer.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"Userinit", L"C:\\evil.exe,");
        sim.SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell", L"evil.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"UIHost", L"evil.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"System", L"evil.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"Keep", L"keep me");
    }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }
    std::wstring Text(HKEY root, const std::wstring& path, const std::wstring& name) {
        auto bytes = sim.ValueBytes(root, path, name);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
    ComPtr<IZVAutorunItemEx> Item(DWORD id, const std::wstring& path, const std::wstring& name,
                                  HKEY root = HKEY_LOCAL_MACHINE) {
        return MakeItem(*context, id, root, path, name);
    }

    std::unique_ptr<Tessel::CAutorunContext> context = std::make_unique<Tessel::CAutorunContext>();
};

TEST_F(RegistryRepairsTest, LogonSettingsAreRestored) {
    EXPECT_EQ(Item(0x10101006, kWinlogon, L"Userinit")->Repair(&kRequest), S_OK);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kWinlogon, L"Userinit"), Stored(L"C:\\windows\\system32\\userinit.exe,"));
    EXPECT_EQ(Item(0x1010100A, kWinlogon, L"Shell")->Repair(&kRequest), S_OK);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell"), Stored(L"explorer.exe")) << "the bare name";
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kWinlogon, L"Keep"), Stored(L"keep me"));

    const wchar_t windows[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
    sim.SetString(HKEY_LOCAL_MACHINE, windows, L"AppInit_DLLs", L"C:\\hook.dll");
    EXPECT_EQ(Item(0x1010A001, windows, L"AppInit_DLLs")->Repair(&kRequest), S_OK);
    EXPECT_EQ(sim.ValueBytes(HKEY_LOCAL_MACHINE, windows, L"AppInit_DLLs").size(), 2u) << "the terminator alone";
    EXPECT_EQ(sim.ValueType(HKEY_LOCAL_MACHINE, windows, L"AppInit_DLLs"), static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryRepairsTest, MissingSystemFilesStopTheRepairBeforeAnyWrite) {
    sim.RemoveFile(L"C:\\windows\\system32\\userinit.exe");
    sim.RemoveFile(L"C:\\windows\\explorer.exe");
    EXPECT_EQ(Item(0x10101006, kWinlogon, L"Userinit")->Repair(&kRequest), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(Item(0x1010100A, kWinlogon, L"Shell")->Repair(&kRequest), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(sim.Writes(), 0u);
}

TEST_F(RegistryRepairsTest, PerUserShellIsWrittenIntoThatHive) {
    HKEY hive = context->UserHives()[1]->key.get();
    std::wstring sid = platform::SimulatedBackend::kCurrentUserSid;
    sim.SetString(HKEY_USERS, sid + L"\\" + kWinlogon, L"Shell", L"evil.exe");
    EXPECT_EQ(Item(0x10101008, kWinlogon, L"Shell", hive)->Repair(&kRequest), S_OK);
    EXPECT_EQ(Text(HKEY_USERS, sid + L"\\" + kWinlogon, L"Shell"), Stored(L"explorer.exe"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell"), Stored(L"evil.exe"));
}

TEST_F(RegistryRepairsTest, UIHostAndSystemAreEmptiedBeforeVistaAndDeletedFromIt) {
    sim.SetVersion(5, 1, 2600);
    EXPECT_EQ(Item(0x1010C004, kWinlogon, L"UIHost")->Repair(&kRequest), S_OK);
    EXPECT_EQ(sim.ValueBytes(HKEY_LOCAL_MACHINE, kWinlogon, L"UIHost").size(), 2u);
    sim.SetVersion(6, 1, 7601);
    auto system = Item(0x1010C003, kWinlogon, L"System");
    EXPECT_EQ(system->Repair(&kRequest), S_OK);
    EXPECT_FALSE(sim.HasValue(HKEY_LOCAL_MACHINE, kWinlogon, L"System"));
    EXPECT_EQ(system->Repair(&kRequest), static_cast<HRESULT>(0x80070002));
}

TEST_F(RegistryRepairsTest, NotifyPackagesAreDeletedWholeButNeverTheRoot) {
    const std::wstring notify = std::wstring(kWinlogon) + L"\\Notify";
    sim.SetString(HKEY_LOCAL_MACHINE, notify + L"\\pkg\\sub", L"x", L"y");
    sim.SetString(HKEY_LOCAL_MACHINE, notify + L"\\pkg", L"DLLName", L"pkg.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, notify + L"\\other", L"DLLName", L"other.dll");
    EXPECT_EQ(Item(0x1010C005, notify + L"\\pkg", L"DLLName")->Repair(&kRequest), S_OK);
    EXPECT_FALSE(sim.HasKey(HKEY_LOCAL_MACHINE, notify + L"\\pkg"));
    EXPECT_TRUE(sim.HasKey(HKEY_LOCAL_MACHINE, notify + L"\\other"));

    size_t writes = sim.Writes();
    EXPECT_EQ(Item(0x1010C005, L"", L"DLLName")->Repair(&kRequest), E_INVALIDARG);
    EXPECT_EQ(sim.Writes(), writes) << "an empty key path deletes nothing";
    EXPECT_TRUE(sim.HasKey(HKEY_LOCAL_MACHINE, kWinlogon));
}

TEST_F(RegistryRepairsTest, RefusedWritesAndItemsWithoutARegistryView) {
    sim.DenyAccess(HKEY_LOCAL_MACHINE, kWinlogon, KEY_SET_VALUE);
    EXPECT_EQ(Item(0x1010C007, kWinlogon, L"Taskman")->Repair(&kRequest), static_cast<HRESULT>(0x80070005));

    context->AddShellCommand(&TableRow(0x10700020), L"txtfile", L"notepad.exe %1");
    IZVAutorunItemEx* raw = nullptr;
    ASSERT_TRUE(context->PopItem(&raw));
    auto command = ComPtr<IZVAutorunItemEx>::Attach(raw);
    EXPECT_EQ(Tessel::RepairDeleteValue(command.Get(), &kRequest), E_NOINTERFACE);
    EXPECT_EQ(Tessel::RepairDeleteValue(nullptr, &kRequest), E_POINTER);
    EXPECT_EQ(sim.Writes(), 0u);
}

}  // namespace
