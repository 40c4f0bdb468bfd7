#include "report/output.h"

#include <cstdio>

#include "report/json_line.h"
#include "win/text.h"

namespace zvscan {

namespace {

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
                                   "preload_index", "layout_id", "extension", "progid",    "verb",          "no_file_found", "view",      "real_key"};

// With --evidence, after the columns above: one value per file, joined with '|' like the files.
const char* const kCsvEvidenceColumns[] = {"file_exists", "file_size", "file_last_write", "file_sha256", "file_reason"};
// With --signatures, after those: the same for each file's signature.
const char* const kCsvSignatureColumns[] = {"file_signature", "file_signer", "file_issuer", "file_signature_reason"};

// Field by field, the kind's own facts under the names the JSON and CSV forms share.
struct KindField {
    const char* name;
    std::wstring text;
    bool number = false;  // the preload index
};

std::vector<KindField> KindFields(const ItemRecord& r) {
    switch (r.kind) {
        case ItemKind::Registry:
            return {{"root", r.root}, {"key_path", r.keyPath}, {"value", r.valueName}, {"data", r.valueData}};
        case ItemKind::AutorunFile:
            return {{"ini_path", r.iniPath}, {"section", r.section}, {"ini_key", r.iniKey}, {"value", r.iniValue}};
        case ItemKind::Shortcut:
            return {{"file_path", r.filePath}};
        case ItemKind::InputMethod:
            return {{"preload_index", std::to_wstring(r.preloadIndex), true}, {"layout_id", r.layoutId}};
        case ItemKind::OpenCommand:
            return {{"extension", r.extension}, {"progid", r.progId}, {"verb", r.verb}};
        case ItemKind::Service:
        case ItemKind::Task:
        case ItemKind::Other:
            break;
    }
    return {};
}

std::string EvidenceJson(const std::wstring& file, const FileEvidence& e) {
    JsonObject json;
    json.Text("file", file).Bool("exists", e.exists);
    if (e.sized) json.Number("size", e.size).Text("last_write", e.lastWrite);
    if (!e.sha256.empty()) json.Text("sha256", e.sha256);
    if (!e.reason.empty()) json.Text("reason", e.reason);
    return json.Json();
}

std::string SignatureJson(const std::wstring& file, const FileSignature& s) {
    JsonObject json;
    json.Text("file", file).Text("status", s.status);
    if (!s.signer.empty()) json.Text("signer", s.signer);
    if (!s.issuer.empty()) json.Text("issuer", s.issuer);
    if (!s.reason.empty()) json.Text("reason", s.reason);
    return json.Json();
}

std::vector<std::string> SignatureCells(const std::vector<FileSignature>& signatures) {
    std::vector<std::string> cells(std::size(kCsvSignatureColumns));
    for (size_t i = 0; i < signatures.size(); ++i) {
        const FileSignature& s = signatures[i];
        const std::string values[] = {s.status, s.signer, s.issuer, s.reason};
        for (size_t column = 0; column < cells.size(); ++column) cells[column] += (i ? "|" : "") + values[column];
    }
    return cells;
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

}  // namespace

// Where the location column starts: the item's files line up under it.
constexpr size_t kTableLocationColumn = 59;
constexpr char kNoFileFound[] = "no file found";

namespace {

// Cut to what is left of a line `width` columns wide after the indentation, ending in "..."; whole
// when the width is not known (0). Counts code points, the columns most of them take.
// The root as a real key names it: HKLM and HKU.
std::wstring ShortRoot(const std::wstring& root) {
    if (EqualsIgnoreCase(root, L"HKEY_LOCAL_MACHINE")) return L"HKLM";
    if (root.size() > 10 && EqualsIgnoreCase(root.substr(0, 11), L"HKEY_USERS\\")) return L"HKU" + root.substr(10);
    return root;
}

std::string Shortened(const std::string& utf8, size_t width) {
    if (width == 0) return utf8;
    size_t room = width > kTableLocationColumn + 24 ? width - kTableLocationColumn - 1 : 23;
    size_t points = 0, cut = std::string::npos;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (points == room - 3) cut = i;
        if (++points > room) return utf8.substr(0, cut) + "...";
    }
    return utf8;
}

}  // namespace

std::string TableHeader() { return "    #  KEY           ID          CATEGORY          REPAIR  LOCATION\n"; }

