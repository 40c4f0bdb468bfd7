// zvscan's output as a responder keeps it: whole or refused, framed by its start and end records,
// exact in JSON and CSV, and safe to look at in the table.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <regex>
#include <string>
#include <vector>

#include "commands/cli_options.h"
#include "commands/console.h"
#include "loader/scanner_library.h"
#include "report/item_record.h"
#include "report/output.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

using test::RunValue;

using Json = nlohmann::json;
using test::Lines;
using test::ParseCsv;
using test::RunZvscan;

std::wstring TempFolder() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string text = test::ReadAll(file);
    return text;
}

void WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// The files of a folder whose names start with `prefix`.
std::vector<std::wstring> FilesStartingWith(const std::wstring& folder, const std::wstring& prefix) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + prefix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// The third and later lines of a table item: what stands under its location.
std::vector<std::string> Under(const ItemRecord& record, size_t width = 0) {
    std::vector<std::string> lines = Lines(TableItem(record, width));
    for (std::string& line : lines) line.erase(0, line.find_first_not_of(' '));
    lines.erase(lines.begin());
    return lines;
}

TEST(ZvscanOutputIntegrity, AFailedWriteIsAnErrorInEveryForm) {
    for (const wchar_t* arguments : {L"--format json", L"--format csv", L"--skip-probe", L"--help"}) {
        SCOPED_TRACE(Utf8(arguments));
        test::ProcessRun run = RunZvscan(arguments, L"Z:\\dev\\full");
        EXPECT_EQ(run.exitCode, 1u) << run.err;
        EXPECT_NE(run.err.find("zvscan: cannot write the output: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("incomplete"), std::string::npos) << run.err;
    }
}

TEST(ZvscanOutputFile, TakesItsNameOnlyWhenTheCommandSucceeded) {
    std::wstring folder = TempFolder();
    std::wstring name = L"zv-output-" + std::to_wstring(GetCurrentProcessId());
    std::wstring path = folder + name + L".jsonl";
    WriteFileText(path, "OLD\n");

    test::ProcessRun failed = RunZvscan(L"--format json --output \"" + path + L"\" --dll C:\\no\\such\\zvatrun.dll");
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(ReadFileText(path), "OLD\n") << "a failed scan leaves the file as it was";

    test::ProcessRun whole = RunZvscan(L"--format json --skip-probe --category registry --output \"" + path + L"\"");
    EXPECT_EQ(whole.exitCode, 0u) << whole.err;
    EXPECT_EQ(whole.out, "") << "the listing goes to the file alone";
    std::vector<std::string> lines = Lines(ReadFileText(path));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(Json::parse(lines.front()).contains("scan_start"));
    EXPECT_TRUE(Json::parse(lines.back()).contains("scan_end"));

    // Cut short in this process: what was written never takes the name.
    std::wstring cut = folder + name + L"-cut.jsonl";
    ASSERT_TRUE(RedirectOutput(cut));
    EXPECT_TRUE(Write(stdout, "{\"index\":1}\n"));
    EXPECT_TRUE(FinishOutput(false));
    EXPECT_EQ(GetFileAttributesW(cut.c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(FilesStartingWith(folder, name), std::vector<std::wstring>{name + L".jsonl"})
        << "no temporary file is left";
    DeleteFileW(path.c_str());
}

TEST(ZvscanSavedScan, StartAndEndRecordsFrameTheItems) {
    test::ProcessRun run = RunZvscan(L"--format json --skip-probe --category registry --category services");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u);
    Json start = Json::parse(lines.front());
    ASSERT_EQ(start.size(), 1u);
    const Json& s = start["scan_start"];
    EXPECT_EQ(s["schema"], 2);
    EXPECT_EQ(s["zvscan"]["version"], kVersion);
    EXPECT_EQ(s["zvscan"]["architecture"], sizeof(void*) == 8 ? "x86-64" : "x86");
    EXPECT_TRUE(std::regex_search(s["library"]["path"].get<std::string>(), std::regex("zvatrun\\.dll$")));
    EXPECT_EQ(s["library"]["architecture"], s["zvscan"]["architecture"]);
    EXPECT_TRUE(s["view"] == "native" || s["view"] == "wow64") << s["view"];
    EXPECT_FALSE(s["computer"].get<std::string>().empty());
    EXPECT_FALSE(s["user"].get<std::string>().empty());
    EXPECT_TRUE(std::regex_match(s["windows"]["version"].get<std::string>(), std::regex("[0-9]+\\.[0-9]+")));
    EXPECT_GT(s["windows"]["build"].get<unsigned long>(), 0u);
    EXPECT_TRUE(std::regex_match(s["started"].get<std::string>(),
                                 std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z")));
    EXPECT_EQ(s["flags"], Json::array({"skip_probe"}));
    EXPECT_EQ(s["filters"]["categories"], Json::array({"0x10100000", "0x10200000"}));
    EXPECT_EQ(s["evidence"], false);

    Json end = Json::parse(lines.back());
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end["scan_end"]["items"], lines.size() - 2) << "the count of the item records between";
    EXPECT_GE(end["scan_end"]["seconds"].get<double>(), 0.0);
    for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_TRUE(Json::parse(lines[i]).contains("location")) << lines[i];

    test::ProcessRun none = RunZvscan(L"--format json --skip-probe --key 000000000000");
    std::vector<std::string> framed = Lines(none.out);
    ASSERT_EQ(framed.size(), 2u) << "a scan that kept nothing still says what it scanned";
    EXPECT_EQ(Json::parse(framed[0])["scan_start"]["filters"]["keys"], Json::array({"000000000000"}));
    EXPECT_EQ(Json::parse(framed[1])["scan_end"]["items"], 0);
}

// Two names that differ in an unpaired surrogate alone are two entries in every form.
TEST(ZvscanText, UnpairedSurrogatesStayDistinctInKeysAndEveryForm) {
    ItemRecord low = RunValue(std::wstring(L"ZvT") + wchar_t(0xD800) + L"x", L"agent.exe");
    ItemRecord high = RunValue(std::wstring(L"ZvT") + wchar_t(0xDBFF) + L"x", L"agent.exe");
    EXPECT_NE(ItemKey(low), ItemKey(high));
    std::string json = JsonItem(low);
    EXPECT_NE(json.find("\"value\":\"ZvT\\ud800x\""), std::string::npos) << json;
    EXPECT_NE(JsonItem(high).find("\"value\":\"ZvT\\udbffx\""), std::string::npos);
    EXPECT_NE(CsvItem(low).find("ZvT\\ud800x"), std::string::npos) << CsvItem(low);
    EXPECT_NE(TableItem(low).find("[ZvT\\ud800x]"), std::string::npos) << TableItem(low);
    EXPECT_NE(TableItem(low), TableItem(high));
    ItemRecord pair = RunValue(L"Zv\U0001F600", L"agent.exe");
    EXPECT_EQ(Json::parse(JsonItem(pair))["value"], "Zv\xF0\x9F\x98\x80") << "a surrogate pair is one character";

    // The same through the library and zvscan.exe, from two values of a real Run key.
    const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::wstring unique = std::to_wstring(GetCurrentProcessId());
    std::wstring names[] = {std::wstring(L"ZvT") + wchar_t(0xD800) + L"x" + unique,
                            std::wstring(L"ZvT") + wchar_t(0xDBFF) + L"x" + unique};
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, run, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const wchar_t data[] = L"C:\\zv\\surrogate.exe";
    for (const std::wstring& name : names)
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof(data));
    test::ProcessRun listing = RunZvscan(L"--format json --skip-probe --category registry");
    for (const std::wstring& name : names) RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
    std::vector<std::string> keys;
    for (const std::string& line : Lines(listing.out)) {
        if (line.find("x" + Utf8(unique) + "]") == std::string::npos) continue;
        EXPECT_TRUE(line.find("ZvT\\ud800x") != std::string::npos || line.find("ZvT\\udbffx") != std::string::npos)
            << line;
        keys.push_back(line.substr(line.find("\"key\":\"") + 7, 12));
    }
    ASSERT_EQ(keys.size(), 2u) << listing.out;
    EXPECT_NE(keys[0], keys[1]);
}

TEST(ZvscanText, TheTableEscapesWhatDrivesOrReordersTheTerminal) {
    EXPECT_EQ(TableText(std::wstring(L"\x1b[2J\x1b[31mred")), "\\x1b[2J\\x1b[31mred");
    EXPECT_EQ(TableText(std::wstring(L"a\x7f"
                                     L"b\x9b"
                                     L"c\tC:\\d")),
              "a\\x7fb\\x9bc\\x09C:\\d");
    EXPECT_EQ(TableText(std::wstring(L"exe.\x202etxt \x2066x\x2069 \x202a")), "exe.\\u202etxt \\u2066x\\u2069 \\u202a");
    EXPECT_EQ(TableText(std::wstring(L"r\u00e9sum\u00e9")), "r\xC3\xA9sum\xC3\xA9");

    ItemRecord record = RunValue(
        L"\x1b[2J\x202e"
        L"evil",
        L"x.exe");
    std::string line = Lines(TableItem(record)).front();
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    EXPECT_NE(line.find("[\\x1b[2J\\u202eevil]"), std::string::npos) << line;
    EXPECT_EQ(Json::parse(JsonItem(record))["value"],
              "\x1b[2J\xE2\x80\xAE"
              "evil")
        << "JSON keeps the text exact";
    auto csv = ParseCsv(CsvHeader() + CsvItem(record));
    EXPECT_EQ(csv[1][12],
              "\x1b[2J\xE2\x80\xAE"
              "evil")
        << "CSV keeps the text exact";
}

TEST(ZvscanOutput, TheTableShowsDataToTheTerminalsWidthAndMarksItemsWithoutFiles) {
    std::wstring longData = L"\"C:\\Program Files\\Agent\\agent.exe\" " + std::wstring(200, L'x');
    ItemRecord record = RunValue(L"Agent", longData);
    EXPECT_EQ(Under(record).front(), "data: " + Utf8(longData)) << "whole where the width is not known";
    std::string cut = Under(record, 100).front();
    EXPECT_EQ(cut.size(), 100u - 59u - 1u);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(cut.substr(0, 20), "data: \"C:\\Program Fi");

    ItemRecord missing = RunValue(L"Gone", L"C:\\gone\\agent.exe /s");
    missing.files.clear();
    EXPECT_EQ(Under(missing), (std::vector<std::string>{"data: C:\\gone\\agent.exe /s", "no file found"}));
    EXPECT_EQ(Json::parse(JsonItem(missing))["no_file_found"], true);
    EXPECT_FALSE(Json::parse(JsonItem(record)).contains("no_file_found"));
    auto csv = ParseCsv(CsvHeader() + CsvItem(missing) + CsvItem(record));
    ASSERT_EQ(csv[0][23], "no_file_found");
    EXPECT_EQ(csv[1][23], "true");
    EXPECT_EQ(csv[2][23], "false");
}

TEST(ZvscanLibrary, ALoadErrorNamesTheFileInItsMessage) {
    std::wstring path = TempFolder() + L"zv-not-a-library-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
    WriteFileText(path, "this is no PE image");
    ScannerLibrary library;
    EXPECT_FALSE(library.Load(path));
    DeleteFileW(path.c_str());
    EXPECT_EQ(library.Error().find('%'), std::string::npos) << library.Error();
    EXPECT_NE(library.Error().find("cannot load " + Utf8(path) + ": "), std::string::npos) << library.Error();
    // The system's text for this error has the file as its insert ("... for %1").
    std::string filled = SystemMessage(ERROR_BAD_EXE_FORMAT, L"C:\\x86\\zvatrun.dll");
    EXPECT_NE(filled.find(" C:\\x86\\zvatrun.dll"), std::string::npos) << filled;
    EXPECT_EQ(SystemMessage(ERROR_BAD_EXE_FORMAT).find('%'), std::string::npos) << "an insert without a value goes";
}

}  // namespace
}  // namespace zvscan
