// Services and drivers: what each service key hands to the context, on the simulated machine and on
// the real registry of the Wine prefix, and the items the context builds from it.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/scan_context.h"
#include "support/machine.h"
#include "support/sim_test.h"
#include "winhelpers/service_find.h"

namespace {

using platform::ComPtr;
using Tessel::LocationRow;
using test::MachineKind;

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD kUnknown = 0xFFFFFFFFu;
const LocationRow& kServiceRow = Tessel::kAutorunLocations[0];

std::wstring Text(LPCWSTR text) { return text ? text : L""; }

struct ServiceCall {
    std::wstring name;
    DWORD type;
    DWORD start;
    std::wstring imagePath, serviceDll, displayName, description, application;
};

// Records what the service scan reports; any other report fails the test.
class ServiceRecorder final : public Tessel::IAutorunContext {
public:
    void AddService(const LocationRow* row, LPCWSTR serviceName, DWORD serviceType, DWORD startType, LPCWSTR imagePath,
                    LPCWSTR serviceDll, LPCWSTR displayName, LPCWSTR description, LPCWSTR application) override {
        EXPECT_EQ(row, &kServiceRow);
        calls.push_back(ServiceCall{Text(serviceName), serviceType, startType, Text(imagePath), Text(serviceDll),
                                    Text(displayName), Text(description), Text(application)});
    }
    // The calls for services whose names start with prefix, in the order they were made.
    std::vector<ServiceCall> Named(const std::wstring& prefix) const {
        std::vector<ServiceCall> found;
        for (const auto& call : calls)
            if (call.name.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
        return found;
    }

    void AddRegFileListValue(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegCommandValue(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegValueNameCommand(const LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddScheduledTask(const LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddStartupFile(const LocationRow*, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddIniCommand(const LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddInputMethod(const LocationRow*, DWORD, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddShellCommand(const LocationRow*, LPCWSTR, LPCWSTR) override { Unexpected(); }
    const Tessel::ShellFolderTable& GetShellFolderTable() override { return table_; }

    std::vector<ServiceCall> calls;

private:
    static void Unexpected() { ADD_FAILURE() << "the service scan reported something other than a service"; }
    Tessel::ShellFolderTable table_;
};

// Service keys of this test under HKLM\SYSTEM\CurrentControlSet\Services, on either machine; on the
// real one they are removed again at the end.
class ServiceKeys {
public:
    explicit ServiceKeys(MachineKind kind) : machine_(kind) {
        prefix_ = L"ZvSvc" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial_) + L"-";
    }
    ~ServiceKeys() {
        if (!machine_.IsReal()) return;
        for (const auto& name : created_) {
            std::wstring path = std::wstring(kServicesPath) + L"\\" + name;
            SetKeySecurity(path, L"D:(A;;KA;;;WD)");
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        }
    }

    const std::wstring& Prefix() const { return prefix_; }
    std::wstring Name(const std::wstring& service) const { return prefix_ + service; }

    // relative: "" for the service key itself, or a subkey such as "Parameters".
    void SetValue(const std::wstring& service, const std::wstring& relative, const wchar_t* name, DWORD type,
                  const void* data, DWORD size) {
        std::wstring path = KeyPath(service, relative);
        auto* bytes = static_cast<const BYTE*>(data);
        if (auto* sim = machine_.Sim()) {
            sim->SetValue(HKEY_LOCAL_MACHINE, path, name, type, std::vector<BYTE>(bytes, bytes + size));
            return;
        }
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, bytes, size);
        RegCloseKey(key);
    }
    void SetString(const std::wstring& service, const std::wstring& relative, const wchar_t* name,
                   const std::wstring& text, DWORD type = REG_SZ) {
        SetValue(service, relative, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }
    void SetDword(const std::wstring& service, const std::wstring& relative, const wchar_t* name, DWORD value) {
        SetValue(service, relative, name, REG_DWORD, &value, sizeof(value));
    }
    // The service key can be enumerated but not opened for reading its values.
    void DenyQuery(const std::wstring& service) {
        if (auto* sim = machine_.Sim()) {
            sim->DenyAccess(HKEY_LOCAL_MACHINE, KeyPath(service, L""), KEY_QUERY_VALUE);
            return;
        }
        SetKeySecurity(KeyPath(service, L""), L"D:P(A;;0x20008;;;WD)");
    }

    std::vector<ServiceCall> Scan() {
        ServiceRecorder recorder;
        EXPECT_EQ(Tessel::ScanServices(&recorder, &kServiceRow), S_OK);
        return recorder.Named(prefix_);
    }

    test::Machine& Machine() { return machine_; }

private:
    std::wstring KeyPath(const std::wstring& service, const std::wstring& relative) {
        std::wstring name = Name(service);
        bool known = false;
        for (const auto& created : created_) known = known || created == name;
        if (!known) created_.push_back(name);
        std::wstring path = std::wstring(kServicesPath) + L"\\" + name;
        return relative.empty() ? path : path + L"\\" + relative;
    }
    static void SetKeySecurity(const std::wstring& path, const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            RegCloseKey(key);
        }
        LocalFree(descriptor);
    }

    test::Machine machine_;
    std::wstring prefix_;
    std::vector<std::wstring> created_;
    static inline int serial_ = 0;
};

class ServiceRulesTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void TearDown() override {
        if (auto* sim = keys.Machine().Sim()) {
            EXPECT_EQ(sim->OpenHandles(), 0u) << "handles left open";
            EXPECT_EQ(sim->Writes(), 0u) << "the scan wrote to the system";
        }
    }

    ServiceKeys keys{GetParam()};
};

TEST_P(ServiceRulesTest, ValuesAreReadAsStoredAndNumbersOnlyAsDwords) {
    keys.SetString(L"A", L"", L"ImagePath", L"%SystemRoot%\\zv\\a.exe -k", REG_EXPAND_SZ);
    keys.SetString(L"A", L"", L"DisplayName", L"Zv A");
    keys.SetString(L"A", L"", L"Description", L"@%SystemRoot%\\zv.dll,-1", REG_EXPAND_SZ);
    keys.SetDword(L"A", L"", L"Type", 0x10);
    keys.SetDword(L"A", L"", L"Start", 2);
    keys.SetString(L"B", L"", L"ImagePath", L"b.sys");
    keys.SetString(L"B", L"", L"Type", L"32");  // a number stored as text
    keys.SetValue(L"B", L"", L"Start", REG_BINARY, "\x03\x00\x00\x00", 4);
    keys.SetString(L"B", L"", L"ServiceDll", L"b.dll");
    keys.SetString(L"B", L"Parameters", L"ServiceDll", L"bp.dll");
    keys.SetDword(L"C", L"", L"ErrorControl", 1);  // nothing that is read

    auto calls = keys.Scan();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, keys.Name(L"A"));
    EXPECT_EQ(calls[0].imagePath, L"%SystemRoot%\\zv\\a.exe -k") << "not expanded";
    EXPECT_EQ(calls[0].displayName + calls[0].description, L"") << "stored, but not read: no item shows them";
    EXPECT_EQ(calls[0].type, 0x10u);
    EXPECT_EQ(calls[0].start, 2u);

    EXPECT_EQ(calls[1].name, keys.Name(L"B"));
    EXPECT_EQ(calls[1].imagePath, L"b.sys");
    EXPECT_EQ(calls[1].type, kUnknown) << "Type stored as text";
    EXPECT_EQ(calls[1].start, kUnknown) << "Start stored as binary";
    EXPECT_EQ(calls[1].serviceDll, L"") << "no library without type 0x20";

    EXPECT_EQ(calls[2].name, keys.Name(L"C"));
    EXPECT_EQ(calls[2].type, kUnknown);
    EXPECT_EQ(calls[2].start, kUnknown);
    EXPECT_EQ(
        calls[2].imagePath + calls[2].displayName + calls[2].description + calls[2].serviceDll + calls[2].application,
        L"");
}

TEST_P(ServiceRulesTest, ServiceLibraryAndApplicationOnlyForSharedProcessServices) {
    // Parameters only; key only; both (Parameters wins); Parameters without the library.
    for (const wchar_t* name : {L"1", L"2", L"3", L"4"}) keys.SetDword(name, L"", L"Type", 0x20);
    keys.SetString(L"1", L"Parameters", L"ServiceDll", L"%SystemRoot%\\p1.dll", REG_EXPAND_SZ);
    keys.SetString(L"1", L"Parameters", L"Application", L"app1.exe");
    keys.SetString(L"2", L"", L"ServiceDll", L"k2.dll");
    keys.SetString(L"3", L"Parameters", L"ServiceDll", L"p3.dll");
    keys.SetString(L"3", L"", L"ServiceDll", L"k3.dll");
    keys.SetString(L"4", L"Parameters", L"Application", L"app4.exe");
    keys.SetString(L"4", L"", L"ServiceDll", L"k4.dll");
    // Own process, and shared but interactive: neither reads a library or an application.
    keys.SetDword(L"5", L"", L"Type", 0x10);
    keys.SetDword(L"6", L"", L"Type", 0x120);
    for (const wchar_t* name : {L"5", L"6"}) {
        keys.SetString(name, L"Parameters", L"ServiceDll", L"p.dll");
        keys.SetString(name, L"Parameters", L"Application", L"app.exe");
        keys.SetString(name, L"", L"ServiceDll", L"k.dll");
    }

    auto calls = keys.Scan();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].serviceDll, L"%SystemRoot%\\p1.dll");
    EXPECT_EQ(calls[0].application, L"app1.exe");
    EXPECT_EQ(calls[1].serviceDll, L"k2.dll") << "from the service key when Parameters has none";
    EXPECT_EQ(calls[1].application, L"");
    EXPECT_EQ(calls[2].serviceDll, L"p3.dll") << "Parameters wins";
    EXPECT_EQ(calls[3].serviceDll, L"k4.dll");
    EXPECT_EQ(calls[3].application, L"app4.exe");
    for (size_t i : {4u, 5u}) {
        EXPECT_EQ(calls[i].serviceDll, L"") << i;
        EXPECT_EQ(calls[i].application, L"") << i;
    }
    EXPECT_EQ(calls[5].type, 0x120u);
}

TEST_P(ServiceRulesTest, AServiceKeyThatCannotBeReadIsStillPassedOn) {
    keys.SetString(L"A", L"", L"ImagePath", L"a.exe");
    keys.SetDword(L"A", L"", L"Type", 0x20);
    keys.SetString(L"A", L"Parameters", L"ServiceDll", L"a.dll");
    keys.SetDword(L"A", L"", L"Start", 3);
    keys.DenyQuery(L"A");
    keys.SetString(L"B", L"", L"ImagePath", L"b.exe");
    keys.SetDword(L"B", L"", L"Type", 1);

    auto calls = keys.Scan();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, keys.Name(L"A"));
    EXPECT_EQ(calls[0].type, kUnknown);
    EXPECT_EQ(calls[0].start, kUnknown);
    EXPECT_EQ(calls[0].imagePath + calls[0].serviceDll + calls[0].application, L"");
    EXPECT_EQ(calls[1].imagePath, L"b.exe") << "the next service is read as usual";
    EXPECT_EQ(calls[1].type, 1u);
}

INSTANTIATE_TEST_SUITE_P(Machines, ServiceRulesTest, ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

class ServicesTest : public test::SimTest {};

TEST_F(ServicesTest, EveryServiceKeyOnceInEnumerationOrderAndNothingWithoutTheKey) {
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"})
        sim.AddKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\" + std::wstring(name));
    ServiceRecorder recorder;
    EXPECT_EQ(Tessel::ScanServices(&recorder, &kServiceRow), S_OK);
    std::vector<std::wstring> names;
    for (const auto& call : recorder.calls) names.push_back(call.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));

    sim.RemoveKey(HKEY_LOCAL_MACHINE, kServicesPath);
    ServiceRecorder none;
    EXPECT_EQ(Tessel::ScanServices(&none, &kServiceRow), S_OK);
    EXPECT_TRUE(none.calls.empty());
}

TEST_F(ServicesTest, FinderRecordIsEmptyOutsideAnEnumeration) {
    sim.SetString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Only", L"ImagePath", L"only.exe");
    sim.SetDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Only", L"Type", 0x10);
    Basalt::CWinServiceFind find;
    find.ReadServiceInfo();
    EXPECT_EQ(find.Type(), kUnknown) << "never started";

    ASSERT_TRUE(find.FindFirstKey(HKEY_LOCAL_MACHINE, kServicesPath));
    find.ReadServiceInfo();
    EXPECT_EQ(find.ImagePath(), L"only.exe");
    EXPECT_EQ(find.Type(), 0x10u);
    EXPECT_EQ(sim.OpenHandles(), 1u) << "only the enumerated key stays open between reads";

    EXPECT_FALSE(find.Advance());
    find.ReadServiceInfo();
    EXPECT_EQ(find.ImagePath(), L"") << "the enumeration has ended";
    EXPECT_EQ(find.Type(), kUnknown);

    ASSERT_TRUE(find.FindFirstKey(HKEY_LOCAL_MACHINE, kServicesPath));
    find.ReadServiceInfo();
    find.Reset();
    EXPECT_EQ(sim.OpenHandles(), 0u);
    EXPECT_EQ(find.ImagePath(), L"");
    EXPECT_EQ(find.Start(), kUnknown);
    EXPECT_STREQ(find.ServiceName(), L"");
}

TEST_F(ServicesTest, ItemsNameTheirFilesWithTheLibraryThird) {
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    sim.AddFile(L"C:\\windows\\system32\\svchost.exe");
    sim.AddFile(L"C:\\zv\\param.dll");
    sim.AddFile(L"C:\\zv\\key.dll");
    sim.AddFile(L"C:\\zv\\own.exe");
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"Shared", L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k zv",
                  REG_EXPAND_SZ);
    sim.SetDword(HKEY_LOCAL_MACHINE, services + L"Shared", L"Type", 0x20);
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"Shared", L"ServiceDll", L"C:\\zv\\key.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"Shared\\Parameters", L"ServiceDll", L"C:\\zv\\param.dll");
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"Solo", L"ImagePath", L"\"C:\\zv\\own.exe\" /service");
    sim.SetDword(HKEY_LOCAL_MACHINE, services + L"Solo", L"Type", 0x10);
    sim.SetString(HKEY_LOCAL_MACHINE, services + L"Solo\\Parameters", L"ServiceDll", L"C:\\zv\\param.dll");

