// zvscan's incident-response parts against the real (Wine) registry and files: file evidence,
// the comparison of saved scans, the capture and restore behind reversible repairs, the journal,
// and the progress line. Keys and files carry ZvIncident in their names and are removed at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/cli_options.h"
#include "diff/diff.h"
#include "evidence/evidence.h"
#include "evidence/sha256.h"
#include "repair/journal.h"
#include "repair/repair_state.h"
#include "report/progress.h"
#include "win/handles.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

std::wstring TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"ZvIncident-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

class IncidentFiles : public ::testing::Test {
protected:
    void TearDown() override { test::RemoveFolder(folder_); }
    std::wstring folder_ = TempFolder();
};

TEST(ZvscanSha256, KnownDigestsThroughCng) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 pieces;
    pieces.Update("ab", 2);
    pieces.Update("c", 1);
    EXPECT_EQ(pieces.HexDigest(), Sha256Hex("abc"));
}

using ZvscanEvidence = IncidentFiles;

TEST_F(ZvscanEvidence, FactsAndHashOfFilesWrittenByTheTest) {
    std::wstring small = folder_ + L"\\abc.txt";
    test::WriteText(small, "abc");
    FILETIME leapDay{};
    SYSTEMTIME utc{2020, 2, 6, 29, 12, 34, 56, 0};
    SystemTimeToFileTime(&utc, &leapDay);
    {
        FileHandle file(CreateFileW(small.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &leapDay));
    }
    FileEvidence evidence = ReadFileEvidence(small);
    EXPECT_TRUE(evidence.exists);
    EXPECT_EQ(evidence.size, 3u);
    EXPECT_EQ(evidence.lastWrite, "2020-02-29T12:34:56Z");
    EXPECT_EQ(evidence.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(evidence.reason, "");

    // Larger than one piece of the read, with a tail: every byte counts, once.
    std::string content;
    for (size_t i = 0; content.size() < 3 * 1024 * 1024 + 17; ++i) content += static_cast<char>(i * 7 % 251);
    std::wstring large = folder_ + L"\\large.bin";
    test::WriteText(large, content);
    evidence = ReadFileEvidence(large);
    EXPECT_EQ(evidence.size, content.size());
    EXPECT_EQ(evidence.sha256, Sha256Hex(content));
    EXPECT_EQ(EvidenceSummary(evidence),
              "sha256 " + evidence.sha256.substr(0, 12) + ", 3145745 bytes, " + evidence.lastWrite);
}

TEST_F(ZvscanEvidence, MissingAndUnreadableFilesGetAReason) {
    FileEvidence missing = ReadFileEvidence(folder_ + L"\\no such file.exe");
    EXPECT_FALSE(missing.exists);
    EXPECT_EQ(missing.reason, "not found");
    EXPECT_EQ(missing.sha256, "");
    EXPECT_EQ(ReadFileEvidence(folder_ + L"\\no such folder\\x.exe").reason, "not found");
    EXPECT_EQ(EvidenceSummary(missing), "not found");

    std::wstring locked = folder_ + L"\\locked.exe";
    test::WriteText(locked, "locked");
    FileHandle holder(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    FileEvidence unreadable = ReadFileEvidence(locked);
    EXPECT_TRUE(unreadable.exists);
    EXPECT_EQ(unreadable.sha256, "");
    EXPECT_EQ(unreadable.reason, "in use by another process");
    EXPECT_EQ(ReadFileEvidence(folder_).reason, "a directory");
}

TEST_F(ZvscanEvidence, AFileNamedByTwoItemsIsReadOnce) {
    std::wstring shared = folder_ + L"\\shared.dll";
    test::WriteText(shared, "shared");
    EvidenceCache cache;
    std::vector<FileEvidence> first = cache.Of(std::vector<std::wstring>{shared, folder_ + L"\\other.dll"});
    std::string upper = Utf8(shared);
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::vector<FileEvidence> second = cache.Of(std::vector<std::wstring>{Wide(upper)});
    EXPECT_EQ(cache.Reads(), 2u) << "the shared file read once, the missing one once";
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].sha256, first[0].sha256);
    EXPECT_EQ(first[1].reason, "not found");
}

