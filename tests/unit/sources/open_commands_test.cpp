// File-type open commands: the scan through the extension's ProgID and its failures, and the
// restoration of a verb's command with its value types, on the simulated machine and on the real
// one of the Wine prefix (with extensions and ProgIDs of the test's own).
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "locations/routines.h"
#include "scanner/items.h"
#include "sources/open_commands.h"
#include "support/context_helpers.h"
#include "support/machine.h"
#include "support/sim_test.h"
#include "winhelpers/hresult.h"

namespace {

using test::PopAll;
using test::TableRow;

using platform::ComPtr;
using Tessel::CAutorunContext;
using Tessel::LocationRow;
using test::MachineKind;

// A value as stored: type (REG_NONE when absent), text up to its terminator, and size in bytes.
struct Stored {
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD size = 0;
};

Stored ReadStored(HKEY root, const std::wstring& path, const wchar_t* name) {
    Stored value;
    std::vector<wchar_t> buffer(1024, L'\0');
    DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    platform::UniqueHKey key;
    if (platform::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        platform::RegQueryValueExW(key.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer.data()),
                                   &size) != ERROR_SUCCESS)
        return Stored{};
    value.text = buffer.data();
    value.size = size;
    return value;
}

// Expects the value to hold text, terminator included, with the type.
void ExpectString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type) {
    Stored value = ReadStored(root, path, name);
    EXPECT_EQ(value.type, type) << std::string(path.begin(), path.end());
    EXPECT_EQ(value.text, text);
    EXPECT_EQ(value.size, (text.size() + 1) * sizeof(wchar_t));
}

std::wstring CommandPath(const std::wstring& progId, const wchar_t* verb) {
    return progId + L"\\shell\\" + verb + L"\\command";
}

class OpenCommandsTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void SetUp() override {
        static int serial = 0;
        std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++serial);
        extension = L".zv" + unique;
        progId = L"zvfile" + unique;
        otherProgId = L"zvother" + unique;
        app = machine.Root() + L"\\app.exe";
        machine.AddFile(app);
        context->ResetForScan(nullptr);
    }

    void TearDown() override {
        context.reset();
        if (machine.IsReal()) {
            for (const auto& key : {extension, progId, otherProgId}) {
                RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
                RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
            }
        } else {
            EXPECT_EQ(machine.Sim()->OpenHandles(), 0u);
            EXPECT_EQ(machine.Sim()->InvalidCloses(), 0u);
        }
    }

    LocationRow Row(const wchar_t* verb, Tessel::RepairRoutine repair = nullptr) const {
        return LocationRow{
            0x10700020, Tessel::ScanOpenCommand, repair, HKEY_CLASSES_ROOT, extension.c_str(), verb, nullptr, 0, 0};
    }

    void SetCommand(const wchar_t* verb, const std::wstring& command) {
        machine.SetString(HKEY_CLASSES_ROOT, CommandPath(progId, verb), L"", command);
    }

    test::Machine machine{GetParam()};
    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
    std::wstring extension, progId, otherProgId, app;
};

TEST_P(OpenCommandsTest, TheCommandIsReadThroughTheExtensionsProgId) {
    machine.SetString(HKEY_CLASSES_ROOT, extension, L"", progId);
    SetCommand(L"open", L"\"" + app + L"\" \"%1\"");
    machine.SetString(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"IsolatedCommand", L"zvnothing.exe");

    LocationRow open = Row(L"open");
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &open), S_OK);
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->GetId(), 0x10700020u);
    EXPECT_EQ(items[0]->GetLocation(), L"open " + extension);
    ASSERT_EQ(items[0]->GetFileCount(), 1u) << "IsolatedCommand is never read";
    EXPECT_EQ(items[0]->GetFile(0), app);
    ComPtr<IZVAutorunItem_ShlCmd> command;
    ASSERT_EQ(items[0]->QueryInterface(IID_IZVAutorunItem_ShlCmd, command.PutVoid()), S_OK);
    EXPECT_EQ(command->GetExtension(), extension);
    EXPECT_EQ(command->GetProgId(), progId);
    EXPECT_STREQ(command->GetVerb(), L"open");
    EXPECT_EQ(command->GetValueName(), nullptr);
    EXPECT_EQ(command->GetAltValueName(), nullptr);

    LocationRow runas = Row(L"runas");
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &runas), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << "a ProgID without the verb's command key";
    EXPECT_TRUE(PopAll(*context).empty());
}

