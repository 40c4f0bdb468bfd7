// The two registry views of 64-bit Windows in one listing: the merge that lists a shared entry once,
// the other build's items read back exactly, the helper's protocol run with the built zvscan.exe,
// and the one-view fallback. Both builds scanning one 64-bit prefix is views.sh's (it needs a
// machine that executes 32-bit programs).
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "report/output.h"
#include "views/merge.h"
#include "views/other_build.h"
#include "views/record_json.h"
#include "views/view_process.h"
#include "win/handles.h"
#include "win/machine.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

ItemRecord RunValue(const std::wstring& realKey, const std::wstring& name, const std::wstring& data,
                    const std::string& view) {
    ItemRecord r = test::RunValue(name, data);
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
    std::vector<ItemRecord> other = {RunValue(wow, L"Agent", L"C:\\a.exe", "wow64"), UserRun(L"C:\\t.exe", "wow64"),
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
    std::vector<ViewItem> twice =
        MergeViews(std::move(mine), {UserRun(L"C:\\other.exe", "wow64"), UserRun(L"C:\\t.exe", "wow64")});
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].record.view, "both");
    EXPECT_EQ(twice[1].record.view, "wow64");
    EXPECT_EQ(twice[1].record.valueData, L"C:\\other.exe");
}

// One row of a view: its identifier, the value names it holds, the data each has in that view.
ItemRecord RowValue(unsigned long id, int value, int data, const std::string& view) {
    ItemRecord r = RunValue(L"HKU\\S\\Row" + Wide(Hex32(id)), L"v" + std::to_wstring(value),
                            L"C:\\d" + std::to_wstring(data) + L".exe", view);
    r.id = id;
    return r;
}

std::vector<std::string> Listing(const std::vector<ViewItem>& items) {
    std::vector<std::string> listing;
    for (const ViewItem& item : items)
        listing.push_back(std::to_string(item.record.index) + " " + item.record.view + " " + Utf8(item.record.realKey) +
                          " " + Utf8(item.record.valueName) + " " + Utf8(item.record.valueData));
    return listing;
}

// Two views of one table, seeded: rows empty in both, of one view only, shared in part or whole,
// with items of their own in either view and shared items in another order in the other view. With
// pairs, rows 2 and 3 of every four have the identifiers of rows 0 and 1, as four of the table's do.
void TwoViews(unsigned seed, bool pairs, std::vector<ItemRecord>& own, std::vector<ItemRecord>& other) {
    std::minstd_rand random(seed);
    int rows = 1 + random() % 12;
    for (int row = 0; row < rows; ++row) {
        unsigned long id = 0x10101001 + (pairs && row % 4 >= 2 ? row - 2 : row);
        std::vector<ItemRecord> otherRow;
        int values = random() % 5;
        for (int value = 0; value < values; ++value) {
            int where = random() % 4;  // 0: both alike, 1: both with other data, 2: own only, 3: other only
            if (where != 3) own.push_back(RowValue(id, value, value, "native"));
            if (where != 2) otherRow.push_back(RowValue(id, value, where == 1 ? value + 100 : value, "wow64"));
        }
        std::shuffle(otherRow.begin(), otherRow.end(), random);
        other.insert(other.end(), otherRow.begin(), otherRow.end());
    }
}

// The listing of own and other as they arrive in an order the seed chooses, taken as it comes.
std::vector<ViewItem> Streamed(unsigned seed, const std::vector<ItemRecord>& own,
                               const std::vector<ItemRecord>& other) {
    std::minstd_rand random(seed * 7919);
    ViewMerger merger;
    std::vector<ViewItem> streamed;
    size_t nextOwn = 0, nextOther = 0;
    bool ownEnded = false, otherEnded = false;
    while (!ownEnded || !otherEnded) {
        switch (random() % 3) {
            case 0:
                if (nextOwn < own.size())
                    merger.AddOwn({{}, own[nextOwn++]});
                else if (!ownEnded)
                    merger.EndOwn(), ownEnded = true;
                break;
            case 1:
                if (nextOther < other.size())
                    merger.AddOther(other[nextOther++]);
                else if (!otherEnded)
                    merger.EndOther(), otherEnded = true;
                break;
            default:
                merger.TakeReady(streamed);
        }
    }
    merger.TakeReady(streamed);
    return streamed;
}

