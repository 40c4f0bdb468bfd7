// zvscan: its output forms and command line, and the built zvscan.exe run as a person runs it,
// scanning the test prefix through the built DLL (read only: nothing here repairs).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "commands/cli_options.h"
#include "repair/repair_report.h"
#include "report/item_record.h"
#include "report/output.h"
#include "win/text.h"
#include "zvhostprograms.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

using Json = nlohmann::json;
using test::Lines;
using test::ParseCsv;
using test::ProcessRun;
using test::RunZvscan;

ItemRecord RegistryRecord() {
    ItemRecord r;
    r.index = 36;
    r.id = 0x10101015;
    r.category = 0x10100000;
    r.kind = ItemKind::Registry;
    r.location = L"HKEY_USERS\\S-1-5-21\\Run\\[Up,\"date\"r]";
    r.hive = L"S-1-5-21";
    r.files = {L"C:\\Program Files\\Zv Demo\\r\u00e9sum\u00e9.exe", L"C:\\b.dll"};
    r.repairable = true;
    r.root = L"HKEY_USERS\\S-1-5-21";
    r.keyPath = L"Run";
    r.valueName = L"Up,\"date\"r";
    r.valueData = L"\"C:\\Program Files\\Zv Demo\\r\u00e9sum\u00e9.exe\" /x\r\nC:\\b.dll";
    return r;
}

TEST(ZvscanOutput, CsvQuotesOnlyWhatRfc4180Requires) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField(""), "");
}

TEST(ZvscanOutput, FormulaLikeCellsAreNeutralisedInCsvAndIntactInJson) {
    EXPECT_EQ(CsvField("-x"), "'-x");
    EXPECT_EQ(CsvField("@x"), "'@x");
    EXPECT_EQ(CsvField("\tx"), "'\tx");
    EXPECT_EQ(CsvField("\rx"), "\"'\rx\"");
    EXPECT_EQ(CsvField("a=b"), "a=b");
    ItemRecord r = RegistryRecord();
    r.valueName = L"+Updater";
    r.valueData = L"=HYPERLINK(\"http://x\",\"y\")";
    auto safe = ParseCsv(CsvHeader() + CsvItem(r));
    auto raw = ParseCsv(CsvHeader() + CsvItem(r, CsvCells::Raw));
    ASSERT_EQ(safe.size(), 2u);
    ASSERT_EQ(raw.size(), 2u);
    for (size_t i = 0; i < safe[0].size(); ++i) {
        if (safe[0][i] == "value") {
            EXPECT_EQ(safe[1][i], "'+Updater");
            EXPECT_EQ(raw[1][i], "+Updater");
        }
        if (safe[0][i] == "data") {
            EXPECT_EQ(safe[1][i], "'=HYPERLINK(\"http://x\",\"y\")");
            EXPECT_EQ(raw[1][i], "=HYPERLINK(\"http://x\",\"y\")");
        }
    }
    Json json = Json::parse(JsonItem(r));
    EXPECT_EQ(json["value"], "+Updater");
    EXPECT_EQ(json["data"], "=HYPERLINK(\"http://x\",\"y\")");
}

TEST(ZvscanItemKey, DerivedFromIdentifierHiveAndLocationOnly) {
    ItemRecord a = RegistryRecord();
    std::string key = ItemKey(a);
    EXPECT_EQ(key.size(), 12u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos) << key;
    ItemRecord moved = a;
    moved.index = 99;
    moved.files.clear();
    moved.valueData = L"other.exe";
    moved.location = L"hkey_users\\s-1-5-21\\RUN\\[up,\"DATE\"R]";
    EXPECT_EQ(ItemKey(moved), key) << "position, files, data and letter case do not change the key";
    ItemRecord otherHive = a;
    otherHive.hive = L"S-1-5-22";
    EXPECT_NE(ItemKey(otherHive), key);
    ItemRecord otherId = a;
    otherId.id = 0x10101016;
    EXPECT_NE(ItemKey(otherId), key);
    ItemRecord otherLocation = a;
    otherLocation.location += L"x";
    EXPECT_NE(ItemKey(otherLocation), key);
}