TEST_P(OpenCommandsTest, EveryStepThatFailsEndsTheScanWithItsError) {
    LocationRow open = Row(L"open");
    auto scan = [&] {
        HRESULT hr = Tessel::ScanOpenCommand(context.get(), &open);
        EXPECT_TRUE(PopAll(*context).empty());
        return hr;
    };
    EXPECT_EQ(scan(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "no extension key";
    machine.AddKey(HKEY_CLASSES_ROOT, extension);
    EXPECT_EQ(scan(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "an extension without a default value";
    machine.SetString(HKEY_CLASSES_ROOT, extension, L"", L"");
    EXPECT_EQ(scan(), S_FALSE) << "an empty ProgID";
    machine.SetString(HKEY_CLASSES_ROOT, extension, L"", progId);
    EXPECT_EQ(scan(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "no command key";
    machine.SetValue(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"", REG_DWORD, {1, 0, 0, 0});
    EXPECT_EQ(scan(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << "a command that is not a string";
    SetCommand(L"open", L"");
    EXPECT_EQ(scan(), S_OK) << "an empty command is read, and makes no item";
}

TEST_P(OpenCommandsTest, ACommandKeyThatRefusesWriteAccessFailsTheScan) {
    machine.SetString(HKEY_CLASSES_ROOT, extension, L"", progId);
    SetCommand(L"open", L"\"" + app + L"\" \"%1\"");
    const std::wstring commandPath = CommandPath(progId, L"open");
    HKEY key = nullptr;
    if (auto* sim = machine.Sim()) {
        sim->DenyAccess(HKEY_CLASSES_ROOT, commandPath, KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    } else {
        ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, commandPath.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                         nullptr));
        EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
        LocalFree(readOnly);
    }
    LocationRow open = Row(L"open");
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &open), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(PopAll(*context).empty());
    if (key) {
        // Full access again, so the test's keys can be removed.
        PSECURITY_DESCRIPTOR full = nullptr;
        ASSERT_TRUE(
            ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &full, nullptr));
        EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, full), ERROR_SUCCESS);
        LocalFree(full);
        RegCloseKey(key);
    }
}

TEST_P(OpenCommandsTest, RestoringWritesEveryValueWithOneTypeAndCreatesWhatIsMissing) {
    machine.SetString(HKEY_CLASSES_ROOT, extension, L"", otherProgId);
    const LocationRow open = Row(L"open");
    context->AddShellCommand(&open, otherProgId.c_str(), app.c_str());
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 1u);

    const std::wstring command = L"%SystemRoot%\\zv.exe %1", isolated = L"%SystemRoot%\\zv.exe /i %1";
    EXPECT_EQ(
        Tessel::RestoreOpenCommand(items[0].Get(), REG_EXPAND_SZ, progId.c_str(), command.c_str(), isolated.c_str()),
        S_OK);
    ExpectString(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"", command, REG_EXPAND_SZ);
    ExpectString(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"IsolatedCommand", isolated, REG_EXPAND_SZ);
    ExpectString(HKEY_CLASSES_ROOT, extension, L"", progId, REG_EXPAND_SZ);

    EXPECT_EQ(Tessel::RestoreOpenCommand(items[0].Get(), REG_SZ, progId.c_str(), L"\"%1\"", nullptr), S_OK);
    ExpectString(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"", L"\"%1\"", REG_SZ);
    // Left as it was when no isolated command is given.
    ExpectString(HKEY_CLASSES_ROOT, CommandPath(progId, L"open"), L"IsolatedCommand", isolated, REG_EXPAND_SZ);
    ExpectString(HKEY_CLASSES_ROOT, extension, L"", progId, REG_SZ);
}

INSTANTIATE_TEST_SUITE_P(Machines, OpenCommandsTest, ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

// The table's repairs write the Windows defaults of real file types: only on the simulated machine.
class OpenCommandRepairsTest : public test::SimTest {
protected:
    void SetUp() override { context->ResetForScan(nullptr); }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }

    static const LocationRow& TableRow(DWORD id) {
        for (const auto& row : Tessel::kAutorunLocations)
            if (row.id == id) return row;
        static const LocationRow missing{};
        return missing;
    }

    ComPtr<IZVAutorunItemEx> ItemOf(const LocationRow& row, const wchar_t* progId = L"evilfile") {
        context->AddShellCommand(&row, progId, L"C:\\evil.exe \"%1\"");
        auto items = PopAll(*context);
        return items.size() == 1 ? items[0] : nullptr;
    }

    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
    ZV_REPAIR_REQUEST request{sizeof(request), nullptr};
};

TEST_F(OpenCommandRepairsTest, EachRepairWritesItsDefaultsOnMajorVersions5And6) {
    struct Case {
        DWORD id;
        const wchar_t* progId;
        DWORD type;
        const wchar_t* command;
        bool isolated;
    };
    const wchar_t* quoted = L"\"%1\" %*";
    const wchar_t* runas = L"%SystemRoot%\\System32\\cmd.exe /C \"%1\" %*";
    const Case cases[] = {
        {0x10700010, L"exefile", REG_SZ, quoted, true},
        {0x10700011, L"exefile", REG_SZ, quoted, true},
        {0x10700020, L"txtfile", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\notepad.exe %1", false},
        {0x10700050, L"batfile", REG_SZ, quoted, false},
        {0x10700051, L"batfile", REG_EXPAND_SZ, runas, false},
        {0x10700070, L"cmdfile", REG_SZ, quoted, false},
        {0x10700071, L"cmdfile", REG_EXPAND_SZ, runas, false},
        {0x10700080, L"comfile", REG_SZ, quoted, false},
    };
    for (DWORD major : {5u, 6u}) {
        sim.SetVersion(major, 1, major == 5 ? 2600 : 7601);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "major " << major << ", row " << std::hex << c.id);
            const LocationRow& row = TableRow(c.id);
            ASSERT_EQ(row.scan, &Tessel::ScanOpenCommand);
            ASSERT_NE(row.repair, nullptr);
            sim.RemoveKey(HKEY_CLASSES_ROOT, c.progId);
            sim.SetString(HKEY_CLASSES_ROOT, row.keyPath, L"", L"evilfile");
            auto item = ItemOf(row);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->Repair(&request), S_OK);
            const std::wstring commandPath = CommandPath(c.progId, row.subkey);
            ExpectString(HKEY_CLASSES_ROOT, commandPath, L"", c.command, c.type);
            if (c.isolated && major >= 6)
                ExpectString(HKEY_CLASSES_ROOT, commandPath, L"IsolatedCommand", c.command, c.type);
            else
                EXPECT_FALSE(sim.HasValue(HKEY_CLASSES_ROOT, commandPath, L"IsolatedCommand"));
            ExpectString(HKEY_CLASSES_ROOT, row.keyPath, L"", c.progId, c.type);
        }
    }
    writesExpected = true;
}

