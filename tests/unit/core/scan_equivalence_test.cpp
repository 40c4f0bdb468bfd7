// A whole scan of a simulated machine full of edge values, written out item by item with its files
// and the six resolution counters, against the output the scan gave before its registry reads and
// item construction were made cheaper. Any change a host could see shows up as a changed line.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/handles.h"
#include "support/sim_test.h"
#include "zvatrun.h"

namespace {

const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kBho = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services";

std::vector<BYTE> Bytes(const std::wstring& text, size_t chars) {
    auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + chars * sizeof(wchar_t));
}

// Long texts are written as their length and ends, so the expected output stays readable.
std::wstring Shown(LPCWSTR text) {
    if (!text) return L"(null)";
    std::wstring s = text;
    if (s.size() <= 80) return s;
    return s.substr(0, 24) + L"..." + std::to_wstring(s.size()) + L"..." + s.substr(s.size() - 24);
}

std::wstring Root(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
    if (root == HKEY_CURRENT_USER) return L"HKCU";
    if (root == HKEY_CLASSES_ROOT) return L"HKCR";
    if (root == HKEY_USERS) return L"HKU";
    return root ? L"other" : L"none";
}

std::wstring Describe(IZVAutorunItemEx* item) {
    std::wostringstream out;
    out << std::hex << item->GetId() << L" " << item->GetCategory() << std::dec << L" [" << Shown(item->GetLocation())
        << L"] repair=" << item->CanRepair();
    platform::ComPtr<IZVAutorunItem_Reg> reg;
    if (SUCCEEDED(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid())))
        out << L" reg{" << Root(reg->GetRootKey()) << L"|" << Shown(reg->GetKeyPath()) << L"|"
            << Shown(reg->GetValueName()) << L"|" << Shown(reg->GetValueData()) << L"}";
    for (ULONG i = 0; i < item->GetFileCount(); ++i) out << L"\n    file=" << Shown(item->GetFile(i));
    return out.str();
}