TEST(ZvscanViews, TheRowMergeGivesTheWholeListsMergeWhateverTheOrderOfArrival) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::vector<ItemRecord> own, other;
        TwoViews(seed, false, own, other);
        std::vector<ViewItem> ownItems;
        for (const ItemRecord& record : own) ownItems.push_back({{}, record});
        std::vector<std::string> whole = Listing(MergeViews(std::move(ownItems), other));
        ASSERT_EQ(Listing(Streamed(seed, own, other)), whole) << "seed " << seed;
    }
}

TEST(ZvscanViews, RowsTheViewsCountApartLoseNoEntry) {
    // Where one view lacks a row of a pair, the places may differ; the entries, counted once, do not.
    auto entries = [](std::vector<ViewItem> items) {
        std::vector<std::string> listing = Listing(items);
        for (size_t i = 0; i < listing.size(); ++i) {
            EXPECT_EQ(listing[i].substr(0, listing[i].find(' ')), std::to_string(i + 1));
            listing[i].erase(0, listing[i].find(' ') + 1);
        }
        std::sort(listing.begin(), listing.end());
        return listing;
    };
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::vector<ItemRecord> own, other;
        TwoViews(seed, true, own, other);
        std::vector<std::string> streamed = entries(Streamed(seed, own, other));
        size_t count = 0;
        for (const std::string& entry : streamed) count += entry.compare(0, 5, "both ") == 0 ? 2 : 1;
        ASSERT_EQ(count, own.size() + other.size()) << "seed " << seed << ": every entry of both views is listed";
    }
}

TEST(ZvscanViews, AnItemIsWrittenOnceItsSamenessIsSettled) {
    ViewMerger merger;
    std::vector<ViewItem> ready;
    merger.AddOwn({{}, RowValue(0x10101001, 1, 1, "native")});
    merger.AddOther(RowValue(0x10101001, 1, 1, "wow64"));
    merger.TakeReady(ready);
    ASSERT_EQ(Listing(ready), std::vector<std::string>{"1 both HKU\\S\\Row0x10101001 v1 C:\\d1.exe"})
        << "an entry both views have is written at once";
    ready.clear();
    merger.AddOwn({{}, RowValue(0x10101001, 2, 2, "native")});
    merger.AddOther(RowValue(0x10101001, 3, 3, "wow64"));
    merger.AddOwn({{}, RowValue(0x10101002, 1, 1, "native")});
    merger.TakeReady(ready);
    EXPECT_TRUE(ready.empty()) << "the other view may still list the own entry of its row";
    merger.AddOther(RowValue(0x10101003, 1, 1, "wow64"));
    merger.TakeReady(ready);
    EXPECT_EQ(Listing(ready), (std::vector<std::string>{"2 native HKU\\S\\Row0x10101001 v2 C:\\d2.exe",
                                                        "3 wow64 HKU\\S\\Row0x10101001 v3 C:\\d3.exe"}))
        << "the other view has moved past the row: its own entries, then the other view's";
    ready.clear();
    merger.EndOwn();
    merger.EndOther();
    merger.TakeReady(ready);
    EXPECT_EQ(Listing(ready), (std::vector<std::string>{"4 wow64 HKU\\S\\Row0x10101003 v1 C:\\d1.exe",
                                                        "5 native HKU\\S\\Row0x10101002 v1 C:\\d1.exe"}))
        << "a row of the other view alone comes right after the row it follows there";
}

