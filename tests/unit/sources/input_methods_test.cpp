// Input methods: the preload walk and its gaps, the layouts' module files, and the repair that takes
// one layout out of the list, on the simulated machine and on the real one of the Wine prefix.
#include <gtest/gtest.h>

#include <cwctype>
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

const wchar_t kLayoutsPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

const LocationRow& InputMethodRow() {
    for (const auto& row : Tessel::kAutorunLocations)
        if (row.id == 0x10600001) return row;
    static const LocationRow missing{};
    return missing;
}

ComPtr<IZVAutorunItem_Ime> ImeOf(const ComPtr<IZVAutorunItemEx>& item) {
    ComPtr<IZVAutorunItem_Ime> ime;
    EXPECT_EQ(item->QueryInterface(IID_IZVAutorunItem_Ime, ime.PutVoid()), S_OK);
    return ime;
}

// A value as stored: its type (REG_NONE when absent) and its text.
struct Stored {
    DWORD type = REG_NONE;
    std::wstring text;
    bool operator==(const Stored& other) const { return type == other.type && text == other.text; }
};
std::ostream& operator<<(std::ostream& out, const Stored& value) {
    return out << value.type << ":" << std::string(value.text.begin(), value.text.end());
}

// The preload list of a user hive of this test's own: a private key of the machine stands in for
// the hive, and the layouts it names are created under HKLM with names of this test's own.
class InputMethodsTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void SetUp() override {
        static int serial = 0;
        unique = L"zv" + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++serial);
        preloadPath = machine.TestKey() + L"\\Keyboard Layout\\Preload";
        machine.AddKey(HKEY_CURRENT_USER, machine.TestKey());
        HKEY key = nullptr;
        ASSERT_EQ(platform::RegOpenKeyExW(HKEY_CURRENT_USER, machine.TestKey().c_str(), 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        hive.reset(key);
        row.root = hive.get();
        imeFile = machine.Root() + L"\\zv.ime";
        layoutFile = machine.Root() + L"\\kbdzv.dll";
        machine.AddFile(imeFile);
        machine.AddFile(layoutFile);
        context->ResetForScan(nullptr);
    }

    void TearDown() override {
        context.reset();
        hive.reset();
        if (machine.IsReal()) {
            for (const auto& layout : layouts) RegDeleteKeyW(HKEY_LOCAL_MACHINE, LayoutPath(layout).c_str());
            // Only an empty layouts key goes (a fresh Wine prefix has none): one that still holds layouts
            // belongs to the system or to another test.
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kLayoutsPath);
        } else {
            EXPECT_EQ(machine.Sim()->OpenHandles(), 0u);
            EXPECT_EQ(machine.Sim()->InvalidCloses(), 0u);
        }
    }

    static std::wstring LayoutPath(const std::wstring& layout) { return std::wstring(kLayoutsPath) + L"\\" + layout; }

    // A layout of this test's own, with the module values given (empty: not set).
    std::wstring AddLayout(const wchar_t* suffix, const std::wstring& ime, const std::wstring& file) {
        std::wstring layout = unique + suffix;
        layouts.push_back(layout);
        machine.AddKey(HKEY_LOCAL_MACHINE, LayoutPath(layout));
        if (!ime.empty()) machine.SetString(HKEY_LOCAL_MACHINE, LayoutPath(layout), L"Ime File", ime);
        if (!file.empty()) machine.SetString(HKEY_LOCAL_MACHINE, LayoutPath(layout), L"Layout File", file);
        return layout;
    }

    void SetPreload(const wchar_t* number, const std::wstring& layout, DWORD type = REG_SZ) {
        machine.SetString(HKEY_CURRENT_USER, preloadPath, number, layout, type);
    }

    Stored Preload(const wchar_t* number) {
        Stored value;
        wchar_t buffer[512] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        platform::UniqueHKey key;
        if (platform::RegOpenKeyExW(HKEY_CURRENT_USER, preloadPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
                ERROR_SUCCESS &&
            platform::RegQueryValueExW(key.get(), number, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer),
                                       &size) == ERROR_SUCCESS)
            value.text = buffer;
        return value;
    }

    std::vector<ComPtr<IZVAutorunItemEx>> Scan(HRESULT expected = S_OK) {
        EXPECT_EQ(Tessel::ScanInputMethods(context.get(), &row), expected);
        return PopAll(*context);
    }

    // The real machine keeps no count of writes.
    void ExpectWrites(size_t count) {
        if (auto* sim = machine.Sim()) {
            EXPECT_EQ(sim->Writes(), count);
        }
    }

    test::Machine machine{GetParam()};
    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
    platform::UniqueHKey hive;
    LocationRow row = InputMethodRow();
    std::wstring unique, preloadPath, imeFile, layoutFile;
    std::vector<std::wstring> layouts;
    ZV_REPAIR_REQUEST request{sizeof(request), nullptr};
};

