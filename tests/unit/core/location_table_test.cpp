// The location table as shipped: the invariants a transcription mistake would break, and the walk.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "locations/location_table.h"
#include "scanner/com_object.h"
#include "scanner/scanner.h"
#include "support/sim_test.h"

namespace {

using Tessel::BuildLocationPath;
using Tessel::kAutorunLocationCount;
using Tessel::kAutorunLocations;
using Tessel::LocationRow;

TEST(LocationTable, HoldsItsRowsThenTheTerminator) {
    for (size_t i = 0; i < kAutorunLocationCount; ++i) {
        EXPECT_NE(kAutorunLocations[i].id, 0u) << "row " << i + 1;
        EXPECT_NE(kAutorunLocations[i].scan, nullptr) << "row " << i + 1;
    }
    const LocationRow& end = kAutorunLocations[kAutorunLocationCount];
    EXPECT_EQ(end.id, 0u);
    EXPECT_EQ(end.scan, nullptr);
    EXPECT_EQ(end.repair, nullptr);
    EXPECT_EQ(end.root, nullptr);
    EXPECT_EQ(end.keyPath, nullptr);
}

TEST(LocationTable, RootsRepairsAndFlagsAddUp) {
    std::map<HKEY, int> roots;
    int repairable = 0, flagged = 0;
    for (size_t i = 0; i < kAutorunLocationCount; ++i) {
        const auto& row = kAutorunLocations[i];
        ++roots[row.root];
        repairable += row.repair != nullptr;
        flagged += row.flag;
        if (row.root) {
            bool inputMethods = row.id == 0x10600001;
            EXPECT_EQ(row.keyPath == nullptr, inputMethods) << std::hex << row.id;
        }
    }
    EXPECT_EQ(roots[HKEY_CURRENT_USER], 41);
    EXPECT_EQ(roots[HKEY_LOCAL_MACHINE], 90);
    EXPECT_EQ(roots[HKEY_CLASSES_ROOT], 48);
    EXPECT_EQ(roots[nullptr], 7);
    EXPECT_EQ(repairable, 43);
    EXPECT_EQ(flagged, 5);
}

TEST(LocationTable, OnlyTheKnownIdentifiersAreShared) {
    std::map<DWORD, std::vector<size_t>> rows;
    for (size_t i = 0; i < kAutorunLocationCount; ++i) rows[kAutorunLocations[i].id].push_back(i + 1);
    std::map<DWORD, std::vector<size_t>> shared;
    for (auto& [id, at] : rows)
        if (at.size() > 1) shared[id] = at;
    EXPECT_EQ(shared, (std::map<DWORD, std::vector<size_t>>{{0x1010200E, {48, 50}},
                                                             {0x1010200F, {49, 51}},
                                                             {0x10103006, {76, 78}},
                                                             {0x10103007, {77, 79}}}));
}

TEST(LocationTable, CategoriesAndStartupFolders) {
    std::set<DWORD> categories;
    for (size_t i = 0; i < kAutorunLocationCount; ++i) categories.insert(Tessel::CategoryOf(kAutorunLocations[i].id));
    EXPECT_EQ(categories, (std::set<DWORD>{0x10100000, 0x10200000, 0x10300000, 0x10400000, 0x10500000,
                                           0x10600000, 0x10700000}));
    EXPECT_EQ(Tessel::CategoryOf(0x10510022), Tessel::CategoryOf(0x10500001));
    std::vector<DWORD> extras;
    for (size_t i = 0; i < kAutorunLocationCount; ++i)
        if (kAutorunLocations[i].extra) extras.push_back(kAutorunLocations[i].extra);
    EXPECT_EQ(extras, (std::vector<DWORD>{24, 7, 30, 29}));
}

TEST(LocationTable, LocationPaths) {
    EXPECT_EQ(BuildLocationPath(kAutorunLocations[20]), L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(kAutorunLocations[20].id, 0x1010100Eu);
    EXPECT_EQ(BuildLocationPath(kAutorunLocations[119]), L"Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache");
    EXPECT_EQ(BuildLocationPath(kAutorunLocations[118]), L"") << "the input-method row has no key path";
    EXPECT_EQ(kAutorunLocations[118].id, 0x10600001u);
    EXPECT_EQ(BuildLocationPath(kAutorunLocations[121]), L".exe\\open");

    LocationRow row{};
    row.subkey = L"Run";
    EXPECT_EQ(BuildLocationPath(row), L"") << "a subkey alone gives nothing";
    row.keyPath = L"";
    EXPECT_EQ(BuildLocationPath(row), L"");
    row.keyPath = L"A\\";
    EXPECT_EQ(BuildLocationPath(row), L"A\\\\Run") << "the backslash is added even after one";
    row.subkey = L"";
    EXPECT_EQ(BuildLocationPath(row), L"A\\");
}

// The scanner visits every row once, in order, shared identifiers each in its own turn.
std::vector<LocationRow> g_visited;
HRESULT RecordVisit(Tessel::IAutorunContext*, const LocationRow* row) {
    g_visited.push_back(*row);
    return S_OK;
}

class LocationWalkTest : public test::SimTest {};

TEST_F(LocationWalkTest, AScanThatFindsNothingVisitsEveryRowOnce) {
    std::vector<LocationRow> table(kAutorunLocations, kAutorunLocations + kAutorunLocationCount + 1);
    for (size_t i = 0; i < kAutorunLocationCount; ++i) table[i].scan = RecordVisit;
    // Per-user rows run once per hive; a single hive keeps the count at one visit per row.
    sim.DenyAccess(HKEY_USERS, L".Default", KEY_ALL_ACCESS);

    platform::ComPtr<IZVAutorunScanner> scanner(Tessel::QComObject<Tessel::CZVAutorunScanner>::Create(table.data()));
    g_visited.clear();
    scanner->StartScan(nullptr);
    IZVAutorunItemEx* item = nullptr;
    EXPECT_FALSE(scanner->NextItem(&item));
    ASSERT_EQ(g_visited.size(), kAutorunLocationCount);
    for (size_t i = 0; i < kAutorunLocationCount; ++i) EXPECT_EQ(g_visited[i].id, table[i].id) << "row " << i + 1;
    EXPECT_EQ(g_visited[47].keyPath, table[47].keyPath);
    EXPECT_EQ(table[47].root, HKEY_CURRENT_USER);
    EXPECT_NE(g_visited[47].root, HKEY_CURRENT_USER) << "per-user rows run with the hive as root";
}

}  // namespace
