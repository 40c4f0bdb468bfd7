// Drive autorun files: which drives are read and in what order of calls, what the AutoRun section
// gives, and the deletion of the file by its items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "locations/routines.h"
#include "scanner/items.h"
#include "sources/drive_autorun.h"
#include "support/machine.h"
#include "support/sim_test.h"

namespace {

using platform::ComPtr;
using Tessel::CAutorunContext;
using Tessel::LocationRow;

const LocationRow& DriveAutorunRow() {
    for (const auto& row : Tessel::kAutorunLocations)
        if (row.id == 0x10500001) return row;
    static const LocationRow missing{};
    return missing;
}

// What the scan asked the system, in order, with the error mode in force at the time.
struct Call {
    std::string name;
    std::wstring argument;
    UINT errorMode;
};

// Passes every call to the simulated machine and records those that touch drives and files.
class RecordingBackend final : public platform::Backend {
public:
    explicit RecordingBackend(platform::SimulatedBackend& sim) : sim_(sim) {}

    std::vector<Call> calls;
    DWORD volumeAccess = 0, volumeShare = 0;

#define ZV_FORWARD(ret, name, params, args) \
    ret name params override { return sim_.name args; }
    ZV_FORWARD(LSTATUS, RegOpenKeyExW, (HKEY k, LPCWSTR s, DWORD o, REGSAM a, PHKEY r), (k, s, o, a, r))
    ZV_FORWARD(LSTATUS, RegCreateKeyExW,
               (HKEY k, LPCWSTR s, DWORD r, LPWSTR c, DWORD o, REGSAM a, const SECURITY_ATTRIBUTES* sa, PHKEY res,
                LPDWORD d),
               (k, s, r, c, o, a, sa, res, d))
    ZV_FORWARD(LSTATUS, RegEnumKeyW, (HKEY k, DWORD i, LPWSTR n, DWORD c), (k, i, n, c))
    ZV_FORWARD(LSTATUS, RegEnumKeyExW,
               (HKEY k, DWORD i, LPWSTR n, LPDWORD c, LPDWORD r, LPWSTR cl, LPDWORD cc, PFILETIME t),
               (k, i, n, c, r, cl, cc, t))
    ZV_FORWARD(LSTATUS, RegEnumValueW,
               (HKEY k, DWORD i, LPWSTR n, LPDWORD c, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD ds),
               (k, i, n, c, r, t, d, ds))
    ZV_FORWARD(LSTATUS, RegQueryInfoKeyW,
               (HKEY k, LPWSTR cl, LPDWORD cc, LPDWORD r, LPDWORD sk, LPDWORD msk, LPDWORD mc, LPDWORD v, LPDWORD mvn,
                LPDWORD mv, LPDWORD sd, PFILETIME t),
               (k, cl, cc, r, sk, msk, mc, v, mvn, mv, sd, t))
    ZV_FORWARD(LSTATUS, RegQueryValueExW, (HKEY k, LPCWSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD ds),
               (k, n, r, t, d, ds))
    ZV_FORWARD(LSTATUS, RegSetValueExW, (HKEY k, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD ds),
               (k, n, r, t, d, ds))
    ZV_FORWARD(LSTATUS, RegDeleteValueW, (HKEY k, LPCWSTR n), (k, n))
    ZV_FORWARD(LSTATUS, SHDeleteKeyW, (HKEY k, LPCWSTR s), (k, s))
    ZV_FORWARD(LSTATUS, RegCloseKey, (HKEY k), (k))
    ZV_FORWARD(HANDLE, FindFirstFileW, (LPCWSTR p, LPWIN32_FIND_DATAW d), (p, d))
    ZV_FORWARD(BOOL, FindNextFileW, (HANDLE f, LPWIN32_FIND_DATAW d), (f, d))
    ZV_FORWARD(BOOL, FindClose, (HANDLE f), (f))
    ZV_FORWARD(BOOL, CloseHandle, (HANDLE h), (h))
    ZV_FORWARD(UINT, GetPrivateProfileIntW, (LPCWSTR s, LPCWSTR k, INT d, LPCWSTR f), (s, k, d, f))
    ZV_FORWARD(UINT, GetSystemDirectoryW, (LPWSTR b, UINT c), (b, c))
    ZV_FORWARD(UINT, GetWindowsDirectoryW, (LPWSTR b, UINT c), (b, c))
    ZV_FORWARD(DWORD, ExpandEnvironmentStringsW, (LPCWSTR s, LPWSTR b, DWORD c), (s, b, c))
    ZV_FORWARD(DWORD, GetFullPathNameW, (LPCWSTR p, DWORD c, LPWSTR b, LPWSTR* f), (p, c, b, f))
    ZV_FORWARD(DWORD, GetLongPathNameW, (LPCWSTR s, LPWSTR b, DWORD c), (s, b, c))
    ZV_FORWARD(BOOL, GetVersionExW, (LPOSVERSIONINFOW i), (i))
    ZV_FORWARD(DWORD, GetModuleFileNameW, (HMODULE m, LPWSTR b, DWORD c), (m, b, c))
    ZV_FORWARD(int, MultiByteToWideChar, (UINT cp, DWORD f, LPCCH t, int s, LPWSTR b, int c), (cp, f, t, s, b, c))
    ZV_FORWARD(void, OutputDebugStringW, (LPCWSTR t), (t))
    ZV_FORWARD(DWORD, GetLastError, (), ())
    ZV_FORWARD(void, SetLastError, (DWORD e), (e))
    ZV_FORWARD(BOOL, SHGetSpecialFolderPathW, (HWND o, LPWSTR b, int c, BOOL cr), (o, b, c, cr))
    ZV_FORWARD(HRESULT, CoCreateInstance, (REFCLSID c, LPUNKNOWN o, DWORD x, REFIID i, LPVOID* p), (c, o, x, i, p))
    ZV_FORWARD(HRESULT, CoInitializeSecurity,
               (PSECURITY_DESCRIPTOR s, LONG n, SOLE_AUTHENTICATION_SERVICE* a, void* r1, DWORD al, DWORD il, void* l,
                DWORD c, void* r3),
               (s, n, a, r1, al, il, l, c, r3))
    ZV_FORWARD(void, CoTaskMemFree, (LPVOID m), (m))
    ZV_FORWARD(BSTR, SysAllocString, (const OLECHAR* t), (t))
    ZV_FORWARD(void, SysFreeString, (BSTR t), (t))
#undef ZV_FORWARD

