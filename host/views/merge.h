// One listing from the two registry views of 64-bit Windows. An entry both views see alike (a key
// the views share, such as HKCU's and HKLM\SYSTEM's, a scheduled task, a file of a startup folder)
// is listed once, as seen by both; sameness is decided by what the entry is, never by its position.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "loader/scanner_library.h"
#include "report/item_record.h"

namespace zvscan {

// An item of one view: the library's item when it is this process's own, none from the helper.
struct ViewItem {
    ComRef<IZVAutorunItemEx> item;
    ItemRecord record;
};

// What an entry is: a registry item's real key, value name and data; another item's location and
// files (a file of the WOW64 view's SysWOW64 counted as the System32 one it stands for).
std::string EntryIdentity(const ItemRecord& record);

// The merge of the two views as their items arrive. Both builds scan the same location table in the
// same row order, a row's items together; a row is known in both by its identifier and how many
// rows of that identifier came before it in the view (the table gives four identifiers two rows
// each; where one view lacks one row of such a pair, the two count them differently, the places of
// those rows' entries may differ from the whole-list merge's, and none is lost). The listing goes by
// rows: a row's own items in their order, each marked "both" once the
// other view has an entry that is the same; then the other view's entries of the row that are
// none of them, in its order; a row only the other view has comes right after the row it lists
// before it. An own item is written as soon as its sameness is settled (it is matched, or the other
// view has moved past its row) and everything before it is written; the listing is the same
// whatever the order of arrival, and positions count from 1 across it.
class ViewMerger {
public:
    void AddOwn(ViewItem item);
    void EndOwn();
    void AddOther(ItemRecord record);
    void EndOther();
    // The other view stopped short of its end: what is not written yet is listed as this view alone.
    void DropOther();
    // Appends the items whose place and sameness are settled, in listing order.
    void TakeReady(std::vector<ViewItem>& ready);
    unsigned long Written() const { return written_; }

private:
    using RowKey = std::pair<unsigned long, unsigned>;  // the identifier, and rows of it before
    // Counts a view's rows as its items come.
    struct RowCounter {
        RowKey Next(unsigned long id);
        std::map<unsigned long, unsigned> seen;
        bool any = false;
        RowKey last;
    };
    struct Own {
        ViewItem item;
        bool shared = false;
    };
    // A row of this view, and what of the other view goes with it.
    struct Row {
        RowKey key;
        size_t end = 0;  // own items of this row and the rows before it
        // By identity, in their order: own items no item of the other view is yet, and the other
        // view's items no own item of the row is yet (while this view is still in the row).
        std::unordered_map<std::string, std::deque<size_t>> unmatched;
        std::vector<std::optional<ItemRecord>> waiting;
        std::unordered_map<std::string, std::deque<size_t>> waitingByIdentity;
        std::vector<ItemRecord> tail;   // the other view's items that are none of the row's own
        std::vector<ItemRecord> after;  // the items of rows only the other view has, after this row
        bool otherLeft = false;         // the other view listed this row and moved on
        bool tailWritten = false, afterWritten = false;
    };
    // A row of the other view, in its order: the own row it is, when this view has reached it.
    struct OtherRow {
        RowKey key;
        long own = kUnknown;           // index of rows_, kUnknown, or kOtherOnly
        std::vector<ItemRecord> held;  // its items while unknown
    };
    static constexpr long kUnknown = -1, kOtherOnly = -2;

    void Place(size_t row, ItemRecord record);
    void CloseOwnRow(size_t row);
    void ResolveBefore(size_t otherRow);
    bool OtherPassed(size_t row) const;
    bool AfterComplete(size_t row) const;
    bool LeadingComplete() const;
    std::vector<ItemRecord>& BeforeRow(size_t otherRow);
    std::vector<ItemRecord>& TailOf(size_t row);
    void Write(ViewItem item, std::vector<ViewItem>& ready);

    std::deque<Own> own_;  // own items not written yet; the first is own item ownBase_
    size_t ownBase_ = 0, ownCount_ = 0;
    RowCounter ownRows_, otherRows_;
    std::vector<Row> rows_;
    std::map<RowKey, size_t> rowOf_;
    std::vector<OtherRow> other_;
    std::map<RowKey, size_t> otherRowOf_;
    std::vector<ItemRecord> leading_;  // rows only the other view has, before every own row
    bool leadingWritten_ = false;
    // Entries settled after the place they belong to was written, which only rows the two views
    // count differently (a row of a pair missing in one) can give: written next, never lost.
    std::vector<ItemRecord> late_;
    long maxOtherRow_ = -1;  // the latest own row the other view has listed
    size_t resolved_ = 0;    // other rows before this one are placed or known
    bool ownEnded_ = false, otherEnded_ = false, dropped_ = false;

    // Where the writing stands: the own row under way and what of it is written.
    size_t writeRow_ = 0;
    enum class Phase { Leading, Own, Tail, After } phase_ = Phase::Leading;
    unsigned long written_ = 0;
};

// The listing of the two whole lists, as the merger above gives it.
std::vector<ViewItem> MergeViews(std::vector<ViewItem> own, std::vector<ItemRecord> other);

}  // namespace zvscan
