// The two registry views of 64-bit Windows in one listing: the merge that lists a shared entry once,
// the other build's items read back exactly, the helper's protocol run with the built zvscan.exe,
// and the one-view fallback. Both builds scanning one 64-bit prefix is views.sh's (it needs a
// machine that executes 32-bit programs).
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "report/output.h"
#include "views/merge.h"
#include "views/record_json.h"
#include "views/other_build.h"
#include "views/view_process.h"
#include "win/machine.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

ItemRecord RunValue(const std::wstring& realKey, const std::wstring& name, const std::wstring& data,
               const std::string& view) {
    ItemRecord r;
    r.id = 0x1010100E;
    r.category = 0x10100000;
    r.kind = ItemKind::Registry;
    r.root = L"HKEY_LOCAL_MACHINE";
    r.keyPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    r.valueName = name;
    r.valueData = data;
    r.location = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[" + name + L"]";
    r.realKey = realKey;
    r.view = view;
    r.files = {data};
    return r;
}

// The user's Run value: a key the views share, another row.
ItemRecord UserRun(const std::wstring& data, const std::string& view) {
    ItemRecord r = RunValue(L"HKU\\S-1-5-21\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Tray", data, view);
    r.id = 0x10101015;
    return r;
}

ItemRecord Service(const std::wstring& file, const std::string& view) {
    ItemRecord r;
    r.id = 0x10200001;
    r.category = 0x10200000;
    r.kind = ItemKind::Service;
    r.location = L"HKLM\\System\\CurrentControlSet\\Services\\Agent";
    r.files = {file};
    r.view = view;
    return r;
}

std::wstring ZvscanPath() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"zvscan.exe";
}

TEST(ZvscanViews, AnEntryBothViewsSeeAlikeIsListedOnceByWhatItIs) {
    const std::wstring native = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring wow = L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::vector<ViewItem> own;
    own.push_back({{}, RunValue(native, L"Agent", L"C:\\a.exe", "native")});
    own.push_back({{}, UserRun(L"C:\\t.exe", "native")});
    own.push_back({{}, Service(L"C:\\windows\\system32\\agent.exe", "native")});
    std::vector<ItemRecord> other = {RunValue(wow, L"Agent", L"C:\\a.exe", "wow64"),
                                     UserRun(L"C:\\t.exe", "wow64"),
                                     Service(L"C:\\windows\\SysWOW64\\agent.exe", "wow64")};
    std::string oneViewKey = ItemKey(own[1].record);
    std::vector<ViewItem> merged = MergeViews(std::move(own), std::move(other));
    ASSERT_EQ(merged.size(), 4u) << "the redirected Run value is another entry; the shared ones come once";
    EXPECT_EQ(merged[0].record.view, "native");
    EXPECT_EQ(merged[1].record.view, "wow64") << "after the own items of its row";
    EXPECT_EQ(merged[1].record.realKey, wow);
    EXPECT_EQ(merged[2].record.view, "both");
    EXPECT_EQ(merged[3].record.view, "both") << "a service file of SysWOW64 stands for its System32 one";
    for (size_t i = 0; i < merged.size(); ++i) EXPECT_EQ(merged[i].record.index, i + 1);
    EXPECT_NE(ItemKey(merged[0].record), ItemKey(merged[1].record)) << "one location, two entries, two keys";
    EXPECT_EQ(ItemKey(merged[2].record), oneViewKey) << "a shared entry keeps the key of a one-view scan";

    // The same location with other data in the other view is another entry; so is a second equal one.
    std::vector<ViewItem> mine;
    mine.push_back({{}, UserRun(L"C:\\t.exe", "native")});
    std::vector<ViewItem> twice = MergeViews(
        std::move(mine), {UserRun(L"C:\\other.exe", "wow64"), UserRun(L"C:\\t.exe", "wow64")});
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].record.view, "both");
    EXPECT_EQ(twice[1].record.view, "wow64");
    EXPECT_EQ(twice[1].record.valueData, L"C:\\other.exe");
}