TEST(ZvscanViews, WhenTheOtherViewStopsShortWhatIsNotWrittenIsThisViewAlone) {
    ViewMerger merger;
    std::vector<ViewItem> ready;
    for (int row = 1; row <= 3; ++row) merger.AddOwn({{}, RowValue(0x10101000 + row, 1, 1, "native")});
    merger.AddOwn({{}, RowValue(0x10101003, 2, 2, "native")});
    for (int row = 1; row <= 2; ++row) merger.AddOther(RowValue(0x10101000 + row, 1, 1, "wow64"));
    merger.AddOther(RowValue(0x10101003, 2, 9, "wow64"));
    merger.TakeReady(ready);
    ASSERT_EQ(ready.size(), 2u) << "the entries both views have";
    merger.DropOther();
    merger.AddOther(RowValue(0x10101004, 1, 1, "wow64"));
    merger.EndOwn();
    merger.TakeReady(ready);
    EXPECT_EQ(Listing(ready),
              (std::vector<std::string>{
                  "1 both HKU\\S\\Row0x10101001 v1 C:\\d1.exe", "2 both HKU\\S\\Row0x10101002 v1 C:\\d1.exe",
                  "3 native HKU\\S\\Row0x10101003 v1 C:\\d1.exe", "4 native HKU\\S\\Row0x10101003 v2 C:\\d2.exe"}))
        << "the row under way when the other view stopped is this view's alone";
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
    EXPECT_FALSE(
        RecordFromJson("{\"id\":\"0x1010100E\",\"category\":\"0x10100000\",\"location\":\"x\",\"index\":\"one\"}"));
}

// The built zvscan.exe in its internal mode is the helper of this one's own architecture here: the
// pipe, the end record and the reading back are the other build's.
TEST(ZvscanViews, TheHelperStreamsItsViewOverAPipe) {
    ViewProcess helper;
    std::string problem;
    ASSERT_TRUE(helper.Start(ZvscanPath(), L"view-scan --skip-probe", problem)) << problem;
    std::vector<std::string> lines;
    ViewProcess::Stream stream;
    while ((stream = helper.Read(lines, 100)) == ViewProcess::Stream::Open) {
    }
    EXPECT_EQ(stream, ViewProcess::Stream::Whole);
    ASSERT_TRUE(helper.Finish(problem)) << problem;
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

std::wstring TempFile(const wchar_t* prefix) {
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, prefix, 0, path);
    return path;
}

// Item lines of a JSON Lines listing, without the start and end records.
std::vector<nlohmann::json> Items(const std::string& text) {
    std::vector<nlohmann::json> items;
    for (const std::string& line : test::Lines(text)) {
        nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_object() && json.contains("id")) items.push_back(json);
    }
    return items;
}

