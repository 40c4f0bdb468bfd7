// zvscan diff: how saved scans are read (their start and end records, lone surrogates, large files)
// and how two scans are compared and reported.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "diff/diff.h"
#include "win/handles.h"

namespace zvscan {
namespace {

OrderedJson Entry(const std::string& location, const std::string& data, unsigned index) {
    return {{"index", index},     {"key", "0123456789ab"}, {"id", "0x10108003"}, {"category", "0x10100000"},
            {"kind", "registry"}, {"location", location},   {"files", OrderedJson::array()},
            {"repairable", false}, {"data", data}};
}

// The entries of one list value, as the scan hands them out: one item per element, all of one key.
std::vector<OrderedJson> List(const std::vector<std::string>& elements) {
    std::vector<OrderedJson> items;
    for (const std::string& element : elements)
        items.push_back(Entry("HKLM\\System\\CurrentControlSet\\Control\\Lsa\\[Security Packages]", element,
                              static_cast<unsigned>(items.size() + 1)));
    return items;
}

std::string Lines(const std::vector<OrderedJson>& items) {
    std::string text;
    for (const OrderedJson& item : items) text += item.dump() + "\n";
    return text;
}

std::string Start(bool evidence) { return "{\"scan_start\":{\"schema\":2,\"zvscan\":\"1.1.0\",\"evidence\":" + std::string(evidence ? "true" : "false") + "}}\n"; }
std::string End(size_t items) { return "{\"scan_end\":{\"items\":" + std::to_string(items) + ",\"seconds\":0.5}}\n"; }

std::string ErrorOf(const std::string& text) {
    try {
        ParseSavedScan(text, "base.jsonl");
    } catch (const SavedScanError& error) {
        return error.what();
    }
    return "(read without error)";
}

TEST(ZvscanDiff, AListEntryIsKnownByItsKeyAndItsText) {
    std::vector<ItemChange> changes = CompareScans(List({"kerberos", "schannel"}), List({"evilssp", "kerberos", "schannel"}));
    ASSERT_EQ(changes.size(), 1u) << DiffJsonLines(changes);
    EXPECT_EQ(changes[0].kind, ChangeKind::Added);
    EXPECT_EQ(changes[0].item["data"], "evilssp");

    changes = CompareScans(List({"kerberos", "msv1_0", "schannel"}), List({"kerberos", "schannel"}));
    ASSERT_EQ(changes.size(), 1u) << DiffJsonLines(changes);
    EXPECT_EQ(changes[0].kind, ChangeKind::Removed);
    EXPECT_EQ(changes[0].item["data"], "msv1_0");

    // A reorder alone: one change of order, on the first entry of the list.
    changes = CompareScans(List({"kerberos", "schannel", "wdigest"}), List({"schannel", "kerberos", "wdigest"}));
    ASSERT_EQ(changes.size(), 1u) << DiffJsonLines(changes);
    EXPECT_EQ(changes[0].kind, ChangeKind::Changed);
    EXPECT_EQ(changes[0].item["data"], "schannel");
    ASSERT_EQ(changes[0].differences.size(), 1u);
    EXPECT_EQ(changes[0].differences[0].field, "order");
    EXPECT_EQ(changes[0].differences[0].baseline, OrderedJson({"kerberos", "schannel", "wdigest"}));
    EXPECT_EQ(changes[0].differences[0].current, OrderedJson({"schannel", "kerberos", "wdigest"}));

    // Added and moved at once: the addition, and the order of the entries both scans hold.
    changes = CompareScans(List({"kerberos", "schannel"}), List({"schannel", "evilssp", "kerberos"}));
    ASSERT_EQ(changes.size(), 2u) << DiffJsonLines(changes);
    EXPECT_EQ(changes[0].differences[0].current, OrderedJson({"schannel", "kerberos"}));
    EXPECT_EQ(changes[1].kind, ChangeKind::Added);
    EXPECT_EQ(changes[1].item["data"], "evilssp");

    // An element twice is two entries; a value of one element changes as any value does.
    EXPECT_EQ(CompareScans(List({"a", "a"}), List({"a"})).size(), 1u);
    changes = CompareScans(List({"kerberos"}), List({"kerberos2"}));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].differences[0].field, "data");
}