TEST(ZvscanOutput, CsvRecordsCarryEveryKindInItsColumns) {
    ItemRecord reg = RegistryRecord();
    ItemRecord ime;
    ime.index = 7;
    ime.id = 0x10600001;
    ime.category = 0x10600000;
    ime.kind = ItemKind::InputMethod;
    ime.location = L"HKCU\\Keyboard Layout\\Preload\\[2]";
    ime.preloadIndex = 2;
    ime.layoutId = L"E0200409";
    ItemRecord ini;
    ini.id = kDriveAutorunId;
    ini.category = 0x10500000;
    ini.kind = ItemKind::AutorunFile;
    ini.iniPath = L"D:\\Autorun.inf";
    ini.section = L"AutoRun";
    ini.iniKey = L"Open";
    ini.iniValue = L"setup.exe";

    auto records = ParseCsv(CsvHeader() + CsvItem(reg) + CsvItem(ime) + CsvItem(ini));
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::string>& header = records[0];
    for (const auto& record : records) ASSERT_EQ(record.size(), header.size());
    auto cell = [&](size_t row, const std::string& column) {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == column) return records[row][i];
        ADD_FAILURE() << "no column " << column;
        return std::string();
    };
    EXPECT_EQ(cell(1, "index"), "36");
    EXPECT_EQ(cell(1, "key"), ItemKey(reg));
    EXPECT_EQ(cell(1, "hive"), "S-1-5-21");
    EXPECT_EQ(cell(1, "id"), "0x10101015");
    EXPECT_EQ(cell(1, "category"), "0x10100000");
    EXPECT_EQ(cell(1, "category_name"), "registry");
    EXPECT_EQ(cell(1, "location"), "HKEY_USERS\\S-1-5-21\\Run\\[Up,\"date\"r]");
    EXPECT_EQ(cell(1, "files"), "C:\\Program Files\\Zv Demo\\r\xC3\xA9sum\xC3\xA9.exe|C:\\b.dll");
    EXPECT_EQ(cell(1, "repairable"), "true");
    EXPECT_EQ(cell(1, "value"), "Up,\"date\"r");
    EXPECT_EQ(cell(1, "data"), Utf8(reg.valueData));
    EXPECT_EQ(cell(1, "preload_index"), "");
    EXPECT_EQ(cell(2, "kind"), "input-method");
    EXPECT_EQ(cell(2, "preload_index"), "2");
    EXPECT_EQ(cell(2, "layout_id"), "E0200409");
    EXPECT_EQ(cell(2, "repairable"), "false");
    EXPECT_EQ(cell(2, "root"), "");
    EXPECT_EQ(cell(3, "ini_path"), "D:\\Autorun.inf");
    EXPECT_EQ(cell(3, "ini_key"), "Open");
    EXPECT_EQ(cell(3, "value"), "setup.exe");
}

TEST(ZvscanOutput, JsonLinesHoldTheKindFields) {
    Json reg = Json::parse(JsonItem(RegistryRecord()));
    EXPECT_EQ(reg["index"], 36);
    EXPECT_EQ(reg["id"], "0x10101015");
    EXPECT_EQ(reg["category"], "0x10100000");
    EXPECT_EQ(reg["category_name"], "registry");
    EXPECT_EQ(reg["kind"], "registry");
    EXPECT_EQ(reg["repairable"], true);
    EXPECT_EQ(reg["files"], Json::array({"C:\\Program Files\\Zv Demo\\r\xC3\xA9sum\xC3\xA9.exe", "C:\\b.dll"}));
    EXPECT_EQ(reg["root"], "HKEY_USERS\\S-1-5-21");
    EXPECT_EQ(reg["key"], ItemKey(RegistryRecord()));
    EXPECT_EQ(reg["hive"], "S-1-5-21");
    EXPECT_EQ(reg["key_path"], "Run");
    EXPECT_EQ(reg["value"], "Up,\"date\"r");
    EXPECT_EQ(reg["data"], Utf8(RegistryRecord().valueData));

    ItemRecord link;
    link.id = 0x10400002;
    link.category = 0x10400000;
    link.kind = ItemKind::Shortcut;
    link.filePath = L"C:\\Startup\\Tray.lnk";
    ItemRecord command;
    command.id = 0x10700020;
    command.category = 0x10700000;
    command.kind = ItemKind::OpenCommand;
    command.extension = L".txt";
    command.progId = L"txtfile";
    command.verb = L"open";
    ItemRecord service;
    service.id = 0x10200001;
    service.category = 0x10200000;
    service.kind = ItemKind::Service;
    Json linkJson = Json::parse(JsonItem(link));
    Json commandJson = Json::parse(JsonItem(command));
    Json serviceJson = Json::parse(JsonItem(service));
    EXPECT_EQ(linkJson["file_path"], "C:\\Startup\\Tray.lnk");
    EXPECT_EQ(linkJson["category_name"], "startup");
    EXPECT_FALSE(linkJson.contains("root"));
    EXPECT_EQ(commandJson["extension"], ".txt");
    EXPECT_EQ(commandJson["progid"], "txtfile");
    EXPECT_EQ(commandJson["verb"], "open");
    EXPECT_EQ(serviceJson["kind"], "service");
    EXPECT_EQ(serviceJson["files"], Json::array());
    EXPECT_FALSE(serviceJson.contains("hive")) << "a machine-wide entry";
    EXPECT_EQ(serviceJson["no_file_found"], true);
    EXPECT_FALSE(reg.contains("no_file_found"));
    EXPECT_EQ(serviceJson.size(), 10u) << serviceJson.dump();
}

