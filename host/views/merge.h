// One listing from the two registry views of 64-bit Windows. An entry both views see alike (a key
// the views share, such as HKCU's and HKLM\SYSTEM's, a scheduled task, a file of a startup folder)
// is listed once, as seen by both; sameness is decided by what the entry is, never by its position.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
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

// The merge of the two views row by row, as their items arrive: both builds scan the same location
// table in the same row order, an identifier's items together, so a row is settled once each view
// has moved past it. The listing is the one MergeViews gives for the whole lists, whatever the
// order of arrival; positions count from 1 across it. The table gives four identifiers two rows
// each, alternating in pairs (0x1010200E/F, 0x10103006/7); the merge takes an identifier as one row,
// so where a view lacks one row of such a pair, the streamed places of the other view's entries
// there can differ from the whole-list merge's.
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
    struct OwnRow {
        size_t run;    // the own row's place among the own rows, from 0
        size_t start;  // its first own item
        size_t end;    // its last own item, plus one
    };
    struct Own {
        ViewItem item;
        size_t run;
        bool shared = false;
    };
    static constexpr size_t kOpen = static_cast<size_t>(-1);

    bool Decidable(const ItemRecord& record) const;
    void Decide(ItemRecord record);
    void PassRow(unsigned long id);
    size_t FirstOpenSlot() const;
    void Write(ViewItem item, std::vector<ViewItem>& ready);

    std::deque<Own> own_;  // own items not written yet; the first is own item ownBase_
    size_t ownBase_ = 0, ownCount_ = 0, runs_ = 0;
    unsigned long ownId_ = 0;  // the identifier of the own row under way
    bool ownEnded_ = false;
    std::unordered_map<unsigned long, OwnRow> ownRows_;
    std::unordered_multimap<std::string, size_t> byIdentity_;

    std::deque<ItemRecord> pending_;  // the other view's items not placed yet, in its order
    std::unordered_map<unsigned long, size_t> pendingById_;
    size_t pendingSeen_ = 0;  // pending items of rows the own view has reached
    bool otherEnded_ = false, otherDropped_ = false, decided_ = false;
    unsigned long decidedId_ = 0;  // the row of the other item placed last
    size_t anchor_ = 0;            // after the own item last found shared: 0 before every own item
    size_t pastRuns_ = 0;          // own rows the other view has moved past
    std::map<size_t, std::vector<ItemRecord>> slots_;  // slot i: other items before own item i

    unsigned long written_ = 0;
};

// This process's items in their order, each entry of the other view placed after the own items of
// its row, or after the last shared one it came after there; shared entries marked "both",
// positions counted anew from 1.
std::vector<ViewItem> MergeViews(std::vector<ViewItem> own, std::vector<ItemRecord> other);

}  // namespace zvscan