    DWORD GetFileAttributesW(LPCWSTR path) override {
        Record("GetFileAttributesW", path);
        return sim_.GetFileAttributesW(path);
    }
    BOOL DeleteFileW(LPCWSTR path) override {
        Record("DeleteFileW", path);
        return sim_.DeleteFileW(path);
    }
    UINT GetDriveTypeW(LPCWSTR root) override {
        Record("GetDriveTypeW", root);
        return sim_.GetDriveTypeW(root);
    }
    UINT SetErrorMode(UINT mode) override {
        Record("SetErrorMode", std::to_wstring(mode).c_str());
        return sim_.SetErrorMode(mode);
    }
    HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        Record("CreateFileW", path);
        volumeAccess = access;
        volumeShare = share;
        EXPECT_EQ(disposition, static_cast<DWORD>(OPEN_EXISTING));
        return sim_.CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                         LPDWORD returned, LPOVERLAPPED overlapped) override {
        Record("DeviceIoControl", std::to_wstring(code).c_str());
        return sim_.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    }
    DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD capacity,
                                   LPCWSTR file) override {
        Record("GetPrivateProfileStringW", (std::wstring(file) + L"|" + key).c_str());
        EXPECT_EQ(capacity, 260u);
        return sim_.GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity, file);
    }

    // The calls whose argument begins with the drive letter (or names its volume).
    std::vector<std::string> CallsOnDrive(wchar_t letter) const {
        std::vector<std::string> names;
        for (const auto& call : calls) {
            const std::wstring& a = call.argument;
            bool volume = a.size() == 6 && a.rfind(L"\\\\?\\", 0) == 0 && a[4] == letter;
            if ((!a.empty() && a[0] == letter && a.size() > 1 && a[1] == L':') || volume) names.push_back(call.name);
        }
        return names;
    }

private:
    void Record(const char* name, LPCWSTR argument) {
        calls.push_back(Call{name, argument ? argument : L"", sim_.ErrorMode()});
    }

    platform::SimulatedBackend& sim_;
};