class ScanEquivalenceTest : public test::SimTest {
protected:
    void SetUp() override {
        sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
        sim.AddFile(L"C:\\windows\\system32\\svchost.exe");
        sim.AddFile(L"C:\\windows\\system32\\shell32.dll");
        sim.AddFile(L"C:\\windows\\notepad.exe");
        sim.AddFile(L"C:\\Program Files\\Vendor\\app.exe");
        sim.AddFile(L"C:\\Program Files\\Vendor\\helper.dll");
        sim.AddFile(L"C:\\svc\\s1.dll");

        // Run values in the three common shapes, then strings around every reader boundary.
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Quoted", L"\"C:\\Program Files\\Vendor\\app.exe\" /s");
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Host", L"rundll32.exe \"C:\\Program Files\\Vendor\\helper.dll\",Go");
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Spaces", L"C:\\Program Files\\Vendor\\app.exe -x");
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Expand", L"%SystemRoot%\\notepad.exe", REG_EXPAND_SZ);
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"", L"notepad.exe default");
        for (size_t chars : {258u, 259u, 260u, 261u, 262u, 1000u}) {
            std::wstring text = L"C:\\windows\\notepad.exe " + std::wstring(chars - 23, L'a');
            sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Len" + std::to_wstring(chars), text);
        }
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Max", std::wstring(65535, L'm'));
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, L"Over", std::wstring(65536, L'o'));
        sim.SetValue(HKEY_LOCAL_MACHINE, kRun, L"Empty", REG_SZ, {});
        sim.SetValue(HKEY_LOCAL_MACHINE, kRun, L"Unterminated", REG_SZ, Bytes(L"notepad.exe", 11));
        sim.SetValue(HKEY_LOCAL_MACHINE, kRun, L"Odd", REG_SZ, {'a', 0, 0});
        sim.SetValue(HKEY_LOCAL_MACHINE, kRun, L"Inner", REG_SZ, Bytes(std::wstring(L"notepad.exe\0tail\0", 17), 17));
        sim.SetDword(HKEY_LOCAL_MACHINE, kRun, L"Number", 7);
        sim.SetMultiString(HKEY_LOCAL_MACHINE, kRun, L"List", {L"notepad.exe"});
        sim.SetString(HKEY_LOCAL_MACHINE, kRun, std::wstring(600, L'n'), L"notepad.exe long name");
        sim.SetString(HKEY_CURRENT_USER, kRun, L"Nul", L"shown under the shortened name");
        sim.SetString(HKEY_CURRENT_USER, kRun, std::wstring(L"Nul\0hidden", 10), L"notepad.exe hidden");
        sim.SetString(HKEY_CURRENT_USER, kRun, L"User", L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl");

        // Services: a shared process with its library, one with its library in the service key,
        // a driver, and one with nothing readable.
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha", L"ImagePath",
                      L"%SystemRoot%\\system32\\svchost.exe -k netsvcs", REG_EXPAND_SZ);
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha", L"DisplayName", L"Alpha display");
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha", L"Description", L"Alpha description");
        sim.SetDword(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha", L"Type", SERVICE_WIN32_SHARE_PROCESS);
        sim.SetDword(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha", L"Start", 2);
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Alpha\\Parameters", L"ServiceDll", L"C:\\svc\\s1.dll");
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Beta", L"ImagePath", L"svchost.exe -k b");
        sim.SetDword(HKEY_LOCAL_MACHINE, kServices + L"\\Beta", L"Type", SERVICE_WIN32_SHARE_PROCESS);
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Beta", L"ServiceDll", L"C:\\svc\\missing.dll");
        sim.SetString(HKEY_LOCAL_MACHINE, kServices + L"\\Driver", L"ImagePath",
                      L"\\SystemRoot\\system32\\drivers\\d.sys");
        sim.SetDword(HKEY_LOCAL_MACHINE, kServices + L"\\Driver", L"Type", SERVICE_KERNEL_DRIVER);
        sim.SetValue(HKEY_LOCAL_MACHINE, kServices + L"\\Broken", L"ImagePath", REG_SZ, Bytes(L"x.exe", 5));

        // Browser helper objects: a CLSID key, a key naming its CLSID, one without a server.
        sim.AddKey(HKEY_LOCAL_MACHINE, kBho + L"\\{00000000-0000-0000-0000-000000000001}");
        sim.SetString(HKEY_LOCAL_MACHINE, kBho + L"\\Named", L"", L"{00000000-0000-0000-0000-000000000002}");
        sim.AddKey(HKEY_LOCAL_MACHINE, kBho + L"\\{00000000-0000-0000-0000-000000000003}");
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32", L"",
                      L"C:\\Program Files\\Vendor\\helper.dll");
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000002}\\InprocServer32", L"",
                      L"%SystemRoot%\\system32\\shell32.dll", REG_EXPAND_SZ);

        // CLSIDs named by value data and by value names, a list, and the MUI cache.
        const std::wstring delayLoad = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad";
        sim.SetString(HKEY_LOCAL_MACHINE, delayLoad, L"Obj", L"{00000000-0000-0000-0000-000000000001}");
        sim.SetString(HKEY_LOCAL_MACHINE, delayLoad, L"NotClsid", L"text");
        sim.SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                      L"{00000000-0000-0000-0000-000000000002}", L"approved");
        sim.SetMultiString(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                           L"BootExecute", {L"autocheck autochk *", L"C:\\windows\\notepad.exe"});
        const std::wstring mui = L"Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
        sim.SetString(HKEY_CURRENT_USER, mui, L"C:\\Program Files\\Vendor\\app.exe", L"Vendor App");
        sim.SetString(HKEY_CURRENT_USER, mui, L"@shell32.dll,-1", L"resource");
        sim.SetString(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"Shell",
                      L"explorer.exe, C:\\windows\\notepad.exe");
    }

    std::wstring ScanAll() {
        platform::ComPtr<IZVAutorunScanner> scanner;
        EXPECT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0), S_OK);
        EXPECT_EQ(scanner->StartScan(nullptr), S_OK);
        std::wstring out;
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            out += Describe(item) + L"\n";
            item->Release();
        }
        platform::ComPtr<IZVAutorunPerformView> view;
        EXPECT_EQ(scanner->QueryInterface(IID_IZVAutorunPerformView, view.PutVoid()), S_OK);
        out += L"counters";
        for (ULONG kind = ZV_COUNT_FILE_PROBES; kind <= ZV_COUNT_EXTENSION_SEARCHES; ++kind)
            out += L" " + std::to_wstring(view->GetCount(kind));
        return out + L"\n";
    }
};

// Captured from the scan before its reads were made cheaper.
const wchar_t kExpected[] = LR"(10200001 10200000 [HKLM\System\CurrentControlSet\Services\Alpha] repair=0
    file=C:\windows\system32\svchost.exe
    file=
    file=C:\svc\s1.dll
10200001 10200000 [HKLM\System\CurrentControlSet\Services\Beta] repair=0
    file=C:\windows\system32\svchost.exe
    file=
    file=
10200001 10200000 [HKLM\System\CurrentControlSet\Services\Broken] repair=0
    file=
    file=
10200001 10200000 [HKLM\System\CurrentControlSet\Services\Driver] repair=0
    file=
    file=
