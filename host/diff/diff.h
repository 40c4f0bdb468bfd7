// Drift between two scans saved with --format json: items added, removed and changed.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/output.h"

namespace zvscan {

using OrderedJson = nlohmann::ordered_json;

// A saved scan that cannot be read; what() names the file and the line.
class SavedScanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The items of a scan saved with --format json (a counters line is passed over). name is how errors
// call the scan. Throws SavedScanError at the first line that is not an item.
std::vector<OrderedJson> ParseSavedScan(const std::string& text, const std::string& name);
std::vector<OrderedJson> ReadSavedScan(const std::wstring& path);

// What identifies an item across scans: its location identifier, its hive and its location text,
// without regard to letter case. Never its position.
std::string DiffKey(const OrderedJson& item);

struct FieldDifference {
    std::string field;
    OrderedJson baseline, current;  // null where the field is absent
};

enum class ChangeKind { Added, Removed, Changed };

struct ItemChange {
    ChangeKind kind = ChangeKind::Changed;
    OrderedJson item;  // the current item; the baseline's for a removed one
    std::vector<FieldDifference> differences;
};

// Changed and added items in the current scan's order, then removed ones in the baseline's order.
std::vector<ItemChange> CompareScans(const std::vector<OrderedJson>& baseline, const std::vector<OrderedJson>& current);

std::string DiffTable(const std::vector<ItemChange>& changes);
std::string DiffJsonLines(const std::vector<ItemChange>& changes);
std::string DiffCsv(const std::vector<ItemChange>& changes, CsvCells cells = CsvCells::SpreadsheetSafe);
// "2 added, 1 removed, 1 changed" or "no differences".
std::string DiffSummary(const std::vector<ItemChange>& changes);

}  // namespace zvscan