std::string TableItem(const ItemRecord& r, size_t width) {
    char head[96];
    std::snprintf(head, sizeof(head), "%5lu  %s  %s  %-16s  %-6s  ", r.index, ItemKey(r).c_str(), Hex32(r.id).c_str(),
                  CategoryName(r.category), r.repairable ? "yes" : "no");
    std::string text = head + TableText(r.location) + (r.hive.empty() ? "" : "  (hive " + TableText(r.hive) + ")") +
                       (r.view == "wow64" ? "  (wow64)" : "") + "\n";
    if (!r.realKey.empty() && !EqualsIgnoreCase(r.realKey, ShortRoot(r.root) + L"\\" + r.keyPath))
        text += TableIndent() + "real key: " + TableText(r.realKey) + "\n";
    if (r.kind == ItemKind::Registry) text += TableIndent() + Shortened("data: " + TableText(r.valueData), width) + "\n";
    if (r.files.empty()) text += TableIndent() + kNoFileFound + "\n";
    for (size_t i = 0; i < r.files.size(); ++i) {
        text += TableIndent() + TableText(r.files[i]);
        if (r.evidence && i < r.evidence->size()) text += "  (" + EvidenceSummary((*r.evidence)[i]) + ")";
        if (r.signatures && i < r.signatures->size()) text += "  [" + TableText(SignatureSummary((*r.signatures)[i])) + "]";
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
    JsonObject json;
    json.Number("index", r.index)
        .Text("key", ItemKey(r))
        .Text("id", Hex32(r.id))
        .Text("category", Hex32(r.category))
        .Text("category_name", std::string(CategoryName(r.category)))
        .Text("kind", std::string(KindName(r.kind)))
        .Text("location", r.location);
    if (!r.hive.empty()) json.Text("hive", r.hive);
    if (!r.view.empty()) json.Text("view", r.view);
    if (!r.realKey.empty()) json.Text("real_key", r.realKey);
    json.Texts("files", r.files);
    if (r.files.empty()) json.Bool("no_file_found", true);
    json.Bool("repairable", r.repairable);
    for (const KindField& field : KindFields(r)) {
        if (field.number) {
            json.Member(field.name, Utf8(field.text));
        } else {
            json.Text(field.name, field.text);
        }
    }
    if (r.evidence) {
        std::vector<std::string> evidence;
        for (size_t i = 0; i < r.files.size() && i < r.evidence->size(); ++i)
            evidence.push_back(EvidenceJson(r.files[i], (*r.evidence)[i]));
        json.Array("evidence", evidence);
    }
    if (r.signatures) {
        std::vector<std::string> signatures;
        for (size_t i = 0; i < r.files.size() && i < r.signatures->size(); ++i)
            signatures.push_back(SignatureJson(r.files[i], (*r.signatures)[i]));
        json.Array("signatures", signatures);
    }
    return json.Line();
}

std::string JsonCounters(const Counters& counters) {
    JsonObject values;
    for (size_t i = 0; i < counters.size(); ++i) values.Number(kCounterJsonNames[i], counters[i]);
    return JsonObject().Member("counters", values).Line();
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

std::string CsvHeader(bool evidence, bool signatures) {
    std::string line;
    for (const char* column : kCsvColumns) line += (line.empty() ? "" : ",") + std::string(column);
    if (evidence)
        for (const char* column : kCsvEvidenceColumns) line += "," + std::string(column);
    if (signatures)
        for (const char* column : kCsvSignatureColumns) line += "," + std::string(column);
    return line + "\r\n";
}

std::string CsvItem(const ItemRecord& r, CsvCells cellForm) {
    // '|' cannot occur in a Windows file name.
    std::string files;
    for (const std::wstring& file : r.files) files += (files.empty() ? "" : "|") + VisibleUtf8(file);
    std::vector<std::string> cells = {std::to_string(r.index),
                                      ItemKey(r),
                                      Hex32(r.id),
                                      Hex32(r.category),
                                      CategoryName(r.category),
                                      KindName(r.kind),
                                      VisibleUtf8(r.location),
                                      VisibleUtf8(r.hive),
                                      r.repairable ? "true" : "false",
                                      files};
    cells.resize(std::size(kCsvColumns) - 3);
    cells.push_back(r.files.empty() ? "true" : "false");
    cells.push_back(r.view);
    cells.push_back(VisibleUtf8(r.realKey));
    for (const KindField& field : KindFields(r)) {
        for (size_t column = 0; column < std::size(kCsvColumns); ++column)
            if (std::string(kCsvColumns[column]) == field.name) cells[column] = VisibleUtf8(field.text);
    }
    if (r.evidence) {
        std::vector<std::string> evidence = EvidenceCells(*r.evidence);
        cells.insert(cells.end(), evidence.begin(), evidence.end());
    }
    if (r.signatures) {
        std::vector<std::string> signatures = SignatureCells(*r.signatures);
        cells.insert(cells.end(), signatures.begin(), signatures.end());
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

std::string Header(OutputFormat format, bool evidence, bool signatures) {
    switch (format) {
        case OutputFormat::Table:
            return TableHeader();
        case OutputFormat::Csv:
            return CsvHeader(evidence, signatures);
        case OutputFormat::Json:
            break;
    }
    return {};
}

std::string Item(OutputFormat format, const ItemRecord& record, CsvCells cells, size_t width) {
    switch (format) {
        case OutputFormat::Json:
            return JsonItem(record);
        case OutputFormat::Csv:
            return CsvItem(record, cells);
        case OutputFormat::Table:
            break;
    }
    return TableItem(record, width);
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