TEST(ZvscanOutput, ConversionsKeepWellFormedTextAsItIs) {
    EXPECT_EQ(Utf8(Wide("Gr\xC3\xBC\xC3\x9F"
                        "e \xE2\x82\xAC")),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC");
    std::wstring wellFormed = L"Gr\u00fc\u00dfe \U0001F600";
    EXPECT_EQ(Wtf8(wellFormed), Utf8(wellFormed)) << "the key of a well-formed text is the one it always had";
    EXPECT_EQ(VisibleUtf8(wellFormed), Utf8(wellFormed));
}

TEST(ZvscanOutput, CountersAndSummary) {
    Counters counters = {1, 2, 3, 4, 5, 6};
    Json json = Json::parse(JsonCounters(counters));
    EXPECT_EQ(json["counters"]["file_probes"], 1);
    EXPECT_EQ(json["counters"]["command_lines"], 2);
    EXPECT_EQ(json["counters"]["extension_searches"], 6);
    auto records = ParseCsv(CsvCounters(counters));
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records[4], (std::vector<std::string>{"candidates", "4"}));
    EXPECT_NE(TableCounters(counters).find("directory searches   5"), std::string::npos);

    ScanSummary summary;
    summary.scanned = 10;
    summary.shown = 1;
    summary.repairable = 1;
    summary.rows = 1;
    summary.counters = counters;
    summary.library = "C:\\zv\\zvatrun.dll (x86-64)";
    std::string text = SummaryText(summary);
    EXPECT_NE(text.find("1 of 10 items shown (1 repairable) from 1 row in "), std::string::npos) << text;
    EXPECT_NE(text.find(" s with C:\\zv\\zvatrun.dll (x86-64)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("file probes 1, command lines 2, file lists 3, candidates 4, directory searches 5, "
                        "extension searches 6\n"),
              std::string::npos)
        << text;
}