class DriveAutorunTest : public test::SimTest {
protected:
    void SetUp() override { context->ResetForScan(nullptr); }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }

    HRESULT Scan() { return Tessel::ScanDriveAutorun(context.get(), &DriveAutorunRow()); }

    // The items the scan queued, oldest first.
    std::vector<ComPtr<IZVAutorunItemEx>> Items() {
        std::vector<ComPtr<IZVAutorunItemEx>> items;
        IZVAutorunItemEx* item = nullptr;
        while (context->PopItem(&item)) items.push_back(ComPtr<IZVAutorunItemEx>::Attach(item));
        return items;
    }

    static ComPtr<IZVAutorunItem_Ini> IniOf(const ComPtr<IZVAutorunItemEx>& item) {
        ComPtr<IZVAutorunItem_Ini> ini;
        EXPECT_EQ(item->QueryInterface(IID_IZVAutorunItem_Ini, ini.PutVoid()), S_OK);
        return ini;
    }

    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
};

TEST_F(DriveAutorunTest, TheRowNamesTheScanAndTheRepair) {
    const LocationRow& row = DriveAutorunRow();
    EXPECT_EQ(row.scan, &Tessel::ScanDriveAutorun);
    EXPECT_EQ(row.repair, &Tessel::RepairDriveAutorun);
    EXPECT_EQ(row.root, nullptr);
}

TEST_F(DriveAutorunTest, OpenThenShellExecuteOfOneFileAndNoOtherKey) {
    sim.SetDrive(L'D', DRIVE_REMOVABLE, true);
    sim.AddFile(L"D:\\run.exe");
    sim.AddFile(L"D:\\setup.exe");
    sim.AddFile(L"D:\\Autorun.inf",
                "[autorun]\r\nshellexecute = \"D:\\setup.exe\" /auto\r\nicon=run.exe,0\r\nOpen=run.exe -x\r\n");
    EXPECT_EQ(Scan(), S_OK);
    auto items = Items();
    ASSERT_EQ(items.size(), 2u);

    auto open = IniOf(items[0]);
    EXPECT_EQ(items[0]->GetId(), 0x10500001u);
    EXPECT_STREQ(items[0]->GetLocation(), L"D:\\Autorun.inf");
    EXPECT_STREQ(open->GetIniPath(), L"D:\\Autorun.inf");
    EXPECT_STREQ(open->GetSection(), L"AutoRun");
    EXPECT_STREQ(open->GetKeyName(), L"Open");
    EXPECT_STREQ(open->GetValue(), L"run.exe -x");
    ASSERT_EQ(items[0]->GetFileCount(), 1u);
    EXPECT_STREQ(items[0]->GetFile(0), L"D:\\run.exe") << "a bare name is looked for beside the file first";

    auto shellExecute = IniOf(items[1]);
    EXPECT_STREQ(shellExecute->GetKeyName(), L"ShellExecute");
    EXPECT_STREQ(shellExecute->GetValue(), L"\"D:\\setup.exe\" /auto");
    ASSERT_EQ(items[1]->GetFileCount(), 1u);
    EXPECT_STREQ(items[1]->GetFile(0), L"D:\\setup.exe");
}

TEST_F(DriveAutorunTest, EmptyValuesGiveNothingAndLongValuesAreCut) {
    const std::string longValue = "C:\\" + std::string(300, 'a') + ".exe";
    sim.AddFile(L"C:\\Autorun.inf", "[AutoRun]\nopen=\nShellExecute=" + longValue + "\n");
    sim.SetDrive(L'E', DRIVE_FIXED, true);
    sim.AddFile(L"E:\\Autorun.inf", "[AutoRun]\nOpen=   \n[Other]\nShellExecute=x.exe\n");
    EXPECT_EQ(Scan(), S_OK);
    auto items = Items();
    ASSERT_EQ(items.size(), 1u) << "no item for empty values or keys of other sections";
    std::wstring value = IniOf(items[0])->GetValue();
    EXPECT_EQ(value.size(), 259u);
    EXPECT_EQ(value, std::wstring(longValue.begin(), longValue.begin() + 259));
}

