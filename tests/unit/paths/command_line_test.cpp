// Command lines to files, on the simulated machine and on the real one of the Wine prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "diag/debug_log.h"
#include "paths/command_line.h"
#include "support/machine.h"

namespace {

using Tessel::CAutorunContext;
using Tessel::FileList;
using test::Machine;
using test::MachineKind;

const std::wstring kSystem32 = L"C:\\windows\\system32\\";

class CommandLineTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void SetUp() override {
        machine.AddSystemFiles();
        appDir = machine.Root() + L"\\App Dir";
        app = appDir + L"\\app.exe";
        machine.AddDirectory(appDir);
        machine.AddFile(app);
        Reset(0);
    }

    void Reset(DWORD flags) {
        ZV_SCAN_SETTINGS settings{sizeof(settings), flags, {}};
        context = std::make_unique<CAutorunContext>();
        context->ResetForScan(&settings);
    }

    FileList Resolve(const std::wstring& text) {
        FileList files;
        Tessel::ResolveCommandLine(*context, text, files, nullptr);
        return files;
    }

    std::array<ULONG, 6> Counters() const {
        std::array<ULONG, 6> counts{};
        for (ULONG kind = 1; kind <= 6; ++kind) counts[kind - 1] = context->Counter(kind);
        return counts;
    }

    Machine machine{GetParam()};
    std::unique_ptr<CAutorunContext> context;
    std::wstring appDir, app;
};

TEST_P(CommandLineTest, QuotedAndUnquotedPathsWithSpacesAndSwitches) {
    EXPECT_EQ(Resolve(L"\"" + app + L"\" /x"), FileList{app});
    EXPECT_EQ(Counters(), (std::array<ULONG, 6>{1, 2, 0, 1, 0, 0})) << "one probe of the quoted path";

    Reset(0);
    EXPECT_EQ(Resolve(app + L" /x"), FileList{app}) << "found through the dot-space rule";
    EXPECT_EQ(Counters(), (std::array<ULONG, 6>{1, 2, 0, 1, 0, 0}));

    EXPECT_EQ(Resolve(L"\"" + app), FileList{}) << "an unclosed quote yields nothing";
    Reset(0);
    EXPECT_EQ(Resolve(L"\"\""), FileList{});
    EXPECT_EQ(Counters(), (std::array<ULONG, 6>{0, 2, 0, 0, 0, 0}));
    EXPECT_EQ(Resolve(L""), FileList{});
    EXPECT_EQ(Counters(), (std::array<ULONG, 6>{0, 2, 0, 0, 0, 0})) << "empty text counts nothing";
}