TEST_P(InputMethodsTest, LayoutsAreReadUpToTheFirstGapAndThoseWithoutASubkeyArePassedOver) {
    std::wstring withIme = AddLayout(L"a", imeFile, layoutFile);
    std::wstring layoutOnly = AddLayout(L"b", L"", layoutFile);
    std::wstring afterGap = AddLayout(L"c", imeFile, layoutFile);
    SetPreload(L"1", withIme);
    SetPreload(L"2", unique + L"none");
    SetPreload(L"3", layoutOnly, REG_EXPAND_SZ);
    machine.SetValue(HKEY_CURRENT_USER, preloadPath, L"4", REG_DWORD, {1, 0, 0, 0});
    SetPreload(L"5", afterGap);

    auto items = Scan();
    ASSERT_EQ(items.size(), 2u) << "2 has no layout key; 4 is not a string and ends the list before 5";

    auto first = ImeOf(items[0]);
    EXPECT_EQ(items[0]->GetId(), 0x10600001u);
    EXPECT_STREQ(items[0]->GetLocation(), L"HKCU\\Keyboard Layout\\Preload\\[1]");
    EXPECT_EQ(first->GetRootKey(), hive.get()) << "the root the scan was given";
    EXPECT_EQ(first->GetPreloadIndex(), 1u);
    EXPECT_STREQ(first->GetLayoutId(), withIme.c_str());
    ASSERT_EQ(items[0]->GetFileCount(), 2u);
    EXPECT_EQ(items[0]->GetFile(0), imeFile);
    EXPECT_EQ(items[0]->GetFile(1), layoutFile);

    auto second = ImeOf(items[1]);
    EXPECT_STREQ(items[1]->GetLocation(), L"HKCU\\Keyboard Layout\\Preload\\[3]");
    EXPECT_EQ(second->GetPreloadIndex(), 3u);
    EXPECT_STREQ(second->GetLayoutId(), layoutOnly.c_str());
    ASSERT_EQ(items[1]->GetFileCount(), 1u) << "no input-method module";
    EXPECT_EQ(items[1]->GetFile(0), layoutFile);
}

TEST_P(InputMethodsTest, AHiveWithoutAPreloadListFailsItsScan) {
    AddLayout(L"a", imeFile, layoutFile);
    EXPECT_TRUE(Scan(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).empty());
    machine.AddKey(HKEY_CURRENT_USER, preloadPath);
    EXPECT_TRUE(Scan(S_OK).empty()) << "an empty list";
}