10101008 10100000 [HKEY_USERS\S-1-5-21-0-0-...92...Version\Winlogon\[Shell]] repair=1 reg{other|SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon|Shell|explorer.exe, C:\windows\notepad.exe}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run||notepad.exe default}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Expand]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Expand|%SystemRoot%\notepad.exe}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Host]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Host|rundll32.exe "C:\Program Files\Vendor\helper.dll",Go}
    file=C:\windows\system32\rundll32.exe
    file=C:\Program Files\Vendor\helper.dll
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Inner]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Inner|notepad.exe}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len1000]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len1000|C:\windows\notepad.exe a...1000...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len258]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len258|C:\windows\notepad.exe a...258...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len259]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len259|C:\windows\notepad.exe a...259...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len260]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len260|C:\windows\notepad.exe a...260...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len261]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len261|C:\windows\notepad.exe a...261...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Len262]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Len262|C:\windows\notepad.exe a...262...aaaaaaaaaaaaaaaaaaaaaaaa}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Max]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Max|mmmmmmmmmmmmmmmmmmmmmmmm...65535...mmmmmmmmmmmmmmmmmmmmmmmm}
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTW...667...nnnnnnnnnnnnnnnnnnnnnnn]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|nnnnnnnnnnnnnnnnnnnnnnnn...600...nnnnnnnnnnnnnnnnnnnnnnnn|notepad.exe long name}
    file=C:\windows\notepad.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Quoted]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Quoted|"C:\Program Files\Vendor\app.exe" /s}
    file=C:\Program Files\Vendor\app.exe
1010100e 10100000 [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\[Spaces]] repair=1 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Spaces|C:\Program Files\Vendor\app.exe -x}
    file=C:\Program Files\Vendor\app.exe
10101015 10100000 [HKEY_USERS\S-1-5-21-0-0-...82...CurrentVersion\Run\[Nul]] repair=1 reg{other|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Nul|shown under the shortened name}
10101015 10100000 [HKEY_USERS\S-1-5-21-0-0-...82...CurrentVersion\Run\[Nul]] repair=1 reg{other|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|Nul|shown under the shortened name}
10101015 10100000 [HKEY_USERS\S-1-5-21-0-0-...83...urrentVersion\Run\[User]] repair=1 reg{other|SOFTWARE\Microsoft\Windows\CurrentVersion\Run|User|rundll32.exe shell32.dll,Control_RunDLL desk.cpl}
    file=C:\windows\system32\rundll32.exe
    file=C:\windows\system32\shell32.dll
10102007 10100000 [HKEY_LOCAL_MACHINE\SOFTW...94...iceObjectDelayLoad\[Obj]] repair=0 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\ShellServiceObjectDelayLoad|Obj|C:\Program Files\Vendor\helper.dll}
    file=C:\Program Files\Vendor\helper.dll
10102021 10100000 [HKEY_LOCAL_MACHINE\SOFTW...127...0000-0000-000000000002}]] repair=0 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved|{00000000-0000-0000-0000-000000000002}|%SystemRoot%\system32\shell32.dll}
    file=C:\windows\system32\shell32.dll
10103001 10100000 [HKEY_LOCAL_MACHINE\SOFTW...98...ser Helper Objects\Named] repair=0 reg{HKLM|SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects\Named||%SystemRoot%\system32\shell32.dll}
    file=C:\windows\system32\shell32.dll
10103001 10100000 [HKEY_LOCAL_MACHINE\SOFTW...131...-0000-0000-000000000001}] repair=0 reg{HKLM|SOFTWARE\Microsoft\Windo...112...-0000-0000-000000000001}||C:\Program Files\Vendor\helper.dll}
    file=C:\Program Files\Vendor\helper.dll
10108001 10100000 [HKEY_LOCAL_MACHINE\Syste...81...on Manager\[BootExecute]] repair=0 reg{HKLM|System\CurrentControlSet\Control\Session Manager|BootExecute|autocheck autochk *}
10108001 10100000 [HKEY_LOCAL_MACHINE\Syste...81...on Manager\[BootExecute]] repair=0 reg{HKLM|System\CurrentControlSet\Control\Session Manager|BootExecute|C:\windows\notepad.exe}
    file=C:\windows\notepad.exe
10600003 10600000 [HKEY_USERS\S-1-5-21-0-0-...96...ICache\[@shell32.dll,-1]] repair=0 reg{other|Software\Microsoft\Windows\ShellNoRoam\MUICache|@shell32.dll,-1|resource}
    file=C:\windows\system32\shell32.dll
10600003 10600000 [HKEY_USERS\S-1-5-21-0-0-...112...am Files\Vendor\app.exe]] repair=0 reg{other|Software\Microsoft\Windows\ShellNoRoam\MUICache|C:\Program Files\Vendor\app.exe|Vendor App}
    file=C:\Program Files\Vendor\app.exe
counters 489 62 0 45 56 152
)";

TEST_F(ScanEquivalenceTest, ItemsFilesAndCountersOfAnEdgeMachine) { EXPECT_EQ(ScanAll(), kExpected); }

}  // namespace