TEST(ZvscanOutput, TableShowsEachFileUnderItsItem) {
    std::vector<std::string> lines = Lines(TableItem(RegistryRecord()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "   36  " + ItemKey(RegistryRecord()) +
                            "  0x10101015  registry          yes     HKEY_USERS\\S-1-5-21\\Run\\[Up,\"date\"r]  (hive S-1-5-21)");
    EXPECT_EQ(lines[1], std::string(59, ' ') +
                            "data: \"C:\\Program Files\\Zv Demo\\r\xC3\xA9sum\xC3\xA9.exe\" /x\\x0d\\x0aC:\\b.dll");
    EXPECT_EQ(lines[2], std::string(59, ' ') + "C:\\Program Files\\Zv Demo\\r\xC3\xA9sum\xC3\xA9.exe");
    EXPECT_EQ(lines[3], std::string(59, ' ') + "C:\\b.dll");
}

TEST(ZvscanCategories, NamesAndHexValuesSelectTheSameCategory) {
    const unsigned long categories[] = {0x10100000, 0x10200000, 0x10300000, 0x10400000,
                                        0x10500000, 0x10600000, 0x10700000};
    for (unsigned long category : categories) {
        std::string name = CategoryName(category);
        EXPECT_NE(name, "unknown");
        EXPECT_EQ(ParseCategory(name), category) << name;
        EXPECT_EQ(ParseCategory(Hex32(category)), category);
    }
    EXPECT_STREQ(CategoryName(0x10800000), "unknown");
    EXPECT_EQ(ParseCategory("0x10101015"), std::nullopt) << "an identifier, not a category";
    EXPECT_EQ(ParseCategory("Registry"), 0x10100000ul) << "names in any letter case";
    EXPECT_EQ(ParseHex32("10101015"), 0x10101015ul);
    EXPECT_EQ(ParseHex32("0XaBc"), 0xABCul);
    EXPECT_EQ(ParseHex32("0x123456789"), std::nullopt);
    EXPECT_EQ(ParseHex32("0x"), std::nullopt);
    EXPECT_EQ(ParseHex32("12g"), std::nullopt);
}

ParseOutcome Parse(std::vector<std::string> args, Options& options) { return ParseCommandLine(args, options); }

TEST(ZvscanCommandLine, ScanOptionsBecomeSettingsAndFilters) {
    Options options;
    ParseOutcome outcome = Parse(
        {"--skip-probe", "--unrepairable-only", "--format", "csv", "--counters", "--category", "services", "--category",
         "0x10700000", "--id", "10101015", "--location", "HKCU\\A", "--index", "3", "--dll", "C:\\x\\zvatrun.dll"},
        options);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(options.command, Command::Scan);
    EXPECT_EQ(options.scanFlags, ZV_SCAN_SKIP_PROBE | ZV_SCAN_UNREPAIRABLE_ONLY);
    EXPECT_EQ(options.format, OutputFormat::Csv);
    EXPECT_TRUE(options.counters);
    EXPECT_EQ(options.selection.categories, (std::vector<unsigned long>{0x10200000, 0x10700000}));
    EXPECT_EQ(options.selection.ids, (std::vector<unsigned long>{0x10101015}));
    EXPECT_EQ(options.selection.locations, (std::vector<std::wstring>{L"HKCU\\A"}));
    EXPECT_EQ(options.selection.indexes, (std::vector<unsigned long>{3}));
    EXPECT_EQ(options.dllPath, L"C:\\x\\zvatrun.dll");

    Options defaults;
    ASSERT_TRUE(Parse({}, defaults).run);
    EXPECT_EQ(defaults.scanFlags, 0u);
    EXPECT_EQ(defaults.format, OutputFormat::Table);
    EXPECT_TRUE(defaults.dllPath.empty());
}

TEST(ZvscanCommandLine, RepairNeedsASelectionThatPinsItems) {
    Options byIndex;
    ParseOutcome outcome = Parse(
        {"--repairable-only", "repair", "--index", "12", "--key", "3F09C2A1B7D4", "--dry-run", "--file", ""}, byIndex);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(byIndex.command, Command::Repair);
    EXPECT_EQ(byIndex.scanFlags, ZV_SCAN_REPAIRABLE_ONLY);
    EXPECT_TRUE(byIndex.dryRun);
    EXPECT_FALSE(byIndex.yes);
    EXPECT_EQ(byIndex.requestFile, std::wstring());
    EXPECT_EQ(byIndex.selection.keys, (std::vector<std::string>{"3f09c2a1b7d4"}));
    Options byKey;
    ASSERT_TRUE(Parse({"repair", "--key", "3f09c2a1b7d4"}, byKey).run);
    Options indexAndLocation;
    ASSERT_TRUE(Parse({"repair", "--index", "3", "--location", "HKCU\\A"}, indexAndLocation).run);

    Options byLocation;
    outcome = Parse({"repair", "-y", "--id", "0x10101015", "--location", "HKEY_USERS\\S\\Run\\[R\xC3\xA9sum\xC3\xA9]"},
                    byLocation);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_TRUE(byLocation.yes);
    EXPECT_EQ(byLocation.requestFile, std::nullopt);
    EXPECT_EQ(byLocation.selection.locations, (std::vector<std::wstring>{L"HKEY_USERS\\S\\Run\\[R\u00e9sum\u00e9]"}));

    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"repair"},
                                                                               {"repair", "--id", "0x10101015"},
                                                                               {"repair", "--location", "X"},
                                                                               {"repair", "--category", "registry"}}) {
        Options options;
        outcome = Parse(args, options);
        EXPECT_FALSE(outcome.run);
        EXPECT_EQ(outcome.exitCode, kExitUsage) << args.back();
        EXPECT_NE(outcome.text.find("repair needs --key, or --id together with --location"), std::string::npos);
    }
    // A position alone can name another entry once the list has shifted.
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"repair", "--index", "12"}, {"repair", "--yes", "--index", "12", "--id", "0x10101015"}}) {
        Options options;
        outcome = Parse(args, options);
        EXPECT_FALSE(outcome.run);
        EXPECT_EQ(outcome.exitCode, kExitUsage);
        EXPECT_NE(outcome.text.find("repair --index needs the --key (or the --location)"), std::string::npos)
            << outcome.text;
    }
}