TEST(ZvscanDiff, EvidenceIsComparedWhenBothScansHaveIt) {
    OrderedJson item = Entry("HKLM\\Run\\[A]", "C:\\a.exe", 1);
    item["files"] = {"C:\\a.exe"};
    item["evidence"] = {{{"file", "C:\\a.exe"}, {"exists", true}, {"size", 10}, {"last_write", "2024-01-01T00:00:00Z"},
                         {"sha256", std::string(64, 'a')}}};
    SavedScan baseline = ParseSavedScan(Start(true) + Lines({item}) + End(1), "base.jsonl");
    EXPECT_TRUE(baseline.evidence());
    std::vector<std::pair<std::string, OrderedJson>> edits = {
        {"sha256", std::string(64, 'b')}, {"size", 11}, {"last_write", "2024-01-02T00:00:00Z"}};
    for (const auto& [member, value] : edits) {
        OrderedJson changed = item;
        changed["evidence"][0][member] = value;
        std::vector<ItemChange> changes;
        CompareScans(baseline, ParseSavedScan(Lines({changed}), "now.jsonl"),
                     [&](ItemChange&& change) { changes.push_back(std::move(change)); });
        ASSERT_EQ(changes.size(), 1u) << member;
        ASSERT_EQ(changes[0].differences.size(), 1u) << member;
        EXPECT_EQ(changes[0].differences[0].field, "evidence");
        EXPECT_EQ(changes[0].differences[0].current[0][member], value);
    }
    OrderedJson plain = item;
    plain.erase("evidence");
    SavedScan without = ParseSavedScan(Lines({plain}), "plain.jsonl");
    int changes = 0;
    CompareScans(baseline, without, [&](ItemChange&&) { ++changes; });
    EXPECT_EQ(changes, 0);
    using Notes = std::vector<std::string>;
    EXPECT_EQ(NotCompared(baseline, without), Notes{"files' evidence not compared: only base.jsonl has it"});
    EXPECT_EQ(NotCompared(without, baseline), Notes{"files' evidence not compared: only base.jsonl has it"});
    EXPECT_EQ(NotCompared(baseline, baseline), Notes{});
    EXPECT_EQ(NotCompared(without, without), Notes{});
}

TEST(ZvscanDiff, SignaturesAreComparedWhenBothScansHaveThem) {
    OrderedJson item = Entry("HKLM\\Run\\[A]", "C:\\a.exe", 1);
    item["files"] = {"C:\\a.exe"};
    item["signatures"] = {{{"file", "C:\\a.exe"}, {"status", "signed"}, {"signer", "Zv Signer"}, {"issuer", "Zv Root"}}};
    SavedScan baseline = ParseSavedScan(Lines({item}), "base.jsonl");
    EXPECT_TRUE(baseline.signatures());
    for (const auto& [member, value] : std::vector<std::pair<std::string, std::string>>{{"status", "unsigned"},
                                                                                        {"signer", "Zv Other"}}) {
        OrderedJson changed = item;
        changed["signatures"][0][member] = value;
        std::vector<ItemChange> changes;
        CompareScans(baseline, ParseSavedScan(Lines({changed}), "now.jsonl"),
                     [&](ItemChange&& change) { changes.push_back(std::move(change)); });
        ASSERT_EQ(changes.size(), 1u) << member;
        ASSERT_EQ(changes[0].differences.size(), 1u);
        EXPECT_EQ(changes[0].differences[0].field, "signatures");
    }
    OrderedJson plain = item;
    plain.erase("signatures");
    SavedScan without = ParseSavedScan(Lines({plain}), "plain.jsonl");
    int changes = 0;
    CompareScans(baseline, without, [&](ItemChange&&) { ++changes; });
    EXPECT_EQ(changes, 0) << "a scan without signatures has no signatures to differ";
    EXPECT_EQ(NotCompared(without, baseline),
              std::vector<std::string>{"files' signatures not compared: only base.jsonl has them"});
}