TEST_P(InputMethodsTest, RemovingEntryTwoOfFourMovesTheLaterOnesDownAsPlainStrings) {
    std::wstring a = AddLayout(L"a", imeFile, L""), b = AddLayout(L"b", imeFile, L"");
    std::wstring c = AddLayout(L"c", L"", layoutFile), d = AddLayout(L"d", L"", layoutFile);
    SetPreload(L"1", a);
    SetPreload(L"2", b);
    SetPreload(L"3", c, REG_EXPAND_SZ);
    SetPreload(L"4", d);
    auto items = Scan();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_TRUE(items[1]->CanRepair());

    EXPECT_EQ(items[1]->Repair(&request), S_OK);
    EXPECT_EQ(Preload(L"1"), (Stored{REG_SZ, a}));
    EXPECT_EQ(Preload(L"2"), (Stored{REG_SZ, c})) << "written as REG_SZ although stored as REG_EXPAND_SZ";
    EXPECT_EQ(Preload(L"3"), (Stored{REG_SZ, d}));
    EXPECT_EQ(Preload(L"4"), Stored{}) << "the last number goes";
    ExpectWrites(3);

    EXPECT_EQ(items[3]->Repair(&request), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "its number is gone";

    auto rescanned = Scan();
    ASSERT_EQ(rescanned.size(), 3u);
    EXPECT_EQ(rescanned[2]->Repair(&request), S_OK) << "the last entry";
    EXPECT_EQ(Preload(L"1"), (Stored{REG_SZ, a}));
    EXPECT_EQ(Preload(L"2"), (Stored{REG_SZ, c}));
    EXPECT_EQ(Preload(L"3"), Stored{});
    ExpectWrites(4);
}

TEST_P(InputMethodsTest, AListChangedSinceTheScanIsLeftAloneUnlessOnlyTheCaseDiffers) {
    std::wstring a = AddLayout(L"a", imeFile, L""), b = AddLayout(L"b", imeFile, L"");
    std::wstring c = AddLayout(L"c", imeFile, L"");
    SetPreload(L"1", a);
    SetPreload(L"2", b);
    SetPreload(L"3", c);
    auto items = Scan();
    ASSERT_EQ(items.size(), 3u);

    SetPreload(L"2", c);
    EXPECT_EQ(items[1]->Repair(&request), S_FALSE);
    EXPECT_EQ(Preload(L"2"), (Stored{REG_SZ, c}));
    EXPECT_EQ(Preload(L"3"), (Stored{REG_SZ, c}));
    ExpectWrites(0);

    std::wstring upper = b;
    for (auto& ch : upper) ch = static_cast<wchar_t>(towupper(ch));
    ASSERT_NE(upper, b);
    SetPreload(L"2", upper);
    EXPECT_EQ(items[1]->Repair(&request), S_OK);
    EXPECT_EQ(Preload(L"1"), (Stored{REG_SZ, a}));
    EXPECT_EQ(Preload(L"2"), (Stored{REG_SZ, c}));
    EXPECT_EQ(Preload(L"3"), Stored{});
}

INSTANTIATE_TEST_SUITE_P(Machines, InputMethodsTest, ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

// What only the simulated machine can hold: its own layouts key, every user hive, refusals.
class InputMethodsSimTest : public test::ContextTest {
protected:
    ZV_REPAIR_REQUEST request{sizeof(request), nullptr};
};

TEST_F(InputMethodsSimTest, TheRowIsScannedInEveryUserHiveAndRepairedInItsOwn) {
    const LocationRow& row = InputMethodRow();
    EXPECT_EQ(row.scan, &Tessel::ScanInputMethods);
    EXPECT_EQ(row.repair, &Tessel::RepairInputMethod);
    EXPECT_EQ(row.root, HKEY_CURRENT_USER);

    sim.SetString(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsPath) + L"\\00000409", L"Layout File", L"kbdus.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsPath) + L"\\E0010411", L"Ime File", L"imjp.ime");
    sim.SetString(HKEY_USERS, L".Default\\Keyboard Layout\\Preload", L"1", L"00000409");
    const std::wstring userPreload =
        std::wstring(platform::SimulatedBackend::kCurrentUserSid) + L"\\Keyboard Layout\\Preload";
    sim.SetString(HKEY_USERS, userPreload, L"1", L"E0010411");
    sim.SetString(HKEY_USERS, userPreload, L"2", L"00000409");

    ASSERT_TRUE(context->RunRow(&row));
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 3u);
    std::vector<HKEY> roots;
    for (auto& item : items) {
        HKEY root = ImeOf(item)->GetRootKey();
        EXPECT_NE(root, HKEY_CURRENT_USER) << "the hive's own handle";
        EXPECT_TRUE(context->FindUserHive(root));
        roots.push_back(root);
    }
    EXPECT_EQ(roots[0], context->UserHives()[0]->key.get());

    // The .Default item's repair changes .Default only.
    EXPECT_EQ(items[0]->Repair(&request), S_OK);
    EXPECT_FALSE(sim.HasValue(HKEY_USERS, L".Default\\Keyboard Layout\\Preload", L"1"));
    EXPECT_TRUE(sim.HasValue(HKEY_USERS, userPreload, L"1"));
    EXPECT_TRUE(sim.HasValue(HKEY_USERS, userPreload, L"2"));
    writesExpected = true;
}

TEST_F(InputMethodsSimTest, ScanAndRepairFailures) {
    Tessel::LocationRow row = InputMethodRow();
    sim.SetString(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", L"1", L"00000409");
    sim.SetString(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", L"2", L"");
    EXPECT_EQ(Tessel::ScanInputMethods(context.get(), &row), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << "no layouts key";
    EXPECT_FALSE(context->PopItem(nullptr));

    sim.SetString(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsPath) + L"\\00000409", L"Layout File", L"kbdus.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, kLayoutsPath, L"Layout File", L"kbdzv.dll");
    EXPECT_EQ(Tessel::ScanInputMethods(context.get(), &row), S_OK);
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 1u) << "an empty identifier names no layout, not the layouts key itself";

    EXPECT_EQ(Tessel::RepairInputMethod(nullptr, nullptr), E_POINTER);
    const LocationRow openRow{
        0x10700010, Tessel::ScanOpenCommand, Tessel::RepairInputMethod, HKEY_CLASSES_ROOT, L".exe", L"open", nullptr, 0,
        0};
    context->AddShellCommand(&openRow, L"exefile", L"x.exe");
    auto other = PopAll(*context);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0]->Repair(&request), E_NOINTERFACE);

    sim.DenyAccess(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", KEY_SET_VALUE);
    EXPECT_EQ(items[0]->Repair(&request), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "opened for all access";
    EXPECT_TRUE(sim.HasValue(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", L"1"));
}

}  // namespace
