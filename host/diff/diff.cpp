#include "diff/diff.h"

#include <windows.h>

#include <map>

#include "report/output.h"
#include "win/handles.h"
#include "win/text.h"

namespace zvscan {

namespace {

// Fields that say where an item stands in its scan or that follow from what identifies it.
bool ComparedField(const std::string& field) {
    return field != "index" && field != "key" && field != "id" && field != "category" && field != "category_name" &&
           field != "location" && field != "hive";
}

std::string Text(const OrderedJson& item, const char* field) {
    auto found = item.find(field);
    return found != item.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Upper(const std::string& utf8) { return Utf8(Folded(Wide(utf8))); }

const char* ChangeName(ChangeKind kind) {
    switch (kind) {
        case ChangeKind::Added:
            return "added";
        case ChangeKind::Removed:
            return "removed";
        case ChangeKind::Changed:
            break;
    }
    return "changed";
}

// A field's value as one line: text as it is, a list joined with '|', anything else as JSON.
std::string Flat(const OrderedJson& value) {
    if (value.is_null()) return {};
    if (value.is_string()) return value.get<std::string>();
    if (value.is_array() && std::all_of(value.begin(), value.end(), [](const auto& v) { return v.is_string(); })) {
        std::string joined;
        for (const auto& v : value) joined += (joined.empty() ? "" : "|") + v.get<std::string>();
        return joined;
    }
    return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

std::string Shown(const OrderedJson& value) { return value.is_null() ? "(none)" : value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace); }

}  // namespace

std::vector<OrderedJson> ParseSavedScan(const std::string& text, const std::string& name) {
    std::vector<OrderedJson> items;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        ++number;
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        auto fail = [&](const std::string& what) -> SavedScanError {
            return SavedScanError(name + ", line " + std::to_string(number) + ": " + what);
        };
        OrderedJson item;
        try {
            item = OrderedJson::parse(line);
        } catch (const nlohmann::json::exception&) {
            throw fail(end == std::string::npos ? "cut short (not a whole JSON object)" : "not a JSON object");
        }
        if (item.is_object() && item.size() == 1 && item.contains("counters")) continue;
        if (!item.is_object() || !item.contains("id") || !item["id"].is_string() || !item.contains("location") ||
            !item["location"].is_string())
            throw fail("not an item of a scan saved with --format json (no \"id\" and \"location\")");
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<OrderedJson> ReadSavedScan(const std::wstring& path) {
    FileHandle file = OpenForReading(path);
    if (!file)
        throw SavedScanError(Utf8(path) + ": cannot be read (error " + std::to_string(GetLastError()) + ")");
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    for (;;) {
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr))
            throw SavedScanError(Utf8(path) + ": cannot be read (error " + std::to_string(GetLastError()) + ")");
        if (read == 0) break;
        text.append(buffer, read);
    }
    return ParseSavedScan(text, Utf8(path));
}

std::string DiffKey(const OrderedJson& item) {
    return Upper(Text(item, "id")) + "\n" + Upper(Text(item, "hive")) + "\n" + Upper(Text(item, "location"));
}

std::vector<ItemChange> CompareScans(const std::vector<OrderedJson>& baseline, const std::vector<OrderedJson>& current) {
    // Items that share a key in one scan are paired in the order they come.
    std::map<std::string, std::vector<size_t>> unmatched;
    for (size_t i = baseline.size(); i-- > 0;) unmatched[DiffKey(baseline[i])].push_back(i);
    std::vector<bool> matched(baseline.size());
    std::vector<ItemChange> changes;
    for (const OrderedJson& item : current) {
        std::vector<size_t>& candidates = unmatched[DiffKey(item)];
        if (candidates.empty()) {
            changes.push_back({ChangeKind::Added, item, {}});
            continue;
        }
        const OrderedJson& old = baseline[candidates.back()];
        matched[candidates.back()] = true;
        candidates.pop_back();
        ItemChange change{ChangeKind::Changed, item, {}};
        for (const auto& [field, value] : old.items()) {
            if (!ComparedField(field)) continue;
            OrderedJson now = item.contains(field) ? item[field] : OrderedJson();
            // Evidence is compared only when both scans gathered it.
            if (field == "evidence" && now.is_null()) continue;
            if (value != now) change.differences.push_back({field, value, now});
        }
        for (const auto& [field, value] : item.items()) {
            if (ComparedField(field) && !old.contains(field) && field != "evidence")
                change.differences.push_back({field, OrderedJson(), value});
        }
        if (!change.differences.empty()) changes.push_back(std::move(change));
    }
    for (size_t i = 0; i < baseline.size(); ++i)
        if (!matched[i]) changes.push_back({ChangeKind::Removed, baseline[i], {}});
    return changes;
}

std::string DiffTable(const std::vector<ItemChange>& changes) {
    std::string text = "CHANGE   KEY           ID          LOCATION\n";
    for (const ItemChange& change : changes) {
        char head[64];
        std::snprintf(head, sizeof(head), "%-7s  %-12s  %-10s  ", ChangeName(change.kind),
                      Text(change.item, "key").c_str(), Text(change.item, "id").c_str());
        text += head + Text(change.item, "location");
        std::string hive = Text(change.item, "hive");
        text += (hive.empty() ? "" : "  (hive " + hive + ")") + std::string("\n");
        for (const FieldDifference& difference : change.differences)
            text += std::string(35, ' ') + difference.field + ": " + Shown(difference.baseline) + " -> " +
                    Shown(difference.current) + "\n";
        if (change.kind != ChangeKind::Changed && change.item.contains("files"))
            for (const auto& file : change.item["files"]) text += std::string(35, ' ') + Flat(file) + "\n";
    }
    return text;
}

std::string DiffJsonLines(const std::vector<ItemChange>& changes) {
    std::string text;
    for (const ItemChange& change : changes) {
        OrderedJson line = {{"change", ChangeName(change.kind)},
                            {"key", Text(change.item, "key")},
                            {"id", Text(change.item, "id")},
                            {"hive", Text(change.item, "hive")},
                            {"location", Text(change.item, "location")}};
        if (change.kind == ChangeKind::Changed) {
            OrderedJson differences = OrderedJson::object();
            for (const FieldDifference& d : change.differences)
                differences[d.field] = {{"baseline", d.baseline}, {"current", d.current}};
            line["differences"] = differences;
        }
        line["item"] = change.item;
        text += line.dump(-1, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
    }
    return text;
}

std::string DiffCsv(const std::vector<ItemChange>& changes, CsvCells cells) {
    std::string text = "change,key,id,hive,location,field,baseline,current\r\n";
    auto record = [&](const ItemChange& change, const std::string& field, const std::string& baseline,
                      const std::string& current) {
        const std::string values[] = {Text(change.item, "key"), Text(change.item, "id"), Text(change.item, "hive"), Text(change.item, "location"),
                                      field, baseline, current};
        text += ChangeName(change.kind);
        for (const std::string& value : values) text += "," + CsvField(value, cells);
        text += "\r\n";
    };
    for (const ItemChange& change : changes) {
        if (change.kind != ChangeKind::Changed) {
            std::string files = change.item.contains("files") ? Flat(change.item["files"]) : std::string();
            record(change, "files", change.kind == ChangeKind::Removed ? files : "",
                   change.kind == ChangeKind::Added ? files : "");
            continue;
        }
        for (const FieldDifference& d : change.differences) record(change, d.field, Flat(d.baseline), Flat(d.current));
    }
    return text;
}

std::string DiffSummary(const std::vector<ItemChange>& changes) {
    if (changes.empty()) return "no differences";
    unsigned long counts[3] = {};
    for (const ItemChange& change : changes) ++counts[static_cast<int>(change.kind)];
    return std::to_string(counts[0]) + " added, " + std::to_string(counts[1]) + " removed, " +
           std::to_string(counts[2]) + " changed";
}

}  // namespace zvscan
