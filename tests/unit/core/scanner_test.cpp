// The scanner's walk: states, lazy row-by-row scanning, hand-out, restarts and ends.
#include <gtest/gtest.h>

#include <vector>

#include "scanner/com_object.h"
#include "scanner/scanner.h"
#include "support/alloc_failure.h"
#include "support/sim_test.h"
#include "support/test_item.h"

namespace {

using platform::ComPtr;
using Tessel::CZVAutorunScanner;
using Tessel::IAutorunContext;
using Tessel::LocationRow;
using Tessel::QComObject;

std::vector<DWORD> g_rowsRun;

// Reports as many items as the row's extra field says, each with the row's identifier.
HRESULT ReportExtraItems(IAutorunContext* context, const LocationRow* row) {
    g_rowsRun.push_back(row->id);
    for (DWORD i = 0; i < row->extra; ++i) test::QueueTestItem(context, row->id, L"item " + std::to_wstring(i));
    return S_OK;
}

HRESULT Repair(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return S_OK; }

// Three items, nothing, one repairable item, two items, then the end.
const LocationRow kTable[] = {
    {0x10100001, ReportExtraItems, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 3},
    {0x10100002, ReportExtraItems, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {0x10100003, ReportExtraItems, Repair, nullptr, nullptr, nullptr, nullptr, 0, 1},
    {0x10100004, ReportExtraItems, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 2},
    {0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},
};

class ScannerTest : public test::SimTest {
protected:
    void SetUp() override {
        g_rowsRun.clear();
        test::TestItem::live = 0;
        scanner = ComPtr<IZVAutorunScanner>(QComObject<CZVAutorunScanner>::Create(kTable));
    }
    void TearDown() override {
        scanner.Reset();
        EXPECT_EQ(test::TestItem::live, 0) << "every item destroyed";
        SimTest::TearDown();
    }

    std::vector<DWORD> Drain() {
        std::vector<DWORD> ids;
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            ids.push_back(item->GetId());
            item->Release();
        }
        return ids;
    }

    ComPtr<IZVAutorunScanner> scanner;
};

TEST_F(ScannerTest, NeverStartedGivesNothing) {
    IZVAutorunItemEx* item = reinterpret_cast<IZVAutorunItemEx*>(0x1234);
    EXPECT_FALSE(scanner->NextItem(&item));
    EXPECT_EQ(item, reinterpret_cast<IZVAutorunItemEx*>(0x1234)) << "nothing stored";
    EXPECT_TRUE(g_rowsRun.empty());
}

TEST_F(ScannerTest, RowsAreScannedLazilyAndItemsComeOutInRowOrder) {
    ASSERT_EQ(scanner->StartScan(nullptr), S_OK);
    EXPECT_EQ(g_rowsRun, (std::vector<DWORD>{0x10100001})) << "StartScan runs the first row only";

    IZVAutorunItemEx* item = nullptr;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(scanner->NextItem(&item));
        EXPECT_EQ(item->GetId(), 0x10100001u);
        item->Release();
    }
    EXPECT_EQ(g_rowsRun.size(), 1u) << "a row's items are handed out before the next row is touched";

    EXPECT_EQ(Drain(), (std::vector<DWORD>{0x10100003, 0x10100004, 0x10100004}));
    EXPECT_EQ(g_rowsRun, (std::vector<DWORD>{0x10100001, 0x10100002, 0x10100003, 0x10100004}));
}

TEST_F(ScannerTest, FinishedScannerKeepsReturningNothingUntilRestarted) {
    scanner->StartScan(nullptr);
    Drain();
    IZVAutorunItemEx* item = nullptr;
    EXPECT_FALSE(scanner->NextItem(&item));
    EXPECT_FALSE(scanner->NextItem(&item));
    EXPECT_EQ(g_rowsRun.size(), 4u) << "the walk does not start again by itself";

    scanner->StartScan(nullptr);
    EXPECT_EQ(Drain().size(), 6u);
}

TEST_F(ScannerTest, NullOutChangesNothing) {
    scanner->StartScan(nullptr);
    EXPECT_FALSE(scanner->NextItem(nullptr));
    EXPECT_EQ(Drain().size(), 6u) << "no item was lost to the null call";
}

TEST_F(ScannerTest, HandedOutItemsHoldTheScannerAlive) {
    scanner->StartScan(nullptr);
    IZVAutorunItemEx* item = nullptr;
    ASSERT_TRUE(scanner->NextItem(&item));
    auto* testItem = static_cast<test::TestItem*>(item);
    EXPECT_EQ(testItem->Owner(), scanner.Get());

    EXPECT_EQ(scanner->AddRef(), 3u) << "the host's reference, the item's and this one";
    scanner->Release();
    scanner.Reset();  // the host lets go of the scanner first
    EXPECT_EQ(item->GetId(), 0x10100001u);
    EXPECT_EQ(test::TestItem::live, 3) << "the scanner and its queue live on through the item";
    EXPECT_EQ(item->Release(), 0u);
    EXPECT_EQ(test::TestItem::live, 0) << "the last item took the scanner and its queue with it";
}