TEST_F(OpenCommandRepairsTest, ArgumentsThatCannotBeRestoredWriteNothing) {
    const LocationRow& exeOpen = TableRow(0x10700010);
    auto item = ItemOf(exeOpen);
    ASSERT_TRUE(item);
    EXPECT_EQ(Tessel::RestoreOpenCommand(nullptr, REG_SZ, L"exefile", L"x", nullptr), E_POINTER);
    EXPECT_EQ(Tessel::RestoreOpenCommand(item.Get(), REG_SZ, L"exefile", nullptr, nullptr), E_POINTER);
    EXPECT_EQ(Tessel::RestoreOpenCommand(item.Get(), REG_SZ, nullptr, L"x", nullptr), E_INVALIDARG);
    EXPECT_EQ(Tessel::RestoreOpenCommand(item.Get(), REG_SZ, L"", L"x", nullptr), E_INVALIDARG);
    EXPECT_EQ(Tessel::RestoreOpenCommand(item.Get(), REG_SZ, L"exefile", L"", nullptr), E_INVALIDARG);

    const LocationRow noVerb{0x10700010,
                             Tessel::ScanOpenCommand,
                             Tessel::RepairExefileCommand,
                             HKEY_CLASSES_ROOT,
                             L".exe",
                             nullptr,
                             nullptr,
                             0,
                             0};
    auto verbless = ItemOf(noVerb);
    ASSERT_TRUE(verbless);
    EXPECT_EQ(verbless->Repair(&request), E_INVALIDARG);

    context->AddIniCommand(&exeOpen, L"D:\\Autorun.inf", L"AutoRun", L"Open", L"x.exe");
    auto ini = PopAll(*context);
    ASSERT_EQ(ini.size(), 1u);
    EXPECT_EQ(ini[0]->Repair(&request), E_NOINTERFACE);
    EXPECT_EQ(Tessel::RepairTxtfileCommand(nullptr, nullptr), E_POINTER);
}