TEST_F(ZvscanEvidence, AnImagesFilesAreReadInsideItUnderItsSystemsPaths) {
    std::wstring image = folder_ + L"\\image";
    CreateDirectoryW(image.c_str(), nullptr);
    CreateDirectoryW((image + L"\\Windows").c_str(), nullptr);
    test::WriteText(image + L"\\Windows\\tool.exe", "inside");
    EXPECT_EQ(ImageFilePath(image + L"\\", L"C:\\Windows\\tool.exe"), image + L"\\Windows\\tool.exe");
    EXPECT_EQ(ImageFilePath(image, L"\\\\?\\c:\\Windows\\tool.exe"), image + L"\\Windows\\tool.exe");
    EXPECT_EQ(ImageFilePath(image, L"D:\\Windows\\tool.exe"), L"");
    EXPECT_EQ(ImageFilePath(image, L"\\\\server\\share\\tool.exe"), L"");

    EvidenceCache cache(image);
    std::vector<FileEvidence> found =
        cache.Of(std::vector<std::wstring>{L"C:\\Windows\\tool.exe", L"C:\\Windows\\gone.exe", L"D:\\tool.exe"});
    ASSERT_EQ(found.size(), 3u);
    EXPECT_TRUE(found[0].exists);
    EXPECT_EQ(found[0].size, 6u);
    EXPECT_EQ(found[0].sha256, Sha256Hex("inside"));
    EXPECT_EQ(found[1].reason, "not found");
    EXPECT_FALSE(found[2].exists);
    EXPECT_EQ(found[2].reason, "not in the image");
}

TEST(ZvscanEvidenceOutput, TableJsonAndCsvCarryTheFields) {
    ItemRecord record;
    record.index = 4;
    record.id = 0x10101015;
    record.category = 0x10100000;
    record.kind = ItemKind::Registry;
    record.location = L"HKEY_LOCAL_MACHINE\\Run\\[A]";
    record.files = {L"C:\\a.exe", L"C:\\gone.dll"};
    FileEvidence hashed;
    hashed.exists = hashed.sized = true;
    hashed.size = 3;
    hashed.lastWrite = "2020-02-29T12:34:56Z";
    hashed.sha256 = Sha256Hex("abc");
    FileEvidence missing;
    missing.reason = "not found";
    record.evidence = std::vector<FileEvidence>{hashed, missing};

    std::string table = TableItem(record);
    EXPECT_NE(table.find("C:\\a.exe  (sha256 ba7816bf8f01, 3 bytes, 2020-02-29T12:34:56Z)\n"), std::string::npos)
        << table;
    EXPECT_NE(table.find("C:\\gone.dll  (not found)\n"), std::string::npos) << table;

    OrderedJson json = OrderedJson::parse(JsonItem(record));
    ASSERT_EQ(json["evidence"].size(), 2u) << json.dump();
    EXPECT_EQ(json["evidence"][0], OrderedJson({{"file", "C:\\a.exe"},
                                                {"exists", true},
                                                {"size", 3},
                                                {"last_write", "2020-02-29T12:34:56Z"},
                                                {"sha256", hashed.sha256}}));
    EXPECT_EQ(json["evidence"][1], OrderedJson({{"file", "C:\\gone.dll"}, {"exists", false}, {"reason", "not found"}}));
    record.evidence.reset();
    EXPECT_FALSE(OrderedJson::parse(JsonItem(record)).contains("evidence")) << "only with --evidence";
    record.evidence = std::vector<FileEvidence>{hashed, missing};

    std::string header = CsvHeader(true);
    const std::string columns = ",file_exists,file_size,file_last_write,file_sha256,file_reason\r\n";
    ASSERT_GT(header.size(), columns.size());
    EXPECT_EQ(header.substr(header.size() - columns.size()), columns);
    EXPECT_EQ(CsvHeader().find("file_sha256"), std::string::npos);
    std::string line = CsvItem(record);
    const std::string cells = ",true|false,3|,2020-02-29T12:34:56Z|," + hashed.sha256 + "|,|not found\r\n";
    ASSERT_GT(line.size(), cells.size());
    EXPECT_EQ(line.substr(line.size() - cells.size()), cells) << "one value per file, in the files' order";
}

