// The scan context: settings and row filters, the lists it rebuilds, the user-hive map and the
// per-user fan-out.
#include <gtest/gtest.h>

#include <vector>

#include "scanner/com_object.h"
#include "scanner/scan_context.h"
#include "support/sim_test.h"
#include "support/test_item.h"

namespace {

using Tessel::CAutorunContext;
using Tessel::IAutorunContext;
using Tessel::LocationRow;

std::vector<HKEY> g_roots;
HRESULT g_result = S_OK;

HRESULT RecordRoot(IAutorunContext* context, const LocationRow* row) {
    g_roots.push_back(row->root);
    test::QueueTestItem(context, row->id, L"entry");
    return g_result;
}

HRESULT Repair(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return S_OK; }

const LocationRow kMachineRow{0x10100001, RecordRoot, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE", nullptr, nullptr, 0, 0};
const LocationRow kRepairableRow{0x10100002, RecordRoot, Repair, HKEY_LOCAL_MACHINE, L"SOFTWARE", nullptr, nullptr, 0, 0};
const LocationRow kUserRow{0x10100003, RecordRoot, nullptr, HKEY_CURRENT_USER, L"SOFTWARE", nullptr, nullptr, 0, 0};
const LocationRow kTerminator{};

class ScanContextTest : public test::SimTest {
protected:
    void SetUp() override {
        g_roots.clear();
        g_result = S_OK;
    }
    void TearDown() override {
        context.reset();
        EXPECT_EQ(test::TestItem::live, 0);
        SimTest::TearDown();
    }
    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
};

TEST_F(ScanContextTest, DefaultSettingsScanEveryRowAndProbeFiles) {
    EXPECT_EQ(context->Settings().cbSize, 28u);
    context->ResetForScan(nullptr);
    EXPECT_EQ(context->Settings().cbSize, 28u);
    EXPECT_EQ(context->Settings().dwFlags, 0u);
    EXPECT_FALSE(context->SkipProbe());
    EXPECT_TRUE(context->RunRow(&kMachineRow));
    EXPECT_TRUE(context->RunRow(&kRepairableRow));
}

TEST_F(ScanContextTest, SettingsAreCopiedAsGiven) {
    ZV_SCAN_SETTINGS settings{};
    settings.cbSize = 12345;  // not validated
    settings.dwFlags = ZV_SCAN_SKIP_PROBE | 0x100;
    settings.reserved[19] = 0xAB;
    context->ResetForScan(&settings);
    EXPECT_EQ(context->Settings().cbSize, 12345u);
    EXPECT_TRUE(context->SkipProbe());
    EXPECT_EQ(context->Settings().reserved[19], 0xAB);
}

TEST_F(ScanContextTest, RowFiltersFollowTheFlagsAndRepairableOnlyWins) {
    struct Case {
        DWORD flags;
        bool machineRow, repairableRow;
    } cases[] = {{0, true, true},
                 {ZV_SCAN_REPAIRABLE_ONLY, false, true},
                 {ZV_SCAN_UNREPAIRABLE_ONLY, true, false},
                 {ZV_SCAN_REPAIRABLE_ONLY | ZV_SCAN_UNREPAIRABLE_ONLY, false, true}};
    for (const auto& c : cases) {
        ZV_SCAN_SETTINGS settings{sizeof(settings), c.flags, {}};
        context->ResetForScan(&settings);
        g_roots.clear();
        EXPECT_EQ(context->RunRow(&kMachineRow) != 0, c.machineRow) << c.flags;
        EXPECT_EQ(context->RunRow(&kRepairableRow) != 0, c.repairableRow) << c.flags;
        EXPECT_EQ(g_roots.size(), size_t(c.machineRow) + size_t(c.repairableRow)) << "filtered rows never run";
    }
}

TEST_F(ScanContextTest, ListsAreRebuiltNotAppended) {
    sim.SetSystemDirectory(L"D:\\os\\system32");
    sim.SetWindowsDirectory(L"D:\\os");
    context->ResetForScan(nullptr);
    context->ResetForScan(nullptr);
    EXPECT_EQ(context->Extensions(), (std::vector<std::wstring>{L".exe", L".dll"}));
    EXPECT_EQ(context->SearchDirectories(),
              (std::vector<std::wstring>{L"D:\\os\\system32", L"D:\\os\\system", L"D:\\os"}));
    EXPECT_EQ(context->GetShellFolderTable().size(), 34u);
}

TEST_F(ScanContextTest, PerUserRowRunsOncePerOpenableHive) {
    context->ResetForScan(nullptr);
    ASSERT_EQ(context->UserHives().size(), 2u);
    EXPECT_EQ(context->UserHives()[0]->name, L".Default");
    EXPECT_EQ(context->UserHives()[1]->name, platform::SimulatedBackend::kCurrentUserSid);

    EXPECT_TRUE(context->RunRow(&kUserRow));
    ASSERT_EQ(g_roots.size(), 2u);
    EXPECT_EQ(g_roots[0], context->UserHives()[0]->key.get());
    EXPECT_EQ(g_roots[1], context->UserHives()[1]->key.get());
    EXPECT_TRUE(context->PopItem(nullptr));
    EXPECT_TRUE(context->PopItem(nullptr)) << "items of both hives are queued";
    EXPECT_FALSE(context->PopItem(nullptr));
}

TEST_F(ScanContextTest, HivesThatRefuseFullAccessAreLeftOut) {
    sim.DenyAccess(HKEY_USERS, L".Default", KEY_SET_VALUE);
    context->ResetForScan(nullptr);
    ASSERT_EQ(context->UserHives().size(), 1u);
    context->RunRow(&kUserRow);
    EXPECT_EQ(g_roots, (std::vector<HKEY>{context->UserHives()[0]->key.get()}));
}

TEST_F(ScanContextTest, WithNoOpenableHiveAPerUserRowRunsUnderTheCurrentUser) {
    sim.DenyAccess(HKEY_USERS, L".Default", KEY_ALL_ACCESS);
    sim.DenyAccess(HKEY_USERS, platform::SimulatedBackend::kCurrentUserSid, KEY_ALL_ACCESS);
    context->ResetForScan(nullptr);
    EXPECT_TRUE(context->UserHives().empty());
    context->RunRow(&kUserRow);
    EXPECT_EQ(g_roots, (std::vector<HKEY>{HKEY_CURRENT_USER}));
}

TEST_F(ScanContextTest, AFailingRowReportsNothingAndItsItemsGoWithTheNextRow) {
    context->ResetForScan(nullptr);
    g_result = E_ACCESSDENIED;
    EXPECT_FALSE(context->RunRow(&kMachineRow));
    EXPECT_EQ(test::TestItem::live, 1) << "queued until the next row empties the queue";
    g_result = S_OK;
    EXPECT_FALSE(context->RunRow(&kTerminator));
    EXPECT_EQ(test::TestItem::live, 0);
    EXPECT_FALSE(context->RunRow(nullptr));
}

TEST_F(ScanContextTest, AFailingPerUserRunDoesNotStopTheOtherHives) {
    context->ResetForScan(nullptr);
    g_result = E_FAIL;
    EXPECT_TRUE(context->RunRow(&kUserRow)) << "per-user results are ignored";
    EXPECT_EQ(g_roots.size(), 2u);
}

TEST_F(ScanContextTest, HivesOfAnEarlierScanCloseOnceNothingRefersToThem) {
    context->ResetForScan(nullptr);
    EXPECT_EQ(sim.OpenHandles(), 2u);
    auto kept = context->FindUserHive(context->UserHives()[1]->key.get());
    ASSERT_TRUE(kept);
    HKEY keptKey = kept->key.get();

    context->ResetForScan(nullptr);
    EXPECT_EQ(sim.OpenHandles(), 3u) << "the new scan's two hives and the one still referred to";
    EXPECT_FALSE(context->FindUserHive(keptKey)) << "the new map does not know the old handle";
    HKEY probe = nullptr;
    EXPECT_EQ(platform::RegOpenKeyExW(keptKey, L"Software", 0, KEY_READ, &probe), ERROR_SUCCESS)
        << "a handle still referred to stays usable";
    platform::RegCloseKey(probe);

    kept.reset();
    EXPECT_EQ(sim.OpenHandles(), 2u);
    context.reset();
    EXPECT_EQ(sim.OpenHandles(), 0u) << "teardown closes the hives";
}

}  // namespace