TEST_F(ScannerTest, RestartReleasesQueuedItemsAndKeepsHeldOnesUsable) {
    scanner->StartScan(nullptr);
    IZVAutorunItemEx* held = nullptr;
    ASSERT_TRUE(scanner->NextItem(&held));
    EXPECT_EQ(test::TestItem::live, 3);

    scanner->StartScan(nullptr);
    EXPECT_EQ(test::TestItem::live, 4) << "two queued items released, three new ones queued";
    EXPECT_STREQ(held->GetLocation(), L"item 0");
    held->Release();
    EXPECT_EQ(Drain().size(), 6u);
}

TEST_F(ScannerTest, RepairableOnlySkipsTheFirstRowWithoutARepair) {
    ZV_SCAN_SETTINGS settings{sizeof(settings), ZV_SCAN_REPAIRABLE_ONLY, {}};
    scanner->StartScan(&settings);
    EXPECT_TRUE(g_rowsRun.empty()) << "the first row has no repair and is filtered before it runs";
    EXPECT_EQ(Drain(), (std::vector<DWORD>{0x10100003}));
}

TEST_F(ScannerTest, CountersReadThroughThePerformView) {
    ComPtr<IZVAutorunPerformView> view;
    ASSERT_EQ(scanner->QueryInterface(IID_IZVAutorunPerformView, view.PutVoid()), S_OK);
    auto& context = static_cast<CZVAutorunScanner*>(scanner.Get())->Context();
    scanner->StartScan(nullptr);
    context.Count(ZV_COUNT_FILE_PROBES);
    context.Count(ZV_COUNT_EXTENSION_SEARCHES);
    context.Count(ZV_COUNT_EXTENSION_SEARCHES);
    EXPECT_EQ(view->GetCount(1), 1u);
    EXPECT_EQ(view->GetCount(6), 2u);
    EXPECT_EQ(view->GetCount(0), 0u);
    EXPECT_EQ(view->GetCount(7), 0u);
    Drain();
    EXPECT_EQ(view->GetCount(6), 2u) << "counters keep their values after the scan";
    scanner->StartScan(nullptr);
    EXPECT_EQ(view->GetCount(6), 0u);
}

// Every allocation of a scan, failed in turn: no exception reaches the caller, the scan ends
// cleanly, and nothing leaks.
TEST_F(ScannerTest, AllocationFailureEndsTheCallCleanly) {
    bool completed = false;
    for (size_t n = 0; !completed && n < 1000; ++n) {
        g_rowsRun.clear();
        HRESULT started = E_FAIL;
        size_t items = 0;
        bool failed = false;
        {
            test::ScopedAllocationFailure failure(n);
            started = scanner->StartScan(nullptr);
            IZVAutorunItemEx* item = nullptr;
            while (started == S_OK && scanner->NextItem(&item)) {
                ++items;
                item->Release();
            }
            failed = test::AllocationFailed();
        }
        if (!failed) {
            completed = true;
            EXPECT_EQ(started, S_OK);
            EXPECT_EQ(items, 6u);
        } else {
            EXPECT_TRUE(started == S_OK || started == E_OUTOFMEMORY) << std::hex << started;
            IZVAutorunItemEx* item = nullptr;
            EXPECT_FALSE(scanner->NextItem(&item)) << "a failed call leaves the scan finished";
        }
        EXPECT_EQ(test::TestItem::live, 0);
        EXPECT_LE(sim.OpenHandles(), 2u) << "at most the user hives of the last StartScan are open";
    }
    EXPECT_TRUE(completed);
    scanner->StartScan(nullptr);
    EXPECT_EQ(Drain().size(), 6u) << "the scanner works again after the failures";
}

TEST(ScannerCreation, AllocationFailureOfTheScannerItself) {
    platform::SimulatedBackend sim;
    platform::ScopedBackend scope(sim);
    for (size_t n = 0; n < 50; ++n) {
        void* out = nullptr;
        HRESULT hr;
        {
            test::ScopedAllocationFailure failure(n);
            hr = ZVAtrunCreateObject(&IID_IZVAutorunScanner, &out, 0);
        }
        if (hr == S_OK) {
            static_cast<IZVAutorunScanner*>(out)->Release();
            return;
        }
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
    }
}

}  // namespace
