#include "report/output.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "win/text.h"

namespace zvscan {

namespace {

using Json = nlohmann::ordered_json;

// The counters in their kind order: 1 file probes, 2 command lines, 3 file lists, 4 candidates,
// 5 directory searches, 6 extension searches.
const char* const kCounterNames[] = {"file probes", "command lines",      "file lists",
                                     "candidates",  "directory searches", "extension searches"};
const char* const kCounterJsonNames[] = {"file_probes", "command_lines",      "file_lists",
                                         "candidates",  "directory_searches", "extension_searches"};

// "key" is the item's key: a registry item's key is "key_path", an autorun file's "ini_key".
const char* const kCsvColumns[] = {"index",     "key",       "id",            "category",  "category_name", "kind",
                                   "location",  "hive",      "repairable",    "files",     "root",          "key_path",
                                   "value",     "data",      "ini_path",      "section",   "ini_key",       "file_path",
                                   "preload_index", "layout_id", "extension", "progid",    "verb"};

// With --evidence, after the columns above: one value per file, joined with '|' like the files.
const char* const kCsvEvidenceColumns[] = {"file_exists", "file_size", "file_last_write", "file_sha256", "file_reason"};

// Field by field, the kind's own facts under the names the JSON and CSV forms share.
struct KindField {
    const char* name;
    Json value;  // a string, or the preload index as a number
};

std::vector<KindField> KindFields(const ItemRecord& r) {
    switch (r.kind) {
        case ItemKind::Registry:
            return {{"root", Utf8(r.root)},
                    {"key_path", Utf8(r.keyPath)},
                    {"value", Utf8(r.valueName)},
                    {"data", Utf8(r.valueData)}};
        case ItemKind::AutorunFile:
            return {{"ini_path", Utf8(r.iniPath)},
                    {"section", Utf8(r.section)},
                    {"ini_key", Utf8(r.iniKey)},
                    {"value", Utf8(r.iniValue)}};
        case ItemKind::Shortcut:
            return {{"file_path", Utf8(r.filePath)}};
        case ItemKind::InputMethod:
            return {{"preload_index", r.preloadIndex}, {"layout_id", Utf8(r.layoutId)}};
        case ItemKind::OpenCommand:
            return {{"extension", Utf8(r.extension)}, {"progid", Utf8(r.progId)}, {"verb", Utf8(r.verb)}};
        case ItemKind::Service:
        case ItemKind::Task:
        case ItemKind::Other:
            break;
    }
    return {};
}

Json EvidenceJson(const std::wstring& file, const FileEvidence& e) {
    Json json;
    json["file"] = Utf8(file);
    json["exists"] = e.exists;
    if (e.sized) {
        json["size"] = e.size;
        json["last_write"] = e.lastWrite;
    }
    if (!e.sha256.empty()) json["sha256"] = e.sha256;
    if (!e.reason.empty()) json["reason"] = e.reason;
    return json;
}

// The evidence columns of one item: each a list over its files.
std::vector<std::string> EvidenceCells(const std::vector<FileEvidence>& evidence) {
    std::vector<std::string> cells(std::size(kCsvEvidenceColumns));
    for (size_t i = 0; i < evidence.size(); ++i) {
        const FileEvidence& e = evidence[i];
        const std::string values[] = {e.exists ? "true" : "false", e.sized ? std::to_string(e.size) : "", e.lastWrite,
                                      e.sha256, e.reason};
        for (size_t column = 0; column < cells.size(); ++column) cells[column] += (i ? "|" : "") + values[column];
    }
    return cells;
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

}  // namespace

// Where the location column starts: the item's files line up under it.
constexpr size_t kTableLocationColumn = 59;

std::string TableHeader() { return "    #  KEY           ID          CATEGORY          REPAIR  LOCATION\n"; }

std::string TableItem(const ItemRecord& r) {
    char head[96];
    std::snprintf(head, sizeof(head), "%5lu  %s  %s  %-16s  %-6s  ", r.index, ItemKey(r).c_str(), Hex32(r.id).c_str(),
                  CategoryName(r.category), r.repairable ? "yes" : "no");
    std::string text = head + Utf8(r.location) + (r.hive.empty() ? "" : "  (hive " + Utf8(r.hive) + ")") + "\n";
    for (size_t i = 0; i < r.files.size(); ++i) {
        text += TableIndent() + Utf8(r.files[i]);
        if (r.evidence && i < r.evidence->size()) text += "  (" + EvidenceSummary((*r.evidence)[i]) + ")";
        text += "\n";
    }
    return text;
}

std::string TableIndent() { return std::string(kTableLocationColumn, ' '); }

std::string TableCounters(const Counters& counters) {
    std::string text = "counters\n";
    for (size_t i = 0; i < counters.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof(line), "  %-20s %lu\n", kCounterNames[i], counters[i]);
        text += line;
    }
    return text;
}

std::string JsonItem(const ItemRecord& r) {
    Json json;
    json["index"] = r.index;
    json["key"] = ItemKey(r);
    json["id"] = Hex32(r.id);
    json["category"] = Hex32(r.category);
    json["category_name"] = CategoryName(r.category);
    json["kind"] = KindName(r.kind);
    json["location"] = Utf8(r.location);
    if (!r.hive.empty()) json["hive"] = Utf8(r.hive);
    json["files"] = Json::array();
    for (const std::wstring& file : r.files) json["files"].push_back(Utf8(file));
    json["repairable"] = r.repairable;
    for (const KindField& field : KindFields(r)) json[field.name] = field.value;
    if (r.evidence) {
        json["evidence"] = Json::array();
        for (size_t i = 0; i < r.files.size() && i < r.evidence->size(); ++i)
            json["evidence"].push_back(EvidenceJson(r.files[i], (*r.evidence)[i]));
    }
    return Dump(json);
}

std::string JsonCounters(const Counters& counters) {
    Json values;
    for (size_t i = 0; i < counters.size(); ++i) values[kCounterJsonNames[i]] = counters[i];
    Json json;
    json["counters"] = values;
    return Dump(json);
}

std::string CsvField(const std::string& text, CsvCells cells) {
    // A spreadsheet reads a cell that starts like this as a formula; a leading quote keeps it text.
    if (cells == CsvCells::SpreadsheetSafe && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos)
        return CsvField("'" + text, CsvCells::Raw);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvHeader(bool evidence) {
    std::string line;
    for (const char* column : kCsvColumns) line += (line.empty() ? "" : ",") + std::string(column);
    if (evidence)
        for (const char* column : kCsvEvidenceColumns) line += "," + std::string(column);
    return line + "\r\n";
}

std::string CsvItem(const ItemRecord& r, CsvCells cellForm) {
    // '|' cannot occur in a Windows file name.
    std::string files;
    for (const std::wstring& file : r.files) files += (files.empty() ? "" : "|") + Utf8(file);
    std::vector<std::string> cells = {std::to_string(r.index),
                                      ItemKey(r),
                                      Hex32(r.id),
                                      Hex32(r.category),
                                      CategoryName(r.category),
                                      KindName(r.kind),
                                      Utf8(r.location),
                                      Utf8(r.hive),
                                      r.repairable ? "true" : "false",
                                      files};
    cells.resize(std::size(kCsvColumns));
    for (const KindField& field : KindFields(r)) {
        for (size_t column = 0; column < std::size(kCsvColumns); ++column)
            if (std::string(kCsvColumns[column]) == field.name)
                cells[column] = field.value.is_string() ? field.value.get<std::string>() : field.value.dump();
    }
    if (r.evidence) {
        std::vector<std::string> evidence = EvidenceCells(*r.evidence);
        cells.insert(cells.end(), evidence.begin(), evidence.end());
    }
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + CsvField(cells[i], cellForm);
    return line + "\r\n";
}

std::string CsvCounters(const Counters& counters) {
    std::string text = "counter,value\r\n";
    for (size_t i = 0; i < counters.size(); ++i)
        text += std::string(kCounterJsonNames[i]) + "," + std::to_string(counters[i]) + "\r\n";
    return text;
}

std::string Header(OutputFormat format, bool evidence) {
    switch (format) {
        case OutputFormat::Table:
            return TableHeader();
        case OutputFormat::Csv:
            return CsvHeader(evidence);
        case OutputFormat::Json:
            break;
    }
    return {};
}

std::string Item(OutputFormat format, const ItemRecord& record, CsvCells cells) {
    switch (format) {
        case OutputFormat::Json:
            return JsonItem(record);
        case OutputFormat::Csv:
            return CsvItem(record, cells);
        case OutputFormat::Table:
            break;
    }
    return TableItem(record);
}

std::string CountersText(OutputFormat format, const Counters& counters) {
    switch (format) {
        case OutputFormat::Json:
            return JsonCounters(counters);
        case OutputFormat::Csv:
            return CsvCounters(counters);
        case OutputFormat::Table:
            break;
    }
    return TableCounters(counters);
}

std::string SummaryText(const ScanSummary& s) {
    auto count = [](unsigned long n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.2f s", s.seconds);
    std::string text = "zvscan: ";
    if (s.shown != s.scanned) text += std::to_string(s.shown) + " of ";
    text += count(s.scanned, "item", "items") + (s.shown != s.scanned ? " shown" : "") + " (" +
            std::to_string(s.repairable) + " repairable) from " + count(s.rows, "row", "rows") + " in " + seconds;
    if (!s.library.empty()) text += " with " + s.library;
    text += "\nzvscan:";
    for (size_t i = 0; i < s.counters.size(); ++i)
        text += std::string(i ? ", " : " ") + kCounterNames[i] + " " + std::to_string(s.counters[i]);
    return text + "\n";
}

}  // namespace zvscan