TEST(ZvscanCommandLine, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--bogus"},
        {"--format", "xml"},
        {"--repairable-only", "--unrepairable-only"},
        {"--id", "0x1234567890"},
        {"--id", "zz"},
        {"--category", "everything"},
        {"--index", "0"},
        {"--index", "-3"},
        {"--index", "99999999999"},
        {"--key", "12345"},
        {"--csv-raw"},
        {"--dll"},
        {"repair", "--index", "1", "--format", "json"},
        {"repair", "--index", "1", "--counters"},
        {"scan"},
    };
    for (const auto& args : wrong) {
        Options options;
        ParseOutcome outcome = Parse(args, options);
        EXPECT_FALSE(outcome.run) << args[0];
        EXPECT_EQ(outcome.exitCode, kExitUsage) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(outcome.text.rfind("zvscan: ", 0), 0u) << outcome.text;
        EXPECT_EQ(outcome.text.find("Could not convert"), std::string::npos) << outcome.text;
    }
}

TEST(ZvscanCommandLine, AnImageIsScannedAndNeverWritten) {
    Options options;
    ParseOutcome outcome = Parse({"--image", "D:\\mnt\\image", "--user", "alice", "--format", "json"}, options);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(options.imageRoot, L"D:\\mnt\\image");
    EXPECT_EQ(options.imageUser, L"alice");
    EXPECT_EQ(options.command, Command::Scan);
    Options diff;
    ASSERT_TRUE(Parse({"diff", "base.jsonl", "--image", "D:\\img"}, diff).run);
    EXPECT_EQ(diff.imageRoot, L"D:\\img");

    Options userAlone;
    EXPECT_EQ(Parse({"--user", "alice"}, userAlone).exitCode, kExitUsage);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"repair", "--key", "3f09c2a1b7d4", "--image", "D:\\img"},
          std::vector<std::string>{"--image", "D:\\img", "undo"}}) {
        Options refused;
        outcome = Parse(args, refused);
        EXPECT_FALSE(outcome.run) << args[0];
        EXPECT_EQ(outcome.exitCode, kExitUsage) << args[0];
        const std::string& command = args[0] == "repair" ? args[0] : args[2];
        EXPECT_NE(outcome.text.find(command + " is refused with --image"), std::string::npos) << outcome.text;
    }
    Options help;
    outcome = Parse({"--help"}, help);
    for (const char* text : {"--image", "--user", "NAME|SID", "zvoffline.dll"})
        EXPECT_NE(outcome.text.find(text), std::string::npos) << text;
}

TEST(ZvscanCommandLine, NamesInAnyLetterCase) {
    Options options;
    ParseOutcome outcome = Parse({"--format", "JSON", "--category", "Input-MUI", "--key", "ABCDEF012345"}, options);
    ASSERT_TRUE(outcome.run) << outcome.text;
    EXPECT_EQ(options.format, OutputFormat::Json);
    EXPECT_EQ(options.selection.categories, (std::vector<unsigned long>{0x10600000}));
    EXPECT_EQ(options.selection.keys, (std::vector<std::string>{"abcdef012345"}));
    Options csv;
    ASSERT_TRUE(Parse({"--format", "Csv", "--csv-raw"}, csv).run);
    EXPECT_EQ(csv.csvCells, CsvCells::Raw);
}

TEST(ZvscanCommandLine, HelpDocumentsEveryOptionAndTheExitCodes) {
    Options options;
    ParseOutcome outcome = Parse({"--help"}, options);
    EXPECT_FALSE(outcome.run);
    EXPECT_EQ(outcome.exitCode, kExitSuccess);
    for (const char* option : {"--dll", "--skip-probe", "--repairable-only", "--unrepairable-only", "--format",
                               "--counters", "--category", "--id", "--location", "--index", "--key", "--csv-raw",
                               "--version", "repair", "--yes", "--dry-run", "--file", "Exit codes: 0 success; 1 ",
                               "2 usage error", "130 interrupted"})
        EXPECT_NE(outcome.text.find(option), std::string::npos) << option;
    Options repairHelp;
    EXPECT_EQ(Parse({"repair", "--help"}, repairHelp).text, outcome.text);
}