TEST(ZvscanViews, AnItemOfTheOtherViewIsReadBackExactly) {
    ItemRecord r = RunValue(L"HKLM\\SOFTWARE\\WOW6432Node\\Run", std::wstring(L"Zv") + wchar_t(0xD800) + L"\x1b\u00e9",
                       L"\"C:\\Program Files (x86)\\a.exe\" /x", "wow64");
    r.index = 7;
    r.hive = L"S-1-5-21";
    r.repairable = true;
    r.files = {L"C:\\windows\\SysWOW64\\a.dll", L"C:\\b.dll"};
    r.evidence = std::vector<FileEvidence>{{true, true, 10, "2026-01-01T00:00:00Z", std::string(64, 'a'), {}},
                                           {false, false, 0, {}, {}, "not found"}};
    r.signatures = std::vector<FileSignature>{{"signed", "Zv Signer", "Zv Root", {}}, {"not found", {}, {}, {}}};
    std::optional<ItemRecord> back = RecordFromJson(JsonItem(r));
    ASSERT_TRUE(back);
    EXPECT_EQ(JsonItem(*back), JsonItem(r)) << "every field, a lone surrogate and a control character among them";
    EXPECT_EQ(back->valueName, r.valueName);
    EXPECT_EQ(ItemKey(*back), ItemKey(r));
    EXPECT_FALSE(RecordFromJson("{\"scan_end\":{\"items\":1,\"seconds\":0.1}}"));
    EXPECT_FALSE(RecordFromJson("{\"index\":1,\"id\":\"0x1010100E\""));
    EXPECT_FALSE(RecordFromJson("{\"id\":\"0x1010100E\",\"category\":\"0x10100000\",\"location\":\"x\",\"index\":\"one\"}"));
}

// The built zvscan.exe in its internal mode is the helper of this one's own architecture here: the
// pipe, the end record and the reading back are the other build's.
TEST(ZvscanViews, TheHelperStreamsItsViewOverAPipe) {
    ViewProcess helper;
    std::string problem;
    ASSERT_TRUE(helper.Start(ZvscanPath(), L"view-scan --skip-probe", problem)) << problem;
    std::vector<std::string> lines;
    ASSERT_TRUE(helper.Finish(lines, problem)) << problem;
    ASSERT_GE(lines.size(), 3u);
    nlohmann::json start = nlohmann::json::parse(lines.front());
    EXPECT_EQ(start["scan_start"]["flags"], nlohmann::json::array({"skip_probe"}));
    size_t items = 0;
    for (const std::string& line : lines) items += RecordFromJson(line).has_value();
    EXPECT_EQ(nlohmann::json::parse(lines.back())["scan_end"]["items"], items);
    EXPECT_GT(items, 0u);

    ViewProcess missing;
    EXPECT_FALSE(missing.Start(L"C:\\no\\such\\zvscan.exe", L"view-scan", problem));
    EXPECT_NE(problem.find("cannot start C:\\no\\such\\zvscan.exe"), std::string::npos) << problem;
}

TEST(ZvscanViews, WithoutTheOtherBuildOneViewIsScannedAndSaidOnce) {
    if (!SystemHasTwoViews()) GTEST_SKIP() << "this Windows has one registry view";
    std::string own = RegistryView(), other = OtherView();
    test::ProcessRun run = test::RunZvscan(L"--format json --skip-probe --other-build C:\\no\\such\\zvscan.exe");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    std::string notice = "zvscan: the " + other + " view is not scanned: C:\\no\\such\\zvscan.exe does not exist\n";
    ASSERT_NE(run.err.find(notice), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(notice), run.err.rfind(notice)) << "said once";
    std::vector<std::string> lines = test::Lines(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(lines.back())["scan_end"]["views"], nlohmann::json::array({own}));
    EXPECT_EQ(nlohmann::json::parse(lines[1])["view"], own);

    test::ProcessRun none = test::RunZvscan(L"--view " + Wide(other) + L" --other-build C:\\no\\such\\zvscan.exe");
    EXPECT_EQ(none.exitCode, 1u) << "no view left to scan";
    EXPECT_EQ(none.out, "");
    test::ProcessRun wrong = test::RunZvscan(L"--format json --other-build \"" + ZvscanPath() + L"\"");
    EXPECT_NE(wrong.err.find(std::string("is not the ") + (sizeof(void*) == 8 ? "x86" : "x86-64") + " zvscan"),
              std::string::npos)
        << wrong.err;
}

}  // namespace
}  // namespace zvscan
