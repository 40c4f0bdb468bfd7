// One listing from the two registry views of 64-bit Windows. An entry both views see alike (a key
// the views share, such as HKCU's and HKLM\SYSTEM's, a scheduled task, a file of a startup folder)
// is listed once, as seen by both; sameness is decided by what the entry is, never by its position.
#pragma once

#include <string>
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

// This process's items in their order, each entry of the other view placed after the own items of
// its row, or after the last shared one it came after there; shared entries marked "both",
// positions counted anew from 1.
std::vector<ViewItem> MergeViews(std::vector<ViewItem> own, std::vector<ItemRecord> other);

}  // namespace zvscan
