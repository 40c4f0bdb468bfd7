#include "diff/diff.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <numeric>

#include "diff/saved_text.h"
#include "report/output.h"

namespace zvscan {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Fields that say where an item stands in its scan or that follow from what identifies it (the view
// and the real key from the location and the view, the no-file mark from the files): a scan saved
// before they were written differs in none of them.
bool ComparedField(const std::string& field) {
    return field != "index" && field != "key" && field != "id" && field != "category" && field != "category_name" &&
           field != "location" && field != "hive" && field != "view" && field != "real_key" && field != "no_file_found";
}

std::string Text(const OrderedJson& item, const char* field) {
    auto found = item.find(field);
    return found != item.end() && found->is_string() ? found->get<std::string>() : std::string();
}

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

// The field that holds an entry's own text: what tells the entries of one list value apart.
const char* EntryField(const OrderedJson& item) {
    for (const char* field : {"data", "value", "file_path", "layout_id"})
        if (item.contains(field) && item[field].is_string()) return field;
    return "files";
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

std::string EntryText(const OrderedJson& item) {
    auto found = item.find(EntryField(item));
    return found != item.end() ? Flat(*found) : std::string();
}

// A value for the table: texts as they are, lists joined with " | ", objects as name=value pairs.
std::string Readable(const OrderedJson& value) {
    if (value.is_string()) return value.get<std::string>();
    std::string text;
    if (value.is_array()) {
        for (const auto& v : value) text += (text.empty() ? "" : " | ") + Readable(v);
        return text;
    }
    if (value.is_object()) {
        for (const auto& [name, v] : value.items()) text += (text.empty() ? "" : ", ") + name + "=" + Readable(v);
        return text;
    }
    return value.dump();
}

std::string Shown(const OrderedJson& value) { return value.is_null() ? "(none)" : ShownText(Readable(value)); }

std::vector<FieldDifference> FieldDifferences(const OrderedJson& old, const OrderedJson& now, bool evidence,
                                              bool signatures) {
    std::vector<FieldDifference> differences;
    auto compared = [&](const std::string& field) {
        return ComparedField(field) && (evidence || field != "evidence") && (signatures || field != "signatures");
    };
    for (const auto& [field, value] : old.items()) {
        if (!compared(field)) continue;
        OrderedJson other = now.contains(field) ? now[field] : OrderedJson();
        if (value != other) differences.push_back({field, value, other});
    }
    for (const auto& [field, value] : now.items())
        if (compared(field) && !old.contains(field)) differences.push_back({field, OrderedJson(), value});
    return differences;
}

struct Matching {
    std::vector<std::uint32_t> partner;  // per current item: its baseline item, or kNone
    std::vector<bool> matched;           // per baseline item
    std::map<std::uint32_t, FieldDifference> order;  // per current item: how the entries of its list moved
};

// The items' positions, by key hash and then by position.
std::vector<std::uint32_t> ByKeyHash(const SavedScan& scan) {
    std::vector<std::uint32_t> order(scan.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return scan.KeyHash(a) < scan.KeyHash(b); });
    return order;
}

void Pair(Matching& matching, std::uint32_t baseline, std::uint32_t current) {
    matching.partner[current] = baseline;
    matching.matched[baseline] = true;
}

// Items of one key hash in both scans, each side in its order. More than one on a side: the entries
// of a list, or keys whose hashes collide.
void MatchGroup(const SavedScan& baseline, const std::vector<std::uint32_t>& b, const SavedScan& current,
                const std::vector<std::uint32_t>& c, Matching& matching) {
    struct Entry {
        std::uint32_t index;
        std::string text;
    };
    struct Group {
        std::vector<Entry> baseline, current;
    };
    std::map<std::string, Group> groups;
    for (std::uint32_t i : b) {
        OrderedJson item = baseline.Item(i);
        groups[DiffKey(item)].baseline.push_back({i, EntryText(item)});
    }
    for (std::uint32_t i : c) {
        OrderedJson item = current.Item(i);
        groups[DiffKey(item)].current.push_back({i, EntryText(item)});
    }
    for (auto& [key, group] : groups) {
        if (group.baseline.size() == 1 && group.current.size() == 1) {
            Pair(matching, group.baseline[0].index, group.current[0].index);
            continue;
        }
        std::map<std::string, std::deque<const Entry*>> unmatched;
        for (const Entry& entry : group.baseline) unmatched[entry.text].push_back(&entry);
        std::vector<std::pair<const Entry*, const Entry*>> pairs;  // baseline, current; in the current order
        for (const Entry& entry : group.current) {
            std::deque<const Entry*>& candidates = unmatched[entry.text];
            if (candidates.empty()) continue;
            pairs.push_back({candidates.front(), &entry});
            Pair(matching, candidates.front()->index, entry.index);
            candidates.pop_front();
        }
        bool moved = !std::is_sorted(pairs.begin(), pairs.end(),
                                     [](const auto& x, const auto& y) { return x.first->index < y.first->index; });
        if (!moved) continue;
        FieldDifference order{"order", OrderedJson::array(), OrderedJson::array()};
        for (const auto& pair : pairs) order.current.push_back(pair.second->text);
        std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) { return x.first->index < y.first->index; });
        for (const auto& pair : pairs) order.baseline.push_back(pair.first->text);
        std::uint32_t first = kNone;
        for (const auto& pair : pairs) first = std::min(first, pair.second->index);
        matching.order[first] = std::move(order);
    }
}