TEST_F(OpenCommandRepairsTest, ARepairThatFailsHalfWayKeepsWhatItWrote) {
    const LocationRow& txtOpen = TableRow(0x10700020);
    sim.SetString(HKEY_CLASSES_ROOT, L".txt", L"", L"evilfile");
    sim.SetString(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", L"", L"evil.exe %1");
    auto item = ItemOf(txtOpen);
    ASSERT_TRUE(item);

    sim.DenyAccess(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", KEY_SET_VALUE);
    EXPECT_EQ(item->Repair(&request), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim.Writes(), 0u);
    sim.DenyAccess(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", 0);

    sim.DenyAccess(HKEY_CLASSES_ROOT, L".txt", KEY_SET_VALUE);
    EXPECT_EQ(item->Repair(&request), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ExpectString(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", L"", L"%SystemRoot%\\System32\\notepad.exe %1",
                 REG_EXPAND_SZ);
    ExpectString(HKEY_CLASSES_ROOT, L".txt", L"", L"evilfile", REG_SZ);
    writesExpected = true;
}

TEST_F(OpenCommandRepairsTest, TheScanReadsTheClassesWhateverRootTheRowNames) {
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), nullptr), E_POINTER);
    const LocationRow noExtension{
        0x10700010, Tessel::ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L"", L"open", nullptr, 0, 0};
    const LocationRow noVerb{
        0x10700010, Tessel::ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".exe", nullptr, nullptr, 0, 0};
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &noExtension), E_INVALIDARG);
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &noVerb), E_INVALIDARG);

    sim.SetString(HKEY_CLASSES_ROOT, L".exe", L"", L"exefile");
    sim.SetString(HKEY_CLASSES_ROOT, L"exefile\\shell\\open\\command", L"", L"\"%1\" %*");
    sim.SetString(HKEY_CURRENT_USER, L"Software\\Classes\\.exe", L"", L"userfile");
    const LocationRow userRoot{
        0x10700010, Tessel::ScanOpenCommand, nullptr, HKEY_CURRENT_USER, L".exe", L"open", nullptr, 1, 0};
    EXPECT_EQ(Tessel::ScanOpenCommand(context.get(), &userRoot), S_OK);
    auto items = PopAll(*context);
    ASSERT_EQ(items.size(), 1u);
    ComPtr<IZVAutorunItem_ShlCmd> command;
    ASSERT_EQ(items[0]->QueryInterface(IID_IZVAutorunItem_ShlCmd, command.PutVoid()), S_OK);
    EXPECT_STREQ(command->GetProgId(), L"exefile");
    EXPECT_EQ(items[0]->GetFileCount(), 0u) << "\"%1\" names no file";
}

TEST_F(OpenCommandRepairsTest, ValueWriterAndClassKeyCreator) {
    platform::UniqueHKey key;
    ASSERT_EQ(Tessel::CreateClassesKey(L"zvfile\\shell\\open\\command", key), ERROR_SUCCESS);
    EXPECT_TRUE(sim.HasKey(HKEY_CLASSES_ROOT, L"zvfile\\shell\\open\\command"));
    EXPECT_EQ(Tessel::WriteStringValue(key.get(), L"Name", L"abc", REG_EXPAND_SZ), ERROR_SUCCESS);
    ExpectString(HKEY_CLASSES_ROOT, L"zvfile\\shell\\open\\command", L"Name", L"abc", REG_EXPAND_SZ);
    EXPECT_THROW(Tessel::WriteStringValue(key.get(), L"Name", nullptr, REG_SZ), std::exception);
    HRESULT caught = S_OK;
    try {
        Tessel::WriteStringValue(key.get(), nullptr, nullptr, REG_SZ);
    } catch (...) {
        caught = Basalt::HResultFromCaughtException();
    }
    EXPECT_EQ(caught, E_FAIL);

    sim.DenyAccess(HKEY_CLASSES_ROOT, L"zvfile", KEY_SET_VALUE);
    platform::UniqueHKey refused;
    EXPECT_EQ(Tessel::CreateClassesKey(L"zvfile", refused), ERROR_ACCESS_DENIED) << "opened for writing";
    EXPECT_FALSE(refused);
    writesExpected = true;
}

}  // namespace