    Tessel::CAutorunContext context;
    context.ResetForScan(nullptr);
    ASSERT_TRUE(context.RunRow(&kServiceRow));
    std::vector<ComPtr<IZVAutorunItemEx>> items;
    for (IZVAutorunItemEx* item = nullptr; context.PopItem(&item);)
        items.push_back(ComPtr<IZVAutorunItemEx>::Attach(item));
    ASSERT_EQ(items.size(), 2u);

    EXPECT_STREQ(items[0]->GetLocation(), L"HKLM\\System\\CurrentControlSet\\Services\\Shared");
    EXPECT_EQ(items[0]->GetId(), 0x10200001u);
    EXPECT_FALSE(items[0]->CanRepair());
    ASSERT_EQ(items[0]->GetFileCount(), 3u);
    EXPECT_STREQ(items[0]->GetFile(0), L"C:\\windows\\system32\\svchost.exe");
    EXPECT_STREQ(items[0]->GetFile(1), L"") << "no application";
    EXPECT_STREQ(items[0]->GetFile(2), L"C:\\zv\\param.dll");

    EXPECT_STREQ(items[1]->GetLocation(), L"HKLM\\System\\CurrentControlSet\\Services\\Solo");
    ASSERT_EQ(items[1]->GetFileCount(), 2u);
    EXPECT_STREQ(items[1]->GetFile(0), L"C:\\zv\\own.exe");
}

}  // namespace