Matching Match(const SavedScan& baseline, const SavedScan& current) {
    Matching matching{std::vector<std::uint32_t>(current.size(), kNone), std::vector<bool>(baseline.size()), {}};
    std::vector<std::uint32_t> b = ByKeyHash(baseline), c = ByKeyHash(current);
    std::vector<std::uint32_t> groupB, groupC;
    for (size_t i = 0, j = 0; i < b.size() || j < c.size();) {
        std::uint64_t hash = std::min(i < b.size() ? baseline.KeyHash(b[i]) : ~0ull, j < c.size() ? current.KeyHash(c[j]) : ~0ull);
        groupB.clear();
        groupC.clear();
        for (; i < b.size() && baseline.KeyHash(b[i]) == hash; ++i) groupB.push_back(b[i]);
        for (; j < c.size() && current.KeyHash(c[j]) == hash; ++j) groupC.push_back(c[j]);
        if (groupB.empty() || groupC.empty()) continue;
        // One on each side, by far the most: paired here and their keys compared when they are.
        if (groupB.size() == 1 && groupC.size() == 1) {
            Pair(matching, groupB[0], groupC[0]);
        } else {
            MatchGroup(baseline, groupB, current, groupC, matching);
        }
    }
    return matching;
}

}  // namespace

void CompareScans(const SavedScan& baseline, const SavedScan& current, const std::function<void(ItemChange&&)>& visit) {
    bool evidence = baseline.evidence() && current.evidence();
    bool signatures = baseline.signatures() && current.signatures();
    Matching matching = Match(baseline, current);
    for (std::uint32_t j = 0; j < current.size(); ++j) {
        OrderedJson item = current.Item(j);
        std::uint32_t partner = matching.partner[j];
        OrderedJson old = partner == kNone ? OrderedJson() : baseline.Item(partner);
        if (partner != kNone && DiffKey(old) != DiffKey(item)) {  // keys whose hashes collide
            matching.matched[partner] = false;
            partner = kNone;
        }
        if (partner == kNone) {
            visit({ChangeKind::Added, std::move(item), {}});
            continue;
        }
        ItemChange change{ChangeKind::Changed, OrderedJson(), FieldDifferences(old, item, evidence, signatures)};
        auto order = matching.order.find(j);
        if (order != matching.order.end()) change.differences.push_back(std::move(order->second));
        if (change.differences.empty()) continue;
        change.item = std::move(item);
        visit(std::move(change));
    }
    for (std::uint32_t i = 0; i < baseline.size(); ++i)
        if (!matching.matched[i]) visit({ChangeKind::Removed, baseline.Item(i), {}});
}

std::vector<ItemChange> CompareScans(const std::vector<OrderedJson>& baseline, const std::vector<OrderedJson>& current) {
    auto saved = [](const std::vector<OrderedJson>& items) {
        SavedScan scan;
        for (const OrderedJson& item : items) scan.Add(item.dump(), item);
        return scan;
    };
    std::vector<ItemChange> changes;
    CompareScans(saved(baseline), saved(current), [&](ItemChange&& change) { changes.push_back(std::move(change)); });
    return changes;
}

std::vector<std::string> NotCompared(const SavedScan& baseline, const SavedScan& current) {
    std::vector<std::string> notes;
    auto note = [&](bool inBaseline, bool inCurrent, const char* what, const char* them) {
        if (inBaseline != inCurrent)
            notes.push_back(std::string(what) + " not compared: only " + (inBaseline ? baseline.name() : current.name()) +
                            " has " + them);
    };
    note(baseline.evidence(), current.evidence(), "files' evidence", "it");
    note(baseline.signatures(), current.signatures(), "files' signatures", "them");
    return notes;
}