TEST_F(DriveAutorunTest, OnlyDrivesCToZThatAreNotCdRomsAreRead) {
    const std::string contents = "[AutoRun]\nopen=x.exe\n";
    struct Drive {
        wchar_t letter;
        UINT type;
        bool reported;
    };
    const Drive drives[] = {{L'A', DRIVE_REMOVABLE, false}, {L'B', DRIVE_REMOVABLE, false}, {L'F', DRIVE_CDROM, false},
                            {L'G', DRIVE_UNKNOWN, false},   {L'H', DRIVE_REMOTE, true},     {L'I', DRIVE_RAMDISK, true},
                            {L'Z', DRIVE_FIXED, true}};
    for (const auto& drive : drives) {
        sim.SetDrive(drive.letter, drive.type, true);
        sim.AddFile(std::wstring{drive.letter} + L":\\Autorun.inf", contents);
    }
    RecordingBackend recorder(sim);
    {
        platform::ScopedBackend scope(recorder);
        EXPECT_EQ(Scan(), S_OK);
    }
    std::vector<std::wstring> locations;
    for (auto& item : Items()) locations.push_back(item->GetLocation());
    EXPECT_EQ(locations, (std::vector<std::wstring>{L"H:\\Autorun.inf", L"I:\\Autorun.inf", L"Z:\\Autorun.inf"}));

    std::vector<std::wstring> typed;
    for (const auto& call : recorder.calls)
        if (call.name == "GetDriveTypeW") typed.push_back(call.argument);
    ASSERT_EQ(typed.size(), 24u) << "every letter from C to Z, in order";
    EXPECT_EQ(typed.front(), L"C:\\");
    EXPECT_EQ(typed.back(), L"Z:\\");
    for (wchar_t letter : {L'A', L'B'}) EXPECT_TRUE(recorder.CallsOnDrive(letter).empty());
    for (wchar_t letter : {L'F', L'G'})
        EXPECT_EQ(recorder.CallsOnDrive(letter), std::vector<std::string>{"GetDriveTypeW"}) << char(letter);
}

TEST_F(DriveAutorunTest, ADriveWithoutMediaIsNeverTouchedAndNoErrorBoxCanShow) {
    sim.SetDrive(L'D', DRIVE_REMOVABLE, true);
    sim.AddFile(L"D:\\Autorun.inf", "[AutoRun]\nopen=x.exe\n");
    sim.SetDrive(L'E', DRIVE_REMOVABLE, false);
    sim.AddFile(L"E:\\Autorun.inf", "[AutoRun]\nopen=x.exe\n");
    sim.SetErrorMode(SEM_NOGPFAULTERRORBOX);
    // No probes while resolving: the calls recorded are the walk's own.
    ZV_SCAN_SETTINGS skipProbe{sizeof(skipProbe), ZV_SCAN_SKIP_PROBE, {}};
    context->ResetForScan(&skipProbe);

    RecordingBackend recorder(sim);
    {
        platform::ScopedBackend scope(recorder);
        EXPECT_EQ(Scan(), S_OK);
    }
    auto items = Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_STREQ(items[0]->GetLocation(), L"D:\\Autorun.inf");

    EXPECT_EQ(recorder.CallsOnDrive(L'E'), (std::vector<std::string>{"GetDriveTypeW", "CreateFileW"}))
        << "the media check fails before any file-system call";
    EXPECT_EQ(recorder.CallsOnDrive(L'D'),
              (std::vector<std::string>{"GetDriveTypeW", "CreateFileW", "GetFileAttributesW",
                                        "GetPrivateProfileStringW", "GetPrivateProfileStringW"}));
    EXPECT_EQ(recorder.volumeAccess, static_cast<DWORD>(GENERIC_READ));
    EXPECT_EQ(recorder.volumeShare, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));

    ASSERT_GE(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls.front().name, "SetErrorMode");
    EXPECT_EQ(recorder.calls.front().argument, std::to_wstring(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    for (size_t i = 1; i + 1 < recorder.calls.size(); ++i)
        EXPECT_EQ(recorder.calls[i].errorMode, static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX))
            << recorder.calls[i].name;
    EXPECT_EQ(recorder.calls.back().name, "SetErrorMode");
    EXPECT_EQ(sim.ErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX)) << "the caller's mode is back";
}

TEST_F(DriveAutorunTest, TheSecondItemOfADeletedFileRepairsToSuccess) {
    sim.SetDrive(L'D', DRIVE_REMOVABLE, true);
    sim.AddFile(L"D:\\Autorun.inf", "[AutoRun]\nopen=a.exe\nShellExecute=b.exe\n");
    sim.AddFile(L"D:\\keep.txt");
    ASSERT_EQ(Scan(), S_OK);
    auto items = Items();
    ASSERT_EQ(items.size(), 2u);
    ZV_REPAIR_REQUEST request{sizeof(request), nullptr};
    EXPECT_TRUE(items[1]->CanRepair());
    EXPECT_EQ(items[1]->Repair(&request), S_OK);
    EXPECT_FALSE(sim.Exists(L"D:\\Autorun.inf"));
    EXPECT_TRUE(sim.Exists(L"D:\\keep.txt"));
    EXPECT_EQ(sim.Writes(), 1u);
    EXPECT_EQ(items[0]->Repair(&request), S_OK) << "nothing left to delete";
    EXPECT_EQ(sim.Writes(), 1u);
    writesExpected = true;
}