OrderedJson Item(const std::string& id, const std::string& location, const std::string& data, unsigned index) {
    return {{"index", index},
            {"id", id},
            {"category", "0x10100000"},
            {"category_name", "registry"},
            {"kind", "registry"},
            {"location", location},
            {"files", {"C:\\a.exe"}},
            {"repairable", true},
            {"data", data}};
}

TEST(ZvscanDiff, KeyedByIdentifierHiveAndLocationNotPosition) {
    std::vector<OrderedJson> baseline = {Item("0x10101015", "HKU\\S-1\\Run\\[A]", "a.exe", 1),
                                         Item("0x10101015", "HKU\\S-1\\Run\\[B]", "b.exe", 2),
                                         Item("0x10600001", "Keyboard Layout\\Preload\\[2]", "", 3),
                                         Item("0x10600001", "Keyboard Layout\\Preload\\[2]", "", 4)};
    baseline[2]["hive"] = "S-1-5-21-1";
    baseline[3]["hive"] = ".DEFAULT";
    std::vector<OrderedJson> current = {baseline[3], baseline[2], baseline[1], baseline[0]};
    for (unsigned i = 0; i < current.size(); ++i) current[i]["index"] = i + 10;
    EXPECT_TRUE(CompareScans(baseline, current).empty()) << "positions moved, nothing else did";

    current[0]["layout_id"] = "E0200409";  // the .DEFAULT hive's entry
    current[1]["repairable"] = false;
    current[2]["files"] = {"C:\\b.exe", "C:\\b.dll"};
    current[3]["location"] = "hku\\s-1\\run\\[a]";  // letter case alone is no change
    current.push_back(Item("0x10101015", "HKU\\S-1\\Run\\[C]", "c.exe", 20));
    current.erase(current.begin() + 2);
    std::vector<ItemChange> changes = CompareScans(baseline, current);
    ASSERT_EQ(changes.size(), 4u) << DiffJsonLines(changes);
    EXPECT_EQ(changes[0].kind, ChangeKind::Changed);
    EXPECT_EQ(changes[0].item["hive"], ".DEFAULT");
    ASSERT_EQ(changes[0].differences.size(), 1u);
    EXPECT_EQ(changes[0].differences[0].field, "layout_id");
    EXPECT_TRUE(changes[0].differences[0].baseline.is_null());
    EXPECT_EQ(changes[1].differences[0].field, "repairable");
    EXPECT_EQ(changes[2].kind, ChangeKind::Added);
    EXPECT_EQ(changes[3].kind, ChangeKind::Removed);
    EXPECT_EQ(changes[3].item["location"], "HKU\\S-1\\Run\\[B]");
    EXPECT_EQ(DiffSummary(changes), "1 added, 1 removed, 2 changed");
    EXPECT_EQ(DiffSummary({}), "no differences");
}

TEST(ZvscanDiff, ReportFormsShowWhatDiffered) {
    std::vector<OrderedJson> baseline = {Item("0x10101015", "HKU\\S-1\\Run\\[A]", "old.exe", 1)};
    std::vector<OrderedJson> current = {Item("0x10101015", "HKU\\S-1\\Run\\[A]", "=new.exe", 1)};
    current[0]["key"] = "3f09c2a1b7d4";
    std::vector<ItemChange> changes = CompareScans(baseline, current);
    std::string table = DiffTable(changes);
    EXPECT_NE(table.find("changed  3f09c2a1b7d4  0x10101015  HKU\\S-1\\Run\\[A]\n"), std::string::npos) << table;
    EXPECT_NE(table.find("data\n" + std::string(37, ' ') + "baseline: old.exe\n" + std::string(37, ' ') +
                         "current:  =new.exe\n"),
              std::string::npos)
        << table;
    OrderedJson line = OrderedJson::parse(DiffJsonLines(changes));
    EXPECT_EQ(line["change"], "changed");
    EXPECT_EQ(line["differences"]["data"]["baseline"], "old.exe");
    EXPECT_EQ(line["differences"]["data"]["current"], "=new.exe");
    std::string csv = DiffCsv(changes);
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "change,key,id,hive,location,field,baseline,current");
    EXPECT_NE(csv.find("changed,3f09c2a1b7d4,0x10101015,,HKU\\S-1\\Run\\[A],data,old.exe,'=new.exe\r\n"),
              std::string::npos)
        << "spreadsheet-safe cells: " << csv;
    EXPECT_NE(DiffCsv(changes, CsvCells::Raw).find(",old.exe,=new.exe\r\n"), std::string::npos);
}