std::string ShownText(const std::string& utf8) { return TableText(PrintableText(utf8)); }

std::string DiffTableHeader() { return "CHANGE   KEY           ID          LOCATION\n"; }

std::string DiffTableChange(const ItemChange& change) {
    const std::string indent(35, ' ');
    char head[64];
    std::snprintf(head, sizeof(head), "%-7s  %-12s  %-10s  ", ChangeName(change.kind),
                  ShownText(Text(change.item, "key")).c_str(), ShownText(Text(change.item, "id")).c_str());
    std::string text = head + ShownText(Text(change.item, "location"));
    std::string hive = Text(change.item, "hive");
    text += (hive.empty() ? "" : "  (hive " + ShownText(hive) + ")") + std::string("\n");
    // A text may hold anything, " -> " too: each side on a line of its own.
    for (const FieldDifference& difference : change.differences)
        text += indent + difference.field + "\n" + indent + "  baseline: " + Shown(difference.baseline) + "\n" + indent +
                "  current:  " + Shown(difference.current) + "\n";
    if (change.kind == ChangeKind::Changed) return text;
    const char* entry = EntryField(change.item);
    if (change.item.contains(entry) && std::string(entry) != "files")
        text += indent + entry + ": " + Shown(change.item[entry]) + "\n";
    if (change.item.contains("files"))
        for (const auto& file : change.item["files"]) text += indent + Shown(file) + "\n";
    return text;
}

std::string DiffJsonChange(const ItemChange& change) {
    OrderedJson line = {{"change", ChangeName(change.kind)},
                        {"key", Text(change.item, "key")},
                        {"id", Text(change.item, "id")}};
    std::string hive = Text(change.item, "hive");
    if (!hive.empty()) line["hive"] = hive;
    line["location"] = Text(change.item, "location");
    if (change.kind == ChangeKind::Changed) {
        OrderedJson differences = OrderedJson::object();
        for (const FieldDifference& d : change.differences)
            differences[d.field] = {{"baseline", d.baseline}, {"current", d.current}};
        line["differences"] = differences;
    }
    line["item"] = change.item;
    return EscapeLoneSurrogates(line.dump(-1, ' ', false, OrderedJson::error_handler_t::replace)) + "\n";
}

std::string DiffCsvHeader() { return "change,key,id,hive,location,field,baseline,current\r\n"; }

std::string DiffCsvChange(const ItemChange& change, CsvCells cells) {
    std::string text;
    auto record = [&](const std::string& field, const std::string& baseline, const std::string& current) {
        const std::string values[] = {Text(change.item, "key"), Text(change.item, "id"), Text(change.item, "hive"),
                                      Text(change.item, "location"), field, baseline, current};
        text += ChangeName(change.kind);
        for (const std::string& value : values) text += "," + CsvField(PrintableText(value), cells);
        text += "\r\n";
    };
    if (change.kind == ChangeKind::Changed) {
        for (const FieldDifference& d : change.differences) record(d.field, Flat(d.baseline), Flat(d.current));
        return text;
    }
    for (const auto& [field, value] : change.item.items()) {
        if (!ComparedField(field)) continue;
        bool removed = change.kind == ChangeKind::Removed;
        record(field, removed ? Flat(value) : "", removed ? "" : Flat(value));
    }
    return text;
}

std::string DiffTable(const std::vector<ItemChange>& changes) {
    std::string text = DiffTableHeader();
    for (const ItemChange& change : changes) text += DiffTableChange(change);
    return text;
}

std::string DiffJsonLines(const std::vector<ItemChange>& changes) {
    std::string text;
    for (const ItemChange& change : changes) text += DiffJsonChange(change);
    return text;
}

std::string DiffCsv(const std::vector<ItemChange>& changes, CsvCells cells) {
    std::string text = DiffCsvHeader();
    for (const ItemChange& change : changes) text += DiffCsvChange(change, cells);
    return text;
}

std::string DiffTally::Summary() const {
    if (empty()) return "no differences";
    return std::to_string(counts_[0]) + " added, " + std::to_string(counts_[1]) + " removed, " +
           std::to_string(counts_[2]) + " changed";
}

std::string DiffSummary(const std::vector<ItemChange>& changes) {
    DiffTally tally;
    for (const ItemChange& change : changes) tally.Count(change);
    return tally.Summary();
}

}  // namespace zvscan