TEST(ZvscanSelection, EveryGivenFilterMustHold) {
    ItemRecord r = RegistryRecord();
    Selection all;
    EXPECT_TRUE(all.Matches(r));
    Selection byLocation;
    byLocation.ids = {0x10101016, 0x10101015};
    byLocation.locations = {L"hkey_users\\s-1-5-21\\RUN\\[up,\"DATE\"r]"};
    EXPECT_TRUE(byLocation.Matches(r)) << "ids are alternatives; locations compare without regard to case";
    EXPECT_TRUE(byLocation.PinsItems());
    byLocation.locations = {L"HKEY_USERS\\S-1-5-21\\Run"};
    EXPECT_FALSE(byLocation.Matches(r)) << "a location matches as a whole";
    Selection byIndex;
    byIndex.indexes = {35};
    EXPECT_FALSE(byIndex.Matches(r));
    byIndex.indexes.push_back(36);
    EXPECT_TRUE(byIndex.Matches(r));
    byIndex.categories = {0x10700000};
    EXPECT_FALSE(byIndex.Matches(r));
    Selection idOnly;
    idOnly.ids = {0x10101015};
    EXPECT_FALSE(idOnly.PinsItems());
}

TEST(ZvscanRepairReport, ResultsInWords) {
    EXPECT_EQ(DescribeRepairResult(S_OK, ItemKind::Registry, L"C:\\a.exe"), "S_OK (0x00000000): repaired");
    EXPECT_EQ(DescribeRepairResult(S_FALSE, ItemKind::Registry, L"C:\\windows\\system32\\rundll32.exe"),
              "S_FALSE (0x00000001): not repaired: the request named C:\\windows\\system32\\rundll32.exe, a known "
              "system host program, which the library refuses to act on; --file PATH names another file for the "
              "request (such as the item's own library or script)");
    EXPECT_EQ(DescribeRepairResult(S_FALSE, ItemKind::InputMethod, L"C:\\x.ime"),
              "S_FALSE (0x00000001): not repaired: the preload list changed since the scan");
    EXPECT_EQ(DescribeRepairResult(E_NOTIMPL, ItemKind::Service, L""),
              "E_NOTIMPL (0x80004001): not repaired: this location has no repair");
    EXPECT_EQ(DescribeRepairResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ItemKind::Registry, L"").substr(0, 53),
              "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) (0x80070002)");
    std::string other = DescribeRepairResult(HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT), ItemKind::Shortcut, L"");
    EXPECT_EQ(other.substr(0, 48), "HRESULT_FROM_WIN32(19) (0x80070013): not repaire") << other;
    EXPECT_GT(other.size(), 50u) << "the system's text follows";
}

TEST(ZvscanRepairReport, DryRunPredictsTheLibrarysHostProgramRule) {
    wchar_t windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    for (const Tessel::KnownHostProgram* known = Tessel::kKnownHostPrograms; known->fileName; ++known) {
        std::wstring path = std::wstring(windows) + L"\\SYSTEM32\\" + known->fileName;
        EXPECT_TRUE(IsKnownHostProgram(path)) << Utf8(path);
        EXPECT_TRUE(IsKnownHostProgram(L"\\\\?\\" + path)) << Utf8(path);
        EXPECT_FALSE(IsKnownHostProgram(std::wstring(L"C:\\ZvDemo\\") + known->fileName)) << "a copy elsewhere";
    }
    EXPECT_FALSE(IsKnownHostProgram(std::wstring(windows) + L"\\system32\\notepad.exe"));
    EXPECT_FALSE(IsKnownHostProgram(L"rundll32.exe"));

    std::wstring rundll32 = std::wstring(windows) + L"\\system32\\rundll32.exe";
    ItemRecord r = RegistryRecord();
    EXPECT_EQ(PredictRepair(r, L"C:\\ZvDemo\\x.exe"), RepairVerdict::WouldRepair);
    EXPECT_EQ(PredictRepair(r, L""), RepairVerdict::WouldRepair);
    EXPECT_EQ(PredictRepair(r, rundll32), RepairVerdict::Refused);
    std::string refused = DescribeVerdict(RepairVerdict::Refused, rundll32);
    EXPECT_NE(refused.find(Utf8(rundll32)), std::string::npos) << refused;
    EXPECT_NE(refused.find("--file PATH"), std::string::npos) << refused;
    r.repairable = false;
    EXPECT_EQ(PredictRepair(r, rundll32), RepairVerdict::NoRepair) << "the library checks for a repair first";
}