TEST(ZvscanDiff, ABrokenLineOfASavedScanIsNamed) {
    std::string good = Item("0x10101015", "HKU\\S-1\\Run\\[A]", "a.exe", 1).dump() + "\n";
    EXPECT_EQ(ParseSavedScan(good + "{\"counters\":{\"file_probes\":1}}\n", "base.jsonl").size(), 1u);
    std::string cut = good.substr(0, good.size() / 2);
    try {
        ParseSavedScan(good + good + cut, "base.jsonl");
        ADD_FAILURE() << "a cut line was accepted";
    } catch (const SavedScanError& error) {
        EXPECT_STREQ(error.what(), "base.jsonl, line 3: cut short (not a whole JSON object)");
    }
    EXPECT_THROW(ParseSavedScan(good + "[1,2]\n" + good, "b"), SavedScanError);
    try {
        ParseSavedScan(good + "\n" + cut + "\n" + good, "b");
        ADD_FAILURE() << "a damaged line was accepted";
    } catch (const SavedScanError& error) {
        EXPECT_STREQ(error.what(), "b, line 3: not a JSON object");
    }
}

// A key of the test under HKEY_CURRENT_USER, removed at the end.
class ZvscanRepairState : public IncidentFiles {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        RegKey key, sub;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
                  0);
        Set(key.Get(), L"Expand", REG_EXPAND_SZ, std::string("%\0S\0%\0\0\0", 8));
        Set(key.Get(), L"Odd", REG_SZ, std::string("A\0B", 3));
        Set(key.Get(), L"Unterminated", REG_SZ, std::string("A\0B\0", 4));
        Set(key.Get(), L"Multi", REG_MULTI_SZ, std::string("x\0\0\0\0\0", 6));
        Set(key.Get(), L"", REG_BINARY, std::string("\0\1\2", 3));
        ASSERT_EQ(
            RegCreateKeyExW(key.Get(), L"Sub\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.Put(), nullptr), 0);
        Set(sub.Get(), L"Number", REG_DWORD, std::string("\x2A\0\0\0", 4));
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, kAbsent);
        IncidentFiles::TearDown();
    }
    static void Set(HKEY key, const wchar_t* name, DWORD type, const std::string& bytes) {
        std::string buffer = bytes + "\xFF\xFF";
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                                 static_cast<DWORD>(bytes.size())),
                  0);
    }
    static constexpr const wchar_t* kKey = L"Software\\ZvIncidentTest";
    static constexpr const wchar_t* kAbsent = L"Software\\ZvIncidentAbsent";
};

