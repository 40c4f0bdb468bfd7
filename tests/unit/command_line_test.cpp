// Command lines to files, on the simulated machine and on the real one of the Wine prefix.
#include <gtest/gtest.h>

#include <array>

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

INSTANTIATE_TEST_SUITE_P(Machines, SimulatedCommandLineTest, ::testing::Values(MachineKind::Simulated),
                         [](const auto& info) { return test::MachineName(info.param); });

}  // namespace