// Items for ReadItemRecord: registry and autorun-file items answer the same kind IID, each with its
// own interface.
template <class Kind>
class FakeItem : public IZVAutorunItemEx, public Kind {
public:
    FakeItem(ULONG id, const wchar_t* location) : id_(id), location_(location) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IZVAutorunItem_Reg)) {
            *ppv = static_cast<Kind*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    ULONG STDMETHODCALLTYPE GetId() override { return id_; }
    ULONG STDMETHODCALLTYPE GetCategory() override { return id_ & 0xFFF00000u; }
    LPCWSTR STDMETHODCALLTYPE GetLocation() override { return location_; }
    ULONG STDMETHODCALLTYPE GetFileCount() override { return 3; }
    LPCWSTR STDMETHODCALLTYPE GetFile(ULONG index) override {
        static const wchar_t* const kFiles[] = {L"C:\\svchost.exe", L"", L"C:\\svc.dll"};
        return index < 3 ? kFiles[index] : nullptr;
    }
    BOOL STDMETHODCALLTYPE CanRepair() override { return TRUE; }
    HRESULT STDMETHODCALLTYPE Repair(const ZV_REPAIR_REQUEST*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE SetOwner(IZVAutorunScanner*) override {}

private:
    ULONG id_;
    const wchar_t* location_;
};

class FakeRegItem : public FakeItem<IZVAutorunItem_Reg> {
public:
    FakeRegItem(const wchar_t* location, const wchar_t* keyPath) : FakeItem(0x10101015, location), keyPath_(keyPath) {}
    HKEY STDMETHODCALLTYPE GetRootKey() override { return reinterpret_cast<HKEY>(0x1234); }
    LPCWSTR STDMETHODCALLTYPE GetKeyPath() override { return keyPath_; }
    LPCWSTR STDMETHODCALLTYPE GetValueName() override { return L"Name"; }
    LPCWSTR STDMETHODCALLTYPE GetValueData() override { return nullptr; }

private:
    const wchar_t* keyPath_;
};

class FakeIniItem : public FakeItem<IZVAutorunItem_Ini> {
public:
    FakeIniItem() : FakeItem(kDriveAutorunId, L"D:\\Autorun.inf") {}
    LPCWSTR STDMETHODCALLTYPE GetIniPath() override { return L"D:\\Autorun.inf"; }
    LPCWSTR STDMETHODCALLTYPE GetSection() override { return L"AutoRun"; }
    LPCWSTR STDMETHODCALLTYPE GetKeyName() override { return L"Open"; }
    LPCWSTR STDMETHODCALLTYPE GetValue() override { return L"setup.exe /s"; }
};

TEST(ZvscanItemRecord, KindAndRootComeFromTheItem) {
    FakeRegItem hive(L"HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\Run\\[Name]", L"SOFTWARE\\Run");
    ItemRecord record = ReadItemRecord(&hive, 5);
    EXPECT_EQ(record.kind, ItemKind::Registry);
    EXPECT_EQ(record.index, 5u);
    EXPECT_EQ(record.root, L"HKEY_USERS\\S-1-5-21-0-0-0-1000");
    EXPECT_EQ(record.valueName, L"Name");
    EXPECT_EQ(record.valueData, L"");
    EXPECT_EQ(record.files, (std::vector<std::wstring>{L"C:\\svchost.exe", L"C:\\svc.dll"})) << "no empty files";

    FakeRegItem noKey(L"HKEY_USERS\\S-1-5-18", L"");
    EXPECT_EQ(ReadItemRecord(&noKey, 1).root, L"HKEY_USERS\\S-1-5-18");
    FakeRegItem unknown(L"", L"SOFTWARE\\Run");
    EXPECT_EQ(ReadItemRecord(&unknown, 1).root, L"0x00001234");

    EXPECT_TRUE(record.hive.empty()) << "no user hive behind an unknown handle";

    HKEY userHive = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, L".Default", 0, KEY_READ, &userHive), ERROR_SUCCESS);
    EXPECT_TRUE(EqualsIgnoreCase(HiveOfKey(userHive), L".Default")) << Utf8(HiveOfKey(userHive));
    RegCloseKey(userHive);
    HKEY machineKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &machineKey), ERROR_SUCCESS);
    EXPECT_EQ(HiveOfKey(machineKey), L"");
    RegCloseKey(machineKey);
    EXPECT_EQ(HiveOfKey(HKEY_USERS), L"");

    // An offline scanner's items name their hive in their location: their keys are no keys here.
    EXPECT_EQ(HiveOfLocation(L"HKEY_USERS\\S-1-5-21-9-1001\\SOFTWARE\\Run\\[x]"), L"S-1-5-21-9-1001");
    EXPECT_EQ(HiveOfLocation(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Run\\[x]"), L"");
    FakeRegItem offline(L"HKEY_USERS\\S-1-5-21-9-1001\\SOFTWARE\\Run\\[Name]", L"SOFTWARE\\Run");
    EXPECT_EQ(ReadItemRecord(&offline, 1, 0, true).hive, L"S-1-5-21-9-1001");
    EXPECT_EQ(ReadItemRecord(&offline, 1, 0, false).hive, L"");

    FakeIniItem autorun;
    record = ReadItemRecord(&autorun, 1);
    EXPECT_EQ(record.kind, ItemKind::AutorunFile);
    EXPECT_EQ(record.iniPath, L"D:\\Autorun.inf");
    EXPECT_EQ(record.section, L"AutoRun");
    EXPECT_EQ(record.iniKey, L"Open");
    EXPECT_EQ(record.iniValue, L"setup.exe /s");
    EXPECT_TRUE(record.root.empty());
}

// zvscan.exe beside this test, run with its output captured.
TEST(ZvscanProcess, JsonLinesOfARealScanParseOneByOne) {
    ProcessRun run = RunZvscan(L"--format json --counters");
    ASSERT_EQ(run.exitCode, 0u);
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 4u) << "the start and end records and Wine's own entries at least";
    unsigned long previous = 0;
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        Json item = Json::parse(lines[i]);
        for (const char* field :
             {"index", "id", "category", "category_name", "kind", "location", "files", "repairable"})
            ASSERT_TRUE(item.contains(field)) << field << " in " << lines[i];
        EXPECT_GT(item["index"].get<unsigned long>(), previous);
        previous = item["index"];
        unsigned long id = *ParseHex32(item["id"].get<std::string>());
        EXPECT_EQ(item["category"], Hex32(id & 0xFFF00000ul));
        EXPECT_EQ(item["category_name"], CategoryName(id & 0xFFF00000ul));
        if (item["kind"] == "registry") {
            for (const char* field : {"root", "key", "value", "data"}) EXPECT_TRUE(item.contains(field)) << lines[i];
        }
    }
    Json counters = Json::parse(lines[lines.size() - 2]);
    EXPECT_EQ(counters["counters"].size(), 6u) << lines[lines.size() - 2];
}