TEST(ZvscanSavedScan, StartAndEndRecordsShowItIsWhole) {
    std::string items = Lines(List({"a", "b"}));
    std::string counters = "{\"counters\":{\"file_probes\":1}}\n";
    std::string warning = "(none)";
    EXPECT_EQ(ParseSavedScan(Start(false) + items + counters + End(2), "base.jsonl", &warning).size(), 2u);
    EXPECT_EQ(warning, "");
    EXPECT_EQ(ErrorOf(Start(false) + items + counters), "base.jsonl: cut short after 2 items (no end record)");
    EXPECT_EQ(ErrorOf(Start(false) + items + End(3)), "base.jsonl: cut short after 2 of 3 items");
    EXPECT_EQ(ErrorOf(Start(false) + items + End(1)), "base.jsonl: 2 items where its end record counts 1");
    EXPECT_EQ(ErrorOf(items + End(2)), "base.jsonl: an end record without a start record");
    EXPECT_EQ(ErrorOf(items + Start(false) + End(2)), "base.jsonl, line 3: a start record that is not the scan's first");
    EXPECT_EQ(ErrorOf(Start(false) + items + End(2) + items), "base.jsonl, line 5: a record after the scan's end record");
    EXPECT_EQ(ErrorOf(Start(false) + items + "{\"scan_end\":{\"seconds\":1}}\n"),
              "base.jsonl, line 4: an end record without its item count");
    EXPECT_EQ(ErrorOf(""), "base.jsonl: empty, no scan in it");
    EXPECT_EQ(ErrorOf("\r\n \n"), "base.jsonl: empty, no scan in it");
    EXPECT_EQ(ParseSavedScan(items, "old.jsonl", &warning).size(), 2u);
    EXPECT_EQ(warning, "old.jsonl: saved without start and end records, so whether it is complete cannot be checked");
}