TEST_P(CommandLineTest, HostProgramArgumentRules) {
    EXPECT_EQ(Resolve(L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl"),
              (FileList{kSystem32 + L"rundll32.exe", kSystem32 + L"shell32.dll"}));
    EXPECT_EQ(Resolve(L"rundll32 foo.dll"), FileList{kSystem32 + L"rundll32.exe"}) << "no comma, no library";

    std::wstring library = machine.Root() + L"\\x.dll";
    machine.AddFile(library);
    EXPECT_EQ(Resolve(L"regsvr32 /s /i:\"a b\" " + library), (FileList{kSystem32 + L"regsvr32.exe", library}));
    EXPECT_EQ(Resolve(L"regsvr32 /s"), FileList{kSystem32 + L"regsvr32.exe"});

    std::wstring script = machine.Root() + L"\\script.bat";
    machine.AddFile(script);
    EXPECT_EQ(Resolve(L"cmd.exe /c \"" + script + L"\""), (FileList{kSystem32 + L"cmd.exe", script}));
    EXPECT_EQ(Resolve(L"cmd.exe /c " + script + L" /k"), FileList{kSystem32 + L"cmd.exe"})
        << "/k is looked for first and nothing follows it";

    EXPECT_EQ(Resolve(L"\"" + kSystem32 + L"rundll32.exe\" \"" + library + L"\",Entry"),
              (FileList{kSystem32 + L"rundll32.exe", library}))
        << "a quoted host takes its arguments from after the closing quote";
}

TEST_P(CommandLineTest, EnvironmentAndSystemPrefixes) {
    EXPECT_EQ(Resolve(L"%SystemRoot%\\notepad.exe"), FileList{L"C:\\windows\\notepad.exe"});
    EXPECT_EQ(Resolve(L"C:\\%windir%\\notepad.exe"), FileList{}) << "only a leading reference is expanded";

    std::wstring driverName = L"zv" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::wstring driver = kSystem32 + driverName;
    machine.AddFile(driver);
    EXPECT_EQ(Resolve(L"\\??\\" + driver), FileList{driver});
    EXPECT_EQ(Resolve(L"system32\\" + driverName), FileList{driver});
    EXPECT_EQ(Resolve(L"\\SystemRoot\\system32\\" + driverName), FileList{driver});
    EXPECT_EQ(Resolve(L"\\\\?\\" + app), FileList{L"\\\\?\\" + app});
    EXPECT_EQ(Resolve(L"\\\\zvnosuchserver\\share\\app.exe"), FileList{});
}

TEST_P(CommandLineTest, ShortNamesAndRelativeNames) {
    std::wstring shortApp = machine.ShortPath(app);
    ASSERT_FALSE(shortApp.empty());
    EXPECT_EQ(Resolve(shortApp + L" -a"), FileList{shortApp}) << "listed as written";

    Reset(0);
    EXPECT_EQ(Resolve(L"notepad"), FileList{kSystem32 + L"notepad.exe"});
    EXPECT_EQ(Counters(), (std::array<ULONG, 6>{2, 2, 0, 1, 1, 1}));
    EXPECT_EQ(Resolve(L"notepad.exe -a -b"), FileList{kSystem32 + L"notepad.exe"});

    Reset(0);
    EXPECT_EQ(Resolve(L"zvnowhere.exe -a"), FileList{});
    EXPECT_EQ(context->Counter(ZV_COUNT_CANDIDATES), 2u) << "the whole text, then the suffix -a";
    EXPECT_EQ(context->Counter(ZV_COUNT_DIRECTORY_SEARCHES), 3u) << "the text, its cut at the space, then -a";
}

TEST_P(CommandLineTest, ExtraDirectoriesComeFirst) {
    std::wstring local = machine.Root() + L"\\notepad.exe";
    machine.AddFile(local);
    FileList files;
    Tessel::DirectoryList extra{machine.Root()};
    Tessel::ResolveCommandLine(*context, L"notepad.exe", files, &extra);
    EXPECT_EQ(files, FileList{local});
}

TEST_P(CommandLineTest, FileListsAndDuplicates) {
    std::wstring a = machine.Root() + L"\\a.dll", b = appDir + L"\\b.dll";
    machine.AddFile(a);
    machine.AddFile(b);
    FileList files;
    EXPECT_EQ(Tessel::ResolveFileList(*context, L"," + a + L", ,\"" + b + L"\",", files), 1);
    EXPECT_EQ(files, (FileList{a, b}));
    EXPECT_EQ(context->Counter(ZV_COUNT_FILE_LISTS), 1u);
    EXPECT_EQ(context->Counter(ZV_COUNT_CANDIDATES), 2u) << "the blank element is not a candidate";

    std::wstring upper = a;
    for (auto& c : upper) c = towupper(c);
    Tessel::ResolveCommandLine(*context, upper, files, nullptr);
    EXPECT_EQ(files, (FileList{a, b})) << "the same file in other letter case is listed once";
}

TEST_P(CommandLineTest, PlainDirectoriesAreNotFiles) {
    EXPECT_FALSE(Tessel::FileExists(*context, machine.Root()));
    EXPECT_EQ(Resolve(L"C:\\windows"), FileList{});
}

TEST_P(CommandLineTest, Shortcuts) {
    std::wstring link = machine.Root() + L"\\app.lnk";
    machine.AddShortcut(link, app);
    EXPECT_EQ(Resolve(link), FileList{app}) << "a shortcut is listed as its target";
}

INSTANTIATE_TEST_SUITE_P(Machines, CommandLineTest, ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

// What only the simulated machine can show.
class SimulatedCommandLineTest : public CommandLineTest {};

TEST_P(SimulatedCommandLineTest, SkipProbeTakesTheFirstDirectoryAndExtension) {
    Reset(ZV_SCAN_SKIP_PROBE);
    EXPECT_EQ(Resolve(L"foo"), FileList{kSystem32 + L"foo"});
    EXPECT_EQ(Resolve(L"cmd /c x.bat"), FileList{kSystem32 + L"cmd"}) << "no host rule without .exe";
    EXPECT_EQ(context->Counter(ZV_COUNT_FILE_PROBES), 0u);
    std::wstring extra = L"D:\\media";
    FileList files;
    Tessel::DirectoryList extraDirs{extra};
    Tessel::ResolveCommandLine(*context, L"setup", files, &extraDirs);
    EXPECT_EQ(files, FileList{L"D:\\media\\setup"});
}

TEST_P(SimulatedCommandLineTest, ShortcutTargetsAndFailures) {
    auto* sim = machine.Sim();
    std::wstring raw = machine.Root() + L"\\raw.lnk", empty = machine.Root() + L"\\empty.lnk";
    std::wstring damaged = machine.Root() + L"\\damaged.lnk";
    sim->AddShortcut(raw, L"%ProgramFiles%\\App\\app.exe");
    sim->AddShortcut(empty, L"");
    sim->SetShortcutLoadFailure(damaged, E_FAIL);
    FileList files;
    Tessel::AddResolvedFile(files, raw);
    Tessel::AddResolvedFile(files, empty);
    Tessel::AddResolvedFile(files, damaged);
    EXPECT_EQ(files, (FileList{L"%ProgramFiles%\\App\\app.exe", L"", damaged}))
        << "the raw target, an empty target, and a damaged link as itself";

    sim->SetComInitialized(false);
    FileList withoutCom;
    Tessel::AddResolvedFile(withoutCom, raw);
    EXPECT_EQ(withoutCom, FileList{raw});
    EXPECT_EQ(sim->OpenHandles(), 2u) << "only the context's hives: every link object was released";
}

// Wine keeps no read-only bit on directories.
TEST_P(SimulatedCommandLineTest, ADirectoryWithMoreAttributesCountsAsAFile) {
    std::wstring readOnly = machine.Root() + L"\\ro";
    machine.AddDirectory(readOnly, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(Tessel::FileExists(*context, readOnly));
}

TEST_P(SimulatedCommandLineTest, CutLoopStopsWhenNoDelimiterIsLeft) {
    EXPECT_EQ(Resolve(L"C:\\Tools\\run.exe;C:\\x"), FileList{});
    EXPECT_EQ(context->Counter(ZV_COUNT_CANDIDATES), 2u) << "the whole text (cut back to run.exe), then C:\\x";
    machine.Sim()->AddFile(L"C:\\Tools\\run.exe");
    EXPECT_EQ(Resolve(L"C:\\Tools\\run.exe;C:\\x"), FileList{L"C:\\Tools\\run.exe"});
}

// Lines of the shapes run keys, services, tasks, shell extensions and open commands carry, with the
// files and counters they resolved to before resolution had a budget: without and with skip-probe.
struct CorpusLine {
    bool fileList;
    const wchar_t* text;
    FileList files;
    std::array<ULONG, 6> counters;
    FileList skipProbeFiles;
    std::array<ULONG, 6> skipProbeCounters;
};

const CorpusLine kCorpus[] = {
    {false, L"\"C:\\Program Files\\Vendor App\\app.exe\" /background",
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {1, 2, 0, 1, 0, 0},
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"C:\\Program Files\\Vendor App\\app.exe -tray",
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {1, 2, 0, 1, 0, 0},
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"C:\\Program Files (x86)\\Common Files\\Vendor\\Update Service\\updsvc.exe /silent /check",
     {}, {212, 2, 0, 7, 21, 70},
     {L"C:\\Program Files (x86)\\Common Files\\Vendor\\Update Service\\updsvc.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"C:\\Program Files\\Vendor App\\Common Files\\Shared Services\\Update Agent\\agent.exe /run /interval 3600 /log \"C:\\ProgramData\\Vendor App\\Logs\\agent log.txt\"",
     {}, {872, 2, 0, 14, 90, 288},
     {L"C:\\Program Files\\Vendor App\\Common Files\\Shared Services\\Update Agent\\agent.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"rundll32.exe \"C:\\Program Files\\Vendor App\\helper.dll\",StartTray /quiet",
     {L"C:\\windows\\system32\\rundll32.exe", L"C:\\Program Files\\Vendor App\\helper.dll"}, {2, 2, 0, 2, 1, 0},
     {L"C:\\windows\\system32\\rundll32.exe", L"C:\\Program Files\\Vendor App\\helper.dll"}, {0, 2, 0, 2, 1, 0}},
    {false, L"C:\\windows\\system32\\rundll32.exe C:\\PROGRA~1\\VENDOR~1\\helper.dll,#1",
     {L"C:\\windows\\system32\\rundll32.exe"}, {4, 2, 0, 2, 0, 1},
     {L"C:\\windows\\system32\\rundll32.exe", L"C:\\PROGRA~1\\VENDOR~1\\helper.dll"}, {0, 2, 0, 2, 0, 0}},
    {false, L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0",
     {L"C:\\windows\\system32\\rundll32.exe", L"C:\\windows\\system32\\shell32.dll"}, {2, 2, 0, 2, 2, 0},
     {L"C:\\windows\\system32\\rundll32.exe", L"C:\\windows\\system32\\shell32.dll"}, {0, 2, 0, 2, 2, 0}},
    {false, L"RunDll32.exe C:\\Program Files\\Vendor App\\Tray Tools\\traytool.dll,ShowIcon 1",
     {L"C:\\windows\\system32\\RunDll32.exe"}, {13, 2, 0, 2, 1, 4},
     {L"C:\\windows\\system32\\RunDll32.exe", L"C:\\Program Files\\Vendor App\\Tray Tools\\traytool.dll"}, {0, 2, 0, 2, 1, 0}},
    {false, L"%SystemRoot%\\system32\\svchost.exe -k netsvcs -p -s Schedule",
     {L"C:\\windows\\system32\\svchost.exe"}, {1, 2, 0, 1, 0, 0},
     {L"C:\\windows\\system32\\svchost.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"\\SystemRoot\\System32\\drivers\\disk.sys",
     {L"C:\\windows\\System32\\drivers\\disk.sys"}, {1, 2, 0, 1, 0, 0},
     {L"C:\\windows\\System32\\drivers\\disk.sys"}, {0, 2, 0, 1, 0, 0}},
    {false, L"system32\\DRIVERS\\vendorflt.sys",
     {}, {3, 2, 0, 1, 0, 1},
     {L"C:\\windows\\system32\\DRIVERS\\vendorflt.sys"}, {0, 2, 0, 1, 0, 0}},
    {false, L"\\??\\C:\\windows\\system32\\drivers\\vendorflt.sys",
     {}, {3, 2, 0, 1, 0, 1},
     {L"C:\\windows\\system32\\drivers\\vendorflt.sys"}, {0, 2, 0, 1, 0, 0}},
    {false, L"C:\\Program Files\\Vendor App\\Sub Folder\\service.exe -k run",
     {}, {155, 2, 0, 6, 15, 51},
     {L"C:\\Program Files\\Vendor App\\Sub Folder\\service.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"regsvr32 /s /n /i:user \"C:\\Program Files\\Vendor App\\helper.dll\"",
     {L"C:\\windows\\system32\\regsvr32.exe", L"C:\\Program Files\\Vendor App\\helper.dll"}, {3, 3, 0, 2, 1, 1},
     {L"C:\\windows\\system32\\regsvr32"}, {0, 2, 0, 1, 1, 0}},
    {false, L"regsvr32.exe /s C:\\Program Files\\Vendor App\\missing.dll",
     {L"C:\\windows\\system32\\regsvr32.exe"}, {37, 3, 0, 4, 4, 12},
     {L"C:\\windows\\system32\\regsvr32.exe", L"C:\\Program Files\\Vendor App\\missing.dll", L"C:\\windows\\system32\\Files\\Vendor App\\missing.dll", L"C:\\windows\\system32\\App\\missing.dll"}, {0, 3, 0, 4, 3, 0}},
    {false, L"cmd.exe /c start \"\" \"C:\\Program Files\\Vendor App\\app.exe\"",
     {L"C:\\windows\\system32\\cmd.exe"}, {64, 2, 0, 2, 8, 21},
     {L"C:\\windows\\system32\\cmd.exe", L"C:\\windows\\system32\\start \"\" \"C:\\Program Files\\Vendor App\\app.exe\""}, {0, 2, 0, 2, 2, 0}},
    {false, L"C:\\windows\\system32\\cmd.exe /k C:\\ProgramData\\Vendor\\login script.cmd",
     {L"C:\\windows\\system32\\cmd.exe"}, {7, 2, 0, 2, 0, 2},
     {L"C:\\windows\\system32\\cmd.exe", L"C:\\ProgramData\\Vendor\\login script.cmd"}, {0, 2, 0, 2, 0, 0}},
    {false, L"notepad",
     {L"C:\\windows\\system32\\notepad.exe"}, {2, 2, 0, 1, 1, 1},
     {L"C:\\windows\\system32\\notepad"}, {0, 2, 0, 1, 1, 0}},
    {false, L"\"%ProgramFiles%\\Windows NT\\Accessories\\WORDPAD.EXE\" \"%1\"",
     {}, {9, 2, 0, 1, 0, 3},
     {L"C:\\Program Files\\Windows NT\\Accessories\\WORDPAD.EXE"}, {0, 2, 0, 1, 0, 0}},
    {false, L"\"%1\" %*",
     {}, {9, 2, 0, 1, 1, 3},
     {L"C:\\windows\\system32\\%1"}, {0, 2, 0, 1, 1, 0}},
    {false, L"@%SystemRoot%\\system32\\shell32.dll,-8964",
     {L"C:\\windows\\system32\\shell32.dll"}, {22, 2, 0, 2, 2, 7},
     {L"C:\\windows\\system32\\@%SystemRoot%\\system32\\shell32.dll,-8964"}, {0, 2, 0, 1, 1, 0}},
    {false, L"C:\\Program Files\\Vendor App\\shellext64.dll",
     {}, {36, 2, 0, 3, 3, 12},
     {L"C:\\Program Files\\Vendor App\\shellext64.dll"}, {0, 2, 0, 1, 0, 0}},
    {false, L"shdocvw.dll",
     {}, {9, 2, 0, 1, 1, 3},
     {L"C:\\windows\\system32\\shdocvw.dll"}, {0, 2, 0, 1, 1, 0}},
    {false, L"C:\\Program Files\\Vendor App\\Maintenance Tasks\\Nightly Cleanup\\cleanup.exe --quiet --days 30 --target \"C:\\Users\\Public\\Vendor App Data\"",
     {}, {752, 2, 0, 13, 77, 248},
     {L"C:\\Program Files\\Vendor App\\Maintenance Tasks\\Nightly Cleanup\\cleanup.exe"}, {0, 2, 0, 1, 0, 0}},
    {false, L"autocheck autochk *",
     {}, {54, 2, 0, 3, 6, 18},
     {L"C:\\windows\\system32\\autocheck autochk *"}, {0, 2, 0, 1, 1, 0}},
    {false, L"explorer.exe",
     {L"C:\\windows\\explorer.exe"}, {7, 2, 0, 1, 1, 2},
     {L"C:\\windows\\system32\\explorer.exe"}, {0, 2, 0, 1, 1, 0}},
    {false, L"runassvr.exe \"C:\\Program Files\\Vendor App\\app.exe\" /elevated",
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {116, 2, 0, 4, 12, 38},
     {L"C:\\windows\\system32\\runassvr.exe", L"C:\\Program Files\\Vendor App\\app.exe", L"C:\\windows\\system32\\/elevated"}, {0, 6, 0, 4, 3, 0}},
    {false, L"C:\\Program Files\\Vendor App\\app.exe;C:\\Program Files\\Vendor App\\helper.dll",
     {L"C:\\Program Files\\Vendor App\\app.exe"}, {12, 2, 0, 1, 0, 3},
     {L"C:\\Program Files\\Vendor App\\app.exe;C:\\Program"}, {0, 2, 0, 1, 0, 0}},
    {false, L"wscript.exe //B //Nologo \"C:\\ProgramData\\Vendor\\startup script.vbs\"",
     {}, {189, 2, 0, 6, 20, 63},
     {L"C:\\windows\\system32\\wscript.exe //B //Nologo \"C:\\ProgramData\\Vendor\\startup script.vbs\""}, {0, 2, 0, 1, 1, 0}},
    {false, L"powershell.exe -NoProfile -ExecutionPolicy Bypass -WindowStyle Hidden -File \"C:\\ProgramData\\Vendor\\Scripts\\update check.ps1\"",
     {}, {495, 2, 0, 10, 54, 165},
     {L"C:\\windows\\system32\\powershell.exe -NoProfile -ExecutionPolicy Bypass -WindowStyle Hidden -File \"C:\\ProgramData\\Vendor\\Scripts\\update check.ps1\""}, {0, 2, 0, 1, 1, 0}},
    {true, L"C:\\windows\\system32\\userinit.exe,",
     {L"C:\\windows\\system32\\userinit.exe"}, {1, 0, 1, 1, 0, 0},
     {L"C:\\windows\\system32\\userinit.exe"}, {0, 0, 1, 1, 0, 0}},
    {true, L"C:\\Program Files\\Vendor App\\helper.dll, C:\\PROGRA~1\\VENDOR~1\\hook64.dll",
     {L"C:\\Program Files\\Vendor App\\helper.dll"}, {4, 0, 1, 2, 0, 1},
     {L"C:\\Program Files\\Vendor App\\helper.dll", L"C:\\PROGRA~1\\VENDOR~1\\hook64.dll"}, {0, 0, 1, 2, 0, 0}},
    {true, L"C:\\PROGRA~1\\Vendor\\hook.dll C:\\PROGRA~1\\Vendor\\hook64.dll",
     {}, {7, 0, 1, 1, 0, 2},
     {L"C:\\PROGRA~1\\Vendor\\hook.dll"}, {0, 0, 1, 1, 0, 0}},
    {true, L"\"C:\\Program Files\\Vendor App\\helper.dll\",shell32.dll,nosuch.dll",
     {L"C:\\Program Files\\Vendor App\\helper.dll", L"C:\\windows\\system32\\shell32.dll"}, {11, 0, 1, 3, 2, 3},
     {L"C:\\Program Files\\Vendor App\\helper.dll", L"C:\\windows\\system32\\shell32.dll", L"C:\\windows\\system32\\nosuch.dll"}, {0, 0, 1, 3, 2, 0}},
};

TEST_P(SimulatedCommandLineTest, RealisticLinesResolveAsBeforeTheBudget) {
    machine.Sim()->SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
    for (const wchar_t* name : {L"app.exe", L"helper.dll", L"service.exe", L"viewer.exe"})
        machine.AddFile(std::wstring(L"C:\\Program Files\\Vendor App\\") + name);
    for (const wchar_t* path : {L"C:\\windows\\system32\\drivers\\disk.sys", L"C:\\ProgramData\\Vendor\\agent.exe",
                                L"C:\\windows\\system32\\userinit.exe", L"C:\\windows\\explorer.exe"})
        machine.AddFile(path);
    ULONG mostProbes = 0;
    for (DWORD flags : {0u, static_cast<unsigned>(ZV_SCAN_SKIP_PROBE)}) {
        for (const CorpusLine& line : kCorpus) {
            Reset(flags);
            FileList files;
            if (line.fileList) Tessel::ResolveFileList(*context, line.text, files);
            else Tessel::ResolveCommandLine(*context, line.text, files, nullptr);
            EXPECT_EQ(files, flags ? line.skipProbeFiles : line.files) << line.text;
            EXPECT_EQ(Counters(), flags ? line.skipProbeCounters : line.counters) << line.text;
            mostProbes = std::max(mostProbes, context->Counter(ZV_COUNT_FILE_PROBES));
        }
    }
    EXPECT_LE(8 * mostProbes, Tessel::kResolutionTestBudget) << "the budget leaves realistic lines far behind";
}

// A line of one shape repeated to n characters has about n delimiters, or nested host rules. Its
// work once grew with the square of n; now its probes stay within the budget and grow at most
// linearly from 64 to 4096 characters.
TEST_P(SimulatedCommandLineTest, HostileLinesStayWithinTheBudget) {
    struct Shape {
        const wchar_t* prefix;
        const wchar_t* unit;
        bool fileList;
    };
    const Shape shapes[] = {
        {L"", L"a ", false},        {L"", L"a,", false},           {L"", L"a;", false},
        {L"", L"a\"", false},       {L"", L"a@", false},           {L"", L"a\\\\\\\\\\\\\\\\ ", false},
        {L"", L"\\\\ ", false},     {L"C:\\", L"a.b.c.d.e ", false}, {L"", L"a \"", false},
        {L"", L"  ", false},        {L"\"", L"a\" \"", false},     {L"rundll32.exe ", L"a,", false},
        {L"regsvr32 ", L"regsvr32 ", false}, {L"cmd /c ", L"a ", false}, {L"", L"a a,", true},
        {L"", L"a;", true},
    };
    for (const Shape& shape : shapes) {
        ULONG probesAt64 = 0, probes = 0;
        for (size_t n = 64; n <= 4096; n *= 2) {
            std::wstring text = shape.prefix;
            while (text.size() < n) text += shape.unit;
            text.resize(n);
            Reset(0);
            FileList files;
            if (shape.fileList) Tessel::ResolveFileList(*context, text, files);
            else Tessel::ResolveCommandLine(*context, text, files, nullptr);
            probes = context->Counter(ZV_COUNT_FILE_PROBES);
            ASSERT_LE(probes, Tessel::kResolutionTestBudget) << shape.prefix << shape.unit << " at " << n;
            if (n == 64) probesAt64 = probes;
        }
        EXPECT_LE(probes, 64 * probesAt64) << shape.prefix << shape.unit;
    }
}

// A resolution cut at a limit keeps the files it listed, counts exactly the probes it made, and
// names its text, and the location of its item, in the debug log; the next line has a budget of its own.
TEST_P(SimulatedCommandLineTest, ACutResolutionKeepsItsFilesAndIsLogged) {
    auto* sim = machine.Sim();
    const std::wstring settings = L"C:\\host\\zv.local.ini";
    sim->AddFile(settings, "[debug]\r\nzvatrun.dll=50\r\n");
    ASSERT_EQ(Tessel::InitDebugLevel(), static_cast<DWORD>(Tessel::kLogDebug));
    struct DefaultLevel {
        platform::SimulatedBackend* sim;
        const std::wstring& settings;
        ~DefaultLevel() {
            sim->RemoveFile(settings);
            Tessel::InitDebugLevel();
        }
    } restore{sim, settings};
    auto cutLines = [&] {
        std::vector<std::wstring> lines;
        for (const auto& line : sim->DebugOutput())
            if (line.rfind(L"[zavel] resolution cut", 0) == 0) lines.push_back(line);
        return lines;
    };

    std::wstring commas = L"rundll32.exe ";
    while (commas.size() < 1000) commas += L"a,";
    EXPECT_EQ(Resolve(commas), FileList{kSystem32 + L"rundll32.exe"});
    EXPECT_EQ(context->Counter(ZV_COUNT_FILE_PROBES), Tessel::kResolutionTestBudget);
    ASSERT_EQ(cutLines().size(), 1u);
    EXPECT_NE(cutLines()[0].find(commas.substr(0, 260)), std::wstring::npos) << cutLines()[0];
    // The line of an item names the item's location as well.
    Tessel::LocationRow row{};
    context->AddRegCommandValue(&row, HKEY_LOCAL_MACHINE, L"Software\\Run", L"Hostile", commas.c_str());
    context->EmptyQueue();
    ASSERT_EQ(cutLines().size(), 2u);
    EXPECT_NE(cutLines()[1].find(L") for HKEY_LOCAL_MACHINE\\Software\\Run\\[Hostile]: " + commas.substr(0, 260)),
              std::wstring::npos)
        << cutLines()[1];
    Reset(0);
    EXPECT_EQ(Resolve(L"notepad"), FileList{kSystem32 + L"notepad.exe"});

    std::wstring nested;
    for (int i = 0; i < 1000; ++i) nested += L"regsvr32 ";
    EXPECT_EQ(Resolve(nested), FileList{kSystem32 + L"regsvr32.exe"});
    ASSERT_EQ(cutLines().size(), 3u);
    EXPECT_NE(cutLines()[2].find(L"host rules 8 deep"), std::wstring::npos) << cutLines()[2];

    // With skip-probe every suffix after a host names a file.
    Reset(ZV_SCAN_SKIP_PROBE);
    std::wstring spread = L"C:\\Program Files\\rundll32.exe";
    while (spread.size() < 1000) spread += L" a";
    FileList files = Resolve(spread);
    ASSERT_EQ(files.size(), Tessel::kResolutionFileLimit);
    EXPECT_EQ(files[0], L"C:\\Program Files\\rundll32.exe");
    EXPECT_EQ(cutLines().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Machines, SimulatedCommandLineTest, ::testing::Values(MachineKind::Simulated),
                         [](const auto& info) { return test::MachineName(info.param); });

}  // namespace