TEST_F(DriveAutorunTest, RepairRefusesWhatIsNotAnAutorunItem) {
    EXPECT_EQ(Tessel::RepairDriveAutorun(nullptr, nullptr), E_POINTER);
    const LocationRow openRow{0x10700010,
                              Tessel::ScanOpenCommand,
                              Tessel::RepairDriveAutorun,
                              HKEY_CLASSES_ROOT,
                              L".exe",
                              L"open",
                              nullptr,
                              0,
                              0};
    context->AddShellCommand(&openRow, L"exefile", L"x.exe");
    auto items = Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(Tessel::RepairDriveAutorun(items[0].Get(), nullptr), E_NOINTERFACE);
}

TEST_F(DriveAutorunTest, MediaCheckNeedsAVolumeThatAnswers) {
    sim.SetDrive(L'D', DRIVE_REMOVABLE, true);
    sim.SetDrive(L'E', DRIVE_REMOVABLE, false);
    EXPECT_TRUE(Tessel::IsDriveMediaReady(L'C'));
    EXPECT_TRUE(Tessel::IsDriveMediaReady(L'D'));
    EXPECT_FALSE(Tessel::IsDriveMediaReady(L'E'));
    EXPECT_FALSE(Tessel::IsDriveMediaReady(L'Q')) << "no such volume";
}

// The repair on both machines: the file goes, and a read-only file stays with the system's error.
class DriveAutorunRepairTest : public ::testing::TestWithParam<test::MachineKind> {
protected:
    void TearDown() override { context.reset(); }

    ComPtr<IZVAutorunItemEx> ItemFor(const std::wstring& iniPath) {
        context->AddIniCommand(&DriveAutorunRow(), iniPath.c_str(), L"AutoRun", L"Open", L"setup.exe");
        IZVAutorunItemEx* item = nullptr;
        if (!context->PopItem(&item)) return nullptr;
        return ComPtr<IZVAutorunItemEx>::Attach(item);
    }

    test::Machine machine{GetParam()};
    std::unique_ptr<CAutorunContext> context = std::make_unique<CAutorunContext>();
};

TEST_P(DriveAutorunRepairTest, DeletesTheFileAndReportsWhyItCouldNot) {
    context->ResetForScan(nullptr);
    std::wstring path = machine.Root() + L"\\Autorun.inf";
    machine.AddFile(path);
    auto item = ItemFor(path);
    ASSERT_TRUE(item);
    EXPECT_EQ(Tessel::RepairDriveAutorun(item.Get(), nullptr), S_OK);
    EXPECT_EQ(platform::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Tessel::RepairDriveAutorun(item.Get(), nullptr), S_OK) << "already gone";

    auto empty = ItemFor(L"");
    ASSERT_TRUE(empty);
    EXPECT_EQ(Tessel::RepairDriveAutorun(empty.Get(), nullptr), S_OK) << "no path, nothing to delete";

    if (!machine.IsReal()) return;  // the simulated machine keeps no read-only files
    std::wstring locked = machine.Root() + L"\\locked\\Autorun.inf";
    machine.AddDirectory(machine.Root() + L"\\locked");
    machine.AddFile(locked);
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    auto lockedItem = ItemFor(locked);
    ASSERT_TRUE(lockedItem);
    EXPECT_EQ(Tessel::RepairDriveAutorun(lockedItem.Get(), nullptr), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_NE(GetFileAttributesW(locked.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Under Wine no volume passes the media check, so the real walk reads no file; it still leaves the
// caller's error mode as it found it.
TEST_P(DriveAutorunRepairTest, TheWalkPutsTheCallersErrorModeBack) {
    context->ResetForScan(nullptr);
    UINT before = platform::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    EXPECT_EQ(Tessel::ScanDriveAutorun(context.get(), &DriveAutorunRow()), S_OK);
    EXPECT_FALSE(context->PopItem(nullptr)) << "no drive of this machine has an autorun file";
    EXPECT_EQ(platform::SetErrorMode(before), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
}

INSTANTIATE_TEST_SUITE_P(Machines, DriveAutorunRepairTest,
                         ::testing::Values(test::MachineKind::Simulated, test::MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

}  // namespace
