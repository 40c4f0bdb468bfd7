// Drift between two scans saved with --format json (or a saved one and a fresh one): items added,
// removed and changed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "diff/saved_scan.h"
#include "report/output.h"

namespace zvscan {

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

// An item is known across scans by its key (DiffKey), never by its position. The entries of one list
// value share their key and are told apart by their own text as well: an entry added to a list is
// added, however the others moved, and entries that only moved give one "order" difference on the
// first of them. An item has changed when its files, its kind's fields or its repairability differ,
// and its files' evidence when both scans gathered it.
//
// visit gets the changed and added items in the current scan's order, then the removed ones in the
// baseline's order; items are parsed one at a time, so the changes need not fit in memory together.
void CompareScans(const SavedScan& baseline, const SavedScan& current, const std::function<void(ItemChange&&)>& visit);
std::vector<ItemChange> CompareScans(const std::vector<OrderedJson>& baseline, const std::vector<OrderedJson>& current);

// What zvscan says, once each, when only one of the scans gathered evidence or signatures.
std::vector<std::string> NotCompared(const SavedScan& baseline, const SavedScan& current);

// Every text the diff table shows, as the table shows it.
std::string ShownText(const std::string& utf8);

// The forms, a change at a time: the table, JSON Lines and CSV (one record per differing field; all
// of an added or removed item's fields).
std::string DiffTableHeader();
std::string DiffTableChange(const ItemChange& change);
std::string DiffJsonChange(const ItemChange& change);
std::string DiffCsvHeader();
std::string DiffCsvChange(const ItemChange& change, CsvCells cells = CsvCells::SpreadsheetSafe);

std::string DiffTable(const std::vector<ItemChange>& changes);
std::string DiffJsonLines(const std::vector<ItemChange>& changes);
std::string DiffCsv(const std::vector<ItemChange>& changes, CsvCells cells = CsvCells::SpreadsheetSafe);

// Counts the changes as they come: "2 added, 1 removed, 1 changed" or "no differences".
class DiffTally {
public:
    void Count(const ItemChange& change) { ++counts_[static_cast<int>(change.kind)]; }
    bool empty() const { return counts_[0] + counts_[1] + counts_[2] == 0; }
    std::string Summary() const;

private:
    unsigned long counts_[3] = {};
};

std::string DiffSummary(const std::vector<ItemChange>& changes);

}  // namespace zvscan