TEST_F(ZvscanRepairState, AKeyIsPutBackWithEveryValuesTypeAndBytes) {
    Target target{TargetKind::Key, L"HKEY_CURRENT_USER", kKey};
    TargetState before = Capture(target);
    ASSERT_TRUE(before.exists);
    ASSERT_EQ(before.tree.values.size(), 5u);
    auto oddValue = std::find_if(before.tree.values.begin(), before.tree.values.end(),
                                 [](const RegistryValue& value) { return value.name == L"Odd"; });
    ASSERT_NE(oddValue, before.tree.values.end());
    EXPECT_EQ(oddValue->data, std::string("A\0B", 3)) << "exact bytes, no terminator added";
    // Through the journal's own form and back.
    before = TargetStateFromJson(OrderedJson::parse(ToJson(before).dump()));
    std::string fingerprint = Fingerprint(before);

    {
        RegKey key, extra;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, key.Put()), 0);
        RegDeleteValueW(key.Get(), L"Odd");
        Set(key.Get(), L"Expand", REG_SZ, std::string("x\0\0\0", 4));
        Set(key.Get(), L"Added", REG_SZ, std::string("y\0\0\0", 4));
        RegDeleteTreeW(key.Get(), L"Sub");
        RegCreateKeyExW(key.Get(), L"Extra", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, extra.Put(), nullptr);
    }
    EXPECT_NE(Fingerprint(Capture(target)), fingerprint);
    Restore(before);
    TargetState after = Capture(target);
    EXPECT_EQ(Fingerprint(after), fingerprint);
    EXPECT_EQ(ToJson(after)["tree"]["subkeys"].size(), 1u) << "the added key is gone";
    RegKey odd;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, odd.Put()), 0);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(odd.Get(), L"Odd", nullptr, &type, nullptr, &size), 0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 3u);
}

TEST_F(ZvscanRepairState, KeysARepairCreatedAreRemovedAgain) {
    Target target =
        WidenToFirstMissing({TargetKind::Key, L"HKEY_CURRENT_USER", std::wstring(kAbsent) + L"\\shell\\open"});
    EXPECT_EQ(target.path, kAbsent) << "captured from the first missing key";
    TargetState before = Capture(target);
    EXPECT_FALSE(before.exists);
    RegKey created;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kAbsent) + L"\\shell\\open").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, created.Put(), nullptr),
              0);
    Restore(before);
    RegKey gone;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAbsent, 0, KEY_READ, gone.Put()), ERROR_FILE_NOT_FOUND);
}

TEST_F(ZvscanRepairState, AFileComesBackFromQuarantineWithItsAttributes) {
    std::wstring path = folder_ + L"\\agent.exe";
    test::WriteText(path, "agent program");
    DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    TargetState before = Capture({TargetKind::File, {}, path});
    Quarantine(before, folder_ + L"\\quarantine", L"agent.exe");
    EXPECT_EQ(before.quarantine, folder_ + L"\\quarantine\\agent.exe");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(Capture({TargetKind::File, {}, path}).exists);

    Restore(before);
    TargetState after = Capture({TargetKind::File, {}, path});
    EXPECT_EQ(Fingerprint(after), Fingerprint(before));
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), attributes);
    EXPECT_EQ(ReadFileEvidence(path).sha256, Sha256Hex("agent program"));
}

using ZvscanJournal = IncidentFiles;

TEST_F(ZvscanJournal, RecordsReadBackAndABrokenLineIsNamed) {
    std::wstring path = folder_ + L"\\logs\\journal.jsonl";
    TargetState state;
    state.target = {TargetKind::Key, L"HKEY_CURRENT_USER", L"Software\\ZvIncidentNone"};
    {
        JournalWriter journal(path);
        EXPECT_EQ(journal.NextEntry(), 1u);
        journal.Begin({{"id", "0x10101015"}, {"location", "X"}}, L"C:\\a.exe", {state});
        EXPECT_EQ(ReadJournal(path).size(), 1u) << "on disk before the repair runs";
        journal.Complete(1, S_FALSE, "S_FALSE: refused", {Fingerprint(state)});
        journal.Begin({{"id", "0x10101016"}, {"location", "Y"}}, L"", {state});
        journal.Complete(2, S_OK, "S_OK: repaired", {"another state"});
    }
    std::vector<JournalEntry> entries = ReadJournal(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].Undoable()) << "a refused repair changed nothing";
    EXPECT_TRUE(entries[1].Undoable());
    EXPECT_EQ(entries[1].hresult, "0x00000000");
    EXPECT_EQ(LastUndoable(entries), 2u);
    std::string listing = JournalListing(entries);
    EXPECT_NE(listing.find("nothing to undo"), std::string::npos) << listing;
    EXPECT_NE(listing.find("can undo"), std::string::npos) << listing;
    {
        JournalWriter journal(path);
        EXPECT_EQ(journal.NextEntry(), 3u);
        UndoOutcome refused = Undo(entries, 1, journal);
        EXPECT_FALSE(refused.restored);
        EXPECT_NE(refused.message.find("nothing to undo"), std::string::npos) << refused.message;
    }

    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), "{\"type\":\"result\",\"ent\n", 22, &written, nullptr);
    file = FileHandle();
    try {
        ReadJournal(path);
        ADD_FAILURE() << "a damaged line was accepted";
    } catch (const JournalError& error) {
        EXPECT_NE(std::string(error.what()).find(", line 5: not a JSON object"), std::string::npos) << error.what();
    }
}