TEST(ZvscanProcess, CsvOfARealScanHasOneRecordPerItem) {
    ProcessRun json = RunZvscan(L"--format json --skip-probe --category registry");
    ProcessRun csv = RunZvscan(L"--format csv --skip-probe --category registry");
    ASSERT_EQ(csv.exitCode, 0u);
    auto records = ParseCsv(csv.out);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.size() - 1, Lines(json.out).size() - 2) << "JSON Lines: the items between two records";
    for (const auto& record : records) {
        ASSERT_EQ(record.size(), records[0].size());
        if (&record != &records[0]) {
            EXPECT_EQ(record[4], "registry");
        }
    }
}

TEST(ZvscanProcess, ExitCodes) {
    ProcessRun help = RunZvscan(L"--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
    EXPECT_EQ(RunZvscan(L"--no-such-option").exitCode, 2u);
    EXPECT_EQ(RunZvscan(L"repair").exitCode, 2u);
    ProcessRun missing = RunZvscan(L"--dll C:\\no\\such\\zvatrun.dll");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_EQ(missing.out, "") << "nothing on stdout";
    std::string words = SystemMessage(ERROR_MOD_NOT_FOUND);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(missing.err, "zvscan: cannot load C:\\no\\such\\zvatrun.dll: " + words + " (error 126)\n");
    EXPECT_EQ(RunZvscan(L"--dll C:\\windows\\system32\\kernel32.dll").exitCode, 1u) << "no factory there";
    ProcessRun none = RunZvscan(L"repair --yes --index 4000000000 --key 000000000000");
    EXPECT_EQ(none.exitCode, 1u) << "nothing matched, nothing repaired";
    EXPECT_EQ(none.out, "");
    ProcessRun filtered = RunZvscan(L"--skip-probe --id 0x10101015 --location \"HKEY_USERS\\no such hive\"");
    EXPECT_EQ(filtered.exitCode, 0u);
    EXPECT_EQ(filtered.out, TableHeader());
    EXPECT_NE(filtered.err.find("zvscan: no item of the "), std::string::npos) << filtered.err;
    EXPECT_NE(filtered.err.find(" scanned matched --id 0x10101015 --location \"HKEY_USERS\\no such hive\"\n"),
              std::string::npos)
        << filtered.err;
}

}  // namespace
}  // namespace zvscan
