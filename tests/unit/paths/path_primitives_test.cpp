// Path primitives: the text rules, and the system-dependent ones on both machines.
#include <gtest/gtest.h>

#include "paths/path_primitives.h"
#include "support/machine.h"
#include "support/sim_test.h"

namespace {

using namespace Tessel;

std::wstring Trimmed(std::wstring text) {
    TrimAndUnquote(text);
    return text;
}

TEST(PathText, TrimAndUnquote) {
    EXPECT_EQ(Trimmed(L"\""), L"\"");
    EXPECT_EQ(Trimmed(L" \"\" "), L"");
    EXPECT_EQ(Trimmed(L"\t\" a b \"\n"), L" a b ") << "spaces inside the quotes stay";
    EXPECT_EQ(Trimmed(L"\"\"x\"\""), L"\"x\"") << "one pair only";
}

TEST(PathText, FileNameAndExtension) {
    EXPECT_EQ(FileNameOf(L"\\\\?\\UNC\\server\\share\\f.exe"), L"f.exe");
    EXPECT_EQ(FileNameOf(L"\\\\?\\C:\\x"), L"x");
    EXPECT_EQ(FileNameOf(L"C:\\dir\\"), L"dir\\");
    EXPECT_EQ(FileNameOf(L"C:x.exe"), L"x.exe");
    EXPECT_EQ(FileNameOf(L"\\\\server\\share"), L"share");
    EXPECT_EQ(FileNameOf(L"\\\\"), L"\\\\");
    EXPECT_EQ(FileNameOf(L"a/b.exe"), L"b.exe");
    EXPECT_EQ(ExtensionOf(L"C:\\a.d\\file"), L"");
    EXPECT_EQ(ExtensionOf(L"c.tar.gz"), L".gz");
    EXPECT_EQ(ExtensionOf(L"a.b/c"), L".b/c") << "a slash does not end the extension";
}

TEST(PathText, CombineAndRemove) {
    std::wstring dir = L"C:\\dir\\\\";
    EXPECT_TRUE(CombinePath(dir, L"\\x.exe"));
    EXPECT_EQ(dir, L"C:\\dir\\x.exe");
    dir = L"C:\\dir\\";
    EXPECT_TRUE(CombinePath(dir, L"\\\\"));
    EXPECT_EQ(dir, L"C:\\dir\\") << "a name of backslashes only leaves the directory";
    EXPECT_FALSE(CombinePath(dir, nullptr));

    struct Case {
        const wchar_t* path;
        bool cut;
        const wchar_t* parent;
    } cases[] = {{L"X:\\dir\\autorun.inf", true, L"X:\\dir"},
                 {L"X:\\autorun.inf", true, L"X:\\"},
                 {L"\\\\server\\share\\x.inf", true, L"\\\\server\\share"},
                 {L"x.inf", true, L""},
                 {L"\\file", true, L"\\"},
                 {L"a\\\\b", true, L"a"},
                 {L"X:", false, L"X:"},
                 {L"X:\\", false, L"X:\\"},
                 {L"X:name", true, L"X:"},
                 {L"", false, L""}};
    for (const auto& c : cases) {
        std::wstring path = c.path;
        EXPECT_EQ(RemoveFileName(path), c.cut) << c.path;
        EXPECT_EQ(path, c.parent) << c.path;
    }
}

TEST(PathText, UncAndLongPrefixes) {
    EXPECT_TRUE(IsUncPath(L"\\\\server\\share"));
    EXPECT_TRUE(IsUncPath(L"\\\\?\\unc\\server\\share"));
    EXPECT_FALSE(IsUncPath(L"\\\\?\\C:\\x"));
    EXPECT_FALSE(IsUncPath(L""));
    EXPECT_EQ(SkipLongPathPrefix(L"\\\\?\\UNC\\s\\x"), 8u);
    EXPECT_EQ(SkipLongPathPrefix(L"\\\\?\\C:\\x"), 4u);
    EXPECT_EQ(SkipLongPathPrefix(L"\\\\s\\x"), 2u);
    std::wstring unc = L"\\\\server\\share\\x";
    ToLongPathForm(unc);
    EXPECT_EQ(unc, L"\\\\?\\UNC\\server\\share\\x");
}

class PathSystemTest : public test::SimTest {};

TEST_F(PathSystemTest, SystemPrefixes) {
    std::wstring path = L"SYSTEM32\\drivers\\x.sys";
    EXPECT_TRUE(RewriteSystemPrefix(path));
    EXPECT_EQ(path, L"C:\\windows\\system32\\drivers\\x.sys");
    path = L"\\systemroot\\System32\\x.exe";
    EXPECT_TRUE(RewriteSystemPrefix(path));
    EXPECT_EQ(path, L"C:\\windows\\System32\\x.exe");
    path = L"\\??\\C:\\x.sys";
    EXPECT_TRUE(RewriteSystemPrefix(path));
    EXPECT_EQ(path, L"C:\\x.sys");
    for (const wchar_t* unchanged : {L"\\??\\", L"System32", L"x\\System32\\y"}) {
        path = unchanged;
        EXPECT_FALSE(RewriteSystemPrefix(path)) << unchanged;
        EXPECT_EQ(path, unchanged);
    }
    // The rewritten path would need 260 characters with its terminator.
    std::wstring tail(259 - std::wstring(L"C:\\windows\\system32\\").size(), L'a');
    path = L"System32\\" + tail;
    EXPECT_FALSE(RewriteSystemPrefix(path));
    path = L"System32\\" + tail.substr(1);
    EXPECT_TRUE(RewriteSystemPrefix(path));
    EXPECT_EQ(path.size(), 258u);

    sim.FailSpecialFolder(0x25);
    path = L"System32\\x.exe";
    EXPECT_FALSE(RewriteSystemPrefix(path));
}

TEST_F(PathSystemTest, LeadingEnvironmentOnly) {
    sim.SetEnvironment(L"Tools", L"D:\\tools");
    std::wstring text = L"%TOOLS%\\a.exe";
    EXPECT_TRUE(ExpandLeadingEnvironment(text));
    EXPECT_EQ(text, L"D:\\tools\\a.exe");
    text = L"%NoSuchName%\\a.exe";
    EXPECT_TRUE(ExpandLeadingEnvironment(text));
    EXPECT_EQ(text, L"%NoSuchName%\\a.exe") << "an undefined reference stays as written";
    text = L"C:\\%TOOLS%";
    EXPECT_FALSE(ExpandLeadingEnvironment(text));
    sim.SetEnvironment(L"HUGE", std::wstring(kMaxExpandedPath, L'x'));
    text = L"%HUGE%";
    EXPECT_FALSE(ExpandLeadingEnvironment(text)) << "results past the limit are refused";
    EXPECT_EQ(text, L"%HUGE%");
}

TEST_F(PathSystemTest, FullAndLongPaths) {
    sim.SetCurrentDirectory(L"C:\\work");
    std::wstring path = L"a\\..\\b.exe";
    EXPECT_EQ(MakeFullPath(path), S_OK);
    EXPECT_EQ(path, L"C:\\work\\b.exe");
    path = L"C:\\nothere.exe";
    EXPECT_EQ(MakeLongPath(path), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path, L"C:\\nothere.exe");
    path = L"";
    EXPECT_TRUE(FAILED(MakeFullPath(path)));
}

class KnownHostTest : public ::testing::TestWithParam<test::MachineKind> {
protected:
    void SetUp() override { machine.AddSystemFiles(); }
    test::Machine machine{GetParam()};
};

TEST_P(KnownHostTest, MatchesTheSystemCopiesOnly) {
    const KnownHostProgram* row = nullptr;
    EXPECT_EQ(IsKnownHostProgram(L"C:\\WINDOWS\\System32\\SVCHOST.EXE", &row), S_OK);
    ASSERT_TRUE(row);
    EXPECT_STREQ(row->fileName, L"svchost.exe");
    EXPECT_EQ(IsKnownHostProgram(L"C:\\windows\\system32\\rundll32.exe", nullptr), S_OK);

    std::wstring copy = machine.Root() + L"\\svchost.exe";
    machine.AddFile(copy);
    EXPECT_EQ(IsKnownHostProgram(copy, &row), E_FAIL);
    EXPECT_EQ(row, nullptr);
    EXPECT_EQ(IsKnownHostProgram(L"C:\\windows\\system32\\notepad.exe", nullptr), E_FAIL);
    EXPECT_EQ(IsKnownHostProgram(L"C:\\windows\\system32\\zvmissing\\cmd.exe", nullptr), E_FAIL);
}

TEST_P(KnownHostTest, ShortNamesAreCompared) {
    std::wstring dir = machine.Root() + L"\\Long Directory Name";
    machine.AddDirectory(dir);
    std::wstring shortDir = machine.ShortPath(dir);
    std::wstring longPath = dir + L"\\x.exe";
    machine.AddFile(longPath);
    std::wstring path = shortDir + L"\\x.exe";
    ToLongPathForm(path);
    EXPECT_EQ(path, L"\\\\?\\" + longPath);
}

INSTANTIATE_TEST_SUITE_P(Machines, KnownHostTest,
                         ::testing::Values(test::MachineKind::Simulated, test::MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

}  // namespace
