// The MUI cache: string values reported by their names, other values passed over, on the simulated
// machine and on the real one of the Wine prefix, and the two table rows with the per-user fan-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "locations/routines.h"
#include "scanner/items.h"
#include "support/context_helpers.h"
#include "support/machine.h"
#include "support/sim_test.h"

namespace {

using test::PopAll;
using test::TableRow;

using platform::ComPtr;
using Tessel::CAutorunContext;
using Tessel::LocationRow;
using test::MachineKind;

ComPtr<IZVAutorunItem_Reg> RegOf(const ComPtr<IZVAutorunItemEx>& item) {
    ComPtr<IZVAutorunItem_Reg> reg;
    EXPECT_EQ(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid()), S_OK);
    return reg;
}

class MuiCacheTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void SetUp() override {
        cachePath = machine.TestKey() + L"\\MUICache";
        row.keyPath = cachePath.c_str();
        context->ResetForScan(nullptr);
    }
    void TearDown() override {
        context.reset();
        if (auto* sim = machine.Sim()) {
            EXPECT_EQ(sim->OpenHandles(), 0u);
            EXPECT_EQ(sim->Writes(), 0u);
        }
    }

    test::Machine machine{GetParam()};
    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
    std::wstring cachePath;
    LocationRow row = TableRow(0x10600003);
};

TEST_P(MuiCacheTest, StringValuesAreReportedByTheirNamesAndOthersPassedOver) {
    const std::wstring app = machine.Root() + L"\\app.exe", tool = machine.Root() + L"\\tool.exe";
    machine.AddFile(app);
    machine.AddFile(tool);
    row.root = HKEY_CURRENT_USER;
    machine.SetString(HKEY_CURRENT_USER, cachePath, app, L"The App");
    machine.SetString(HKEY_CURRENT_USER, cachePath, tool, L"Tool", REG_EXPAND_SZ);
    machine.SetValue(HKEY_CURRENT_USER, cachePath, L"LangID", REG_BINARY, {0x09, 0x04});
    machine.SetValue(HKEY_CURRENT_USER, cachePath, machine.Root() + L"\\dword.exe", REG_DWORD, {1, 0, 0, 0});
    machine.SetString(HKEY_CURRENT_USER, cachePath, machine.Root() + L"\\empty.exe", L"");
    // "Name" without its terminator.
    machine.SetValue(HKEY_CURRENT_USER, cachePath, machine.Root() + L"\\open.exe", REG_SZ,
                     {'N', 0, 'a', 0, 'm', 0, 'e', 0});

    EXPECT_EQ(Tessel::ScanMuiCache(context.get(), &row), S_OK);
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 2u) << "a binary, a number, an empty and an unterminated value give nothing";

    EXPECT_EQ(items[0]->GetId(), 0x10600003u);
    EXPECT_FALSE(items[0]->CanRepair());
    EXPECT_EQ(items[0]->GetLocation(), L"HKEY_CURRENT_USER\\" + cachePath + L"\\[" + app + L"]");
    auto first = RegOf(items[0]);
    EXPECT_EQ(first->GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(first->GetKeyPath(), cachePath);
    EXPECT_EQ(first->GetValueName(), app);
    EXPECT_STREQ(first->GetValueData(), L"The App");
    ASSERT_EQ(items[0]->GetFileCount(), 1u);
    EXPECT_EQ(items[0]->GetFile(0), app) << "the name is the command line";

    EXPECT_EQ(RegOf(items[1])->GetValueName(), tool);
    EXPECT_STREQ(RegOf(items[1])->GetValueData(), L"Tool");
    ASSERT_EQ(items[1]->GetFileCount(), 1u);
    EXPECT_EQ(items[1]->GetFile(0), tool);
}

TEST_P(MuiCacheTest, AMissingCacheIsNoFailure) {
    row.root = HKEY_CURRENT_USER;
    EXPECT_EQ(Tessel::ScanMuiCache(context.get(), &row), S_OK);
    EXPECT_TRUE(PopAll(*context).empty());
}

INSTANTIATE_TEST_SUITE_P(Machines, MuiCacheTest, ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

class MuiCacheRowsTest : public test::ContextTest {};

TEST_F(MuiCacheRowsTest, TheClassesCacheAndEveryUsersCache) {
    const LocationRow& classes = TableRow(0x10600002);
    const LocationRow& perUser = TableRow(0x10600003);
    for (const LocationRow* row : {&classes, &perUser}) {
        EXPECT_EQ(row->scan, &Tessel::ScanMuiCache);
        EXPECT_EQ(row->repair, nullptr);
    }
    sim.AddFile(L"C:\\apps\\a.exe");
    sim.AddFile(L"C:\\apps\\b.exe");
    sim.SetString(HKEY_CLASSES_ROOT, classes.keyPath, L"C:\\apps\\a.exe", L"A");
    const std::wstring cache = perUser.keyPath;
    sim.SetString(HKEY_USERS, L".Default\\" + cache, L"C:\\apps\\b.exe", L"B");
    sim.SetString(HKEY_USERS, std::wstring(platform::SimulatedBackend::kCurrentUserSid) + L"\\" + cache,
                  L"C:\\apps\\a.exe", L"A");

    ASSERT_TRUE(context->RunRow(&classes));
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_STREQ(
        items[0]->GetLocation(),
        L"HKEY_CLASSES_ROOT\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache\\[C:\\apps\\a.exe]");

    ASSERT_TRUE(context->RunRow(&perUser));
    items = PopAll(*context);
    ASSERT_EQ(items.size(), 2u) << "one per user hive";
    EXPECT_EQ(items[0]->GetLocation(), L"HKEY_USERS\\.Default\\" + cache + L"\\[C:\\apps\\b.exe]");
    EXPECT_EQ(items[1]->GetLocation(), L"HKEY_USERS\\" + std::wstring(platform::SimulatedBackend::kCurrentUserSid) +
                                           L"\\" + cache + L"\\[C:\\apps\\a.exe]");
    EXPECT_EQ(RegOf(items[1])->GetRootKey(), context->UserHives()[1]->key.get());
    EXPECT_STREQ(items[1]->GetFile(0), L"C:\\apps\\a.exe");
}

}  // namespace