// The other build is a stand-in writing this build's own helper output, which stalls after the
// first two rows and the first item of the third: those two rows are written before it goes on.
TEST(ZvscanViews, ItemsAreWrittenWhileTheOtherViewIsStillScanning) {
    if (!SystemHasTwoViews()) GTEST_SKIP() << "this Windows has one registry view";
    test::ProcessRun recorded = test::RunZvscan(L"view-scan --skip-probe");
    ASSERT_EQ(recorded.exitCode, 0u) << recorded.err;
    std::vector<std::string> lines = test::Lines(recorded.out);
    size_t stallAfter = 1, rows = 0, firstRowsItems = 0;
    for (; stallAfter + 1 < lines.size() && rows < 3; ++stallAfter) {
        std::string id = nlohmann::json::parse(lines[stallAfter])["id"];
        std::string previous = stallAfter == 1 ? "" : nlohmann::json::parse(lines[stallAfter - 1])["id"];
        if (id != previous && ++rows == 3) break;
        ++firstRowsItems;
    }
    ASSERT_EQ(rows, 3u) << "the prefix's scan has three rows";
    std::wstring linesPath = TempFile(L"zvl");
    FileHandle file(CreateFileW(linesPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), recorded.out.data(), static_cast<DWORD>(recorded.out.size()), &written, nullptr));
    file = FileHandle();
    std::wstring eventName = L"zvscan-views-test-" + std::to_wstring(GetCurrentProcessId());
    FileHandle release(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    SetEnvironmentVariableW(L"ZV_STAND_IN_LINES", linesPath.c_str());
    SetEnvironmentVariableW(L"ZV_STAND_IN_STALL_AFTER", std::to_wstring(stallAfter + 1).c_str());
    SetEnvironmentVariableW(L"ZV_STAND_IN_RELEASE", eventName.c_str());
    std::wstring standIn = ZvscanPath();
    standIn.replace(standIn.size() - wcslen(L"zvscan.exe"), std::wstring::npos, L"zvstandin.exe");

    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    FileHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    FileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = writeEnd;
    startup.hStdError = nul.Get();
    std::wstring commandLine =
        L"\"" + ZvscanPath() + L"\" --format json --skip-probe --other-build-stand-in \"" + standIn + L"\"";
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(ZvscanPath().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &started));
    FileHandle process(started.hProcess), thread(started.hThread);
    writer = FileHandle();

    // Read what comes before the stand-in is released, until the two rows are there or 30 s passed.
    std::string before;
    ULONGLONG deadline = GetTickCount64() + 30000;
    while (Items(before.substr(0, before.rfind('\n') + 1)).size() < firstRowsItems && GetTickCount64() < deadline) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) {
            Sleep(20);
            continue;
        }
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!ReadFile(readEnd, chunk.data(), available, &read, nullptr)) break;
        before.append(chunk, 0, read);
    }
    Sleep(300);  // more would come now if the merge wrote a row the stand-in has not passed
    DWORD available = 0;
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    std::string more(available, '\0');
    DWORD read = 0;
    if (available) ReadFile(readEnd, more.data(), available, &read, nullptr);
    before.append(more, 0, read);
    SetEvent(release.Get());
    std::string after;
    char buffer[4096];
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) after.append(buffer, read);
    WaitForSingleObject(process.Get(), INFINITE);
    DeleteFileW(linesPath.c_str());

    EXPECT_EQ(Items(before.substr(0, before.rfind('\n') + 1)).size(), firstRowsItems + 1)
        << "what the stand-in has given, the first item of the third row too, and nothing after it";
    std::vector<nlohmann::json> listed = Items(before + after), own = Items(recorded.out);
    ASSERT_EQ(listed.size(), own.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i]["view"], "both") << "the stand-in's items are this view's own";
        EXPECT_EQ(listed[i]["location"], own[i]["location"]);
        EXPECT_EQ(listed[i]["index"], i + 1);
    }
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
    // A build that starts and ends without a line, as one this system cannot run does under Wine.
    std::wstring emptyLines = TempFile(L"zve");
    SetEnvironmentVariableW(L"ZV_STAND_IN_LINES", emptyLines.c_str());
    std::wstring standIn = ZvscanPath();
    standIn.replace(standIn.size() - wcslen(L"zvscan.exe"), std::wstring::npos, L"zvstandin.exe");
    test::ProcessRun silent =
        test::RunZvscan(L"--format json --skip-probe --other-build-stand-in \"" + standIn + L"\"");
    SetEnvironmentVariableW(L"ZV_STAND_IN_LINES", nullptr);
    DeleteFileW(emptyLines.c_str());
    EXPECT_EQ(silent.exitCode, 0u) << silent.err;
    EXPECT_NE(silent.err.find("view is not scanned: it ended with exit code 0 without writing a line"),
              std::string::npos)
        << silent.err;
    test::ProcessRun wrong = test::RunZvscan(L"--format json --other-build \"" + ZvscanPath() + L"\"");
    EXPECT_NE(wrong.err.find(std::string("is not the ") + (sizeof(void*) == 8 ? "x86" : "x86-64") + " zvscan"),
              std::string::npos)
        << wrong.err;
}

}  // namespace
}  // namespace zvscan