TEST(ZvscanSavedScan, LoneSurrogatesAreReadKeptApartAndWrittenBack) {
    auto line = [](const std::string& location) {
        return "{\"key\":\"0123456789ab\",\"id\":\"0x10101015\",\"location\":\"HKLM\\\\Run\\\\[" + location +
               "]\",\"files\":[],\"data\":\"" + location + "\"}\n";
    };
    // Each differs from the others in one UTF-16 unit: lone high and low surrogates, a pair,
    // U+FFFD and U+FFFF written either way, and the text U+FFFF "d800".
    const std::vector<std::string> texts = {"ZvT\\ud800x", "ZvT\\udbffx", "ZvT\\udc00x",       "ZvT\\ud83d\\ude00x",
                                            "ZvT\\ufffdx", "ZvT\\uffffx", "ZvT\xEF\xBF\xBFx", "ZvT\\uffffd800x"};
    std::string all;
    for (const std::string& text : texts) all += line(text);
    SavedScan scan = ParseSavedScan(all, "s.jsonl");
    ASSERT_EQ(scan.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        for (size_t j = i + 1; j < texts.size(); ++j) {
            bool sameText = (i == 5 && j == 6);  // U+FFFF escaped and written as it is
            EXPECT_EQ(DiffKey(scan.Item(i)) == DiffKey(scan.Item(j)), sameText) << texts[i] << " and " << texts[j];
        }

    std::vector<ItemChange> changes;
    CompareScans(ParseSavedScan(line(texts[0]), "a"), ParseSavedScan(line(texts[1]), "b"),
                 [&](ItemChange&& change) { changes.push_back(std::move(change)); });
    ASSERT_EQ(changes.size(), 2u) << "texts that differ in a lone surrogate are different entries";
    std::string json = DiffJsonLines(changes);
    EXPECT_NE(json.find("\"location\":\"HKLM\\\\Run\\\\[ZvT\\udbffx]\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"data\":\"ZvT\\ud800x\""), std::string::npos) << json;
    EXPECT_NE(DiffJsonChange({ChangeKind::Added, scan.Item(3), {}}).find("ZvT\xF0\x9F\x98\x80x"), std::string::npos)
        << "a surrogate pair is a character";
    EXPECT_NE(DiffJsonChange({ChangeKind::Added, scan.Item(7), {}}).find("ZvT\xEF\xBF\xBF" "d800x"), std::string::npos);
    EXPECT_NE(DiffTable(changes).find("[ZvT\\udbffx]"), std::string::npos) << "the table shows a lone surrogate's escape";
}

TEST(ZvscanDiff, JsonLeavesOutTheHiveOfAMachineWideEntry) {
    OrderedJson machine = Entry("HKLM\\Run\\[A]", "a.exe", 1);
    OrderedJson user = Entry("HKU\\S-1\\Run\\[A]", "a.exe", 2);
    user["hive"] = "S-1-5-21-1";
    OrderedJson line = OrderedJson::parse(DiffJsonChange({ChangeKind::Added, machine, {}}));
    EXPECT_FALSE(line.contains("hive")) << line.dump();
    line = OrderedJson::parse(DiffJsonChange({ChangeKind::Removed, user, {}}));
    EXPECT_EQ(line["hive"], "S-1-5-21-1");
}

TEST(ZvscanDiff, TheTableShowsTextsAsTheyAre) {
    std::vector<OrderedJson> baseline = {Entry("HKLM\\Run\\[A]", "\"C:\\Program Files\\a.exe\" /x -> y", 1)};
    std::vector<OrderedJson> current = {Entry("HKLM\\Run\\[A]", "C:\\b.exe", 1), Entry("HKLM\\Run\\[B]", "\"C:\\new.exe\"", 2)};
    std::string table = DiffTable(CompareScans(baseline, current));
    EXPECT_NE(table.find("  baseline: \"C:\\Program Files\\a.exe\" /x -> y\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  current:  C:\\b.exe\n"), std::string::npos) << table;
    EXPECT_NE(table.find("data: \"C:\\new.exe\"\n"), std::string::npos) << "an added item's data: " << table;
    EXPECT_EQ(table.find("\\\\"), std::string::npos) << "JSON escapes in the table: " << table;
}

TEST(ZvscanDiff, CsvOfAnAddedOrRemovedItemHoldsItsFields) {
    std::vector<ItemChange> changes = CompareScans({Entry("HKLM\\Run\\[Old]", "old.exe", 1)}, {Entry("HKLM\\Run\\[New]", "new.exe", 1)});
    std::string csv = DiffCsv(changes);
    EXPECT_NE(csv.find("added,0123456789ab,0x10108003,,HKLM\\Run\\[New],data,,new.exe\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("added,0123456789ab,0x10108003,,HKLM\\Run\\[New],repairable,,false\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("removed,0123456789ab,0x10108003,,HKLM\\Run\\[Old],data,old.exe,\r\n"), std::string::npos) << csv;
    EXPECT_EQ(csv.find(",index,"), std::string::npos) << "the position is no field of the item: " << csv;
}

// A scan of n Run values whose data carries a mark, one line each.
std::string GeneratedScan(unsigned n, const std::string& mark, unsigned skipEvery) {
    std::string text;
    for (unsigned i = 0; i < n; ++i) {
        if (skipEvery && i % skipEvery == 0) continue;
        OrderedJson item = Entry("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[Value" +
                                     std::to_string(i) + "]",
                                 "C:\\Program Files\\Vendor\\program" + std::to_string(i) + ".exe" +
                                     (i % 100 == 7 ? mark : std::string()),
                                 i + 1);
        text += item.dump() + "\r\n";
    }
    return text;
}

TEST(ZvscanDiff, ALargeScanIsReadInPiecesAndComparedRight) {
    const unsigned n = 40000;
    std::string baselineText = GeneratedScan(n, "", 0);
    ASSERT_GT(baselineText.size(), 3u << 20) << "more than the reader's pieces";
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"ZvDiffLarge-" + std::to_wstring(GetCurrentProcessId()) + L".jsonl";
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), baselineText.data(), static_cast<DWORD>(baselineText.size()), &written, nullptr));
    }
    SavedScan baseline = ReadSavedScan(path);
    DeleteFileW(path.c_str());
    SavedScan parsed = ParseSavedScan(baselineText, "parsed");
    ASSERT_EQ(baseline.size(), n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(baseline.Text(i), parsed.Text(i)) << i;

    // Every 1000th item gone, every 100th changed, one more at the end.
    std::string currentText = GeneratedScan(n, " /changed", 1000) +
                              Entry("HKEY_LOCAL_MACHINE\\Run\\[Added]", "added.exe", n + 1).dump() + "\n";
    SavedScan current = ParseSavedScan(currentText, "current");
    DiffTally tally;
    unsigned long changedRight = 0, removedRight = 0;
    CompareScans(baseline, current, [&](ItemChange&& change) {
        tally.Count(change);
        if (change.kind == ChangeKind::Changed && change.differences.size() == 1 && change.differences[0].field == "data" &&
            change.differences[0].current.get<std::string>().find(" /changed") != std::string::npos)
            ++changedRight;
        if (change.kind == ChangeKind::Removed && change.item["index"].get<unsigned>() % 1000 == 1) ++removedRight;
    });
    EXPECT_EQ(tally.Summary(), "1 added, 40 removed, 400 changed");
    EXPECT_EQ(changedRight, 400u);
    EXPECT_EQ(removedRight, 40u);
}

}  // namespace
}  // namespace zvscan