TEST(ZvscanCommandLine, DiffAndUndoTakeTheirArguments) {
    Options diff;
    ParseOutcome outcome = ParseCommandLine({"diff", "base.jsonl", "now.jsonl", "--format", "csv", "--evidence"}, diff);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(diff.command, Command::Diff);
    EXPECT_EQ(diff.baseline, L"base.jsonl");
    EXPECT_EQ(diff.current, L"now.jsonl");
    EXPECT_EQ(diff.format, OutputFormat::Csv);
    EXPECT_TRUE(diff.evidence);
    Options undo;
    outcome = ParseCommandLine({"undo", "7", "--journal", "C:\\j.jsonl"}, undo);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(undo.command, Command::Undo);
    EXPECT_EQ(undo.undoEntry, 7u);
    EXPECT_EQ(undo.journalPath, L"C:\\j.jsonl");
    Options repair;
    ASSERT_TRUE(ParseCommandLine({"repair", "--key", "3f09c2a1b7d4", "--journal", "C:\\j.jsonl"}, repair).run);
    EXPECT_EQ(repair.journalPath, L"C:\\j.jsonl");

    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"diff"},
                                                                               {"diff", "a", "--key", "3f09c2a1b7d4"},
                                                                               {"undo", "3", "--last"},
                                                                               {"undo", "0"},
                                                                               {"undo", "--format", "json"}}) {
        Options options;
        outcome = ParseCommandLine(args, options);
        EXPECT_FALSE(outcome.run) << args.back();
        EXPECT_EQ(outcome.exitCode, kExitUsage) << args.back();
    }
    Options help;
    std::string text = ParseCommandLine({"--help"}, help).text;
    for (const char* part : {"diff BASELINE [CURRENT]", "undo", "--evidence", "--journal", "--last",
                             "%LOCALAPPDATA%\\zvscan\\journal.jsonl", "3 diff found"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST(ZvscanProgress, OnlyAfterASecondAndErasedAtTheEnd) {
    std::string shown;
    Progress progress(true, [&](const std::string& text) { shown += text; });
    progress.Update(0.5, 10, 3, "0x10101015 HKEY_LOCAL_MACHINE\\Run");
    EXPECT_EQ(shown, "") << "a quick scan shows nothing";
    progress.Update(1.2, 40, 12, "0x10200001 service");
    EXPECT_EQ(shown, "\rscanning: 40 items from 12 rows; 0x10200001 service");
    progress.Update(1.25, 41, 12, "0x10200001 service");
    EXPECT_EQ(shown.find("41 items"), std::string::npos) << "at most ten times a second";
    progress.Update(1.4, 50, 13, std::string(200, 'x'));
    std::string last = shown.substr(shown.rfind('\r') + 1);
    EXPECT_EQ(last.size(), 79u) << "never wider than a console";
    shown.clear();
    progress.End();
    EXPECT_EQ(shown, "\r" + std::string(79, ' ') + "\r");

    std::string silent;
    Progress redirected(false, [&](const std::string& text) { silent += text; });
    redirected.Update(5, 100, 50, "row");
    redirected.End();
    EXPECT_EQ(silent, "");
}

}  // namespace
}  // namespace zvscan
