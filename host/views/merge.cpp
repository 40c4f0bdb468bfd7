#include "views/merge.h"

#include <algorithm>

#include "win/text.h"

namespace zvscan {
namespace {

// The WOW64 view resolves System32 to SysWOW64; the entry is the same.
std::wstring NativeSpelling(const std::wstring& file) {
    std::wstring folded = Folded(file);
    const std::wstring wow = L"\\SYSWOW64\\";
    size_t at = folded.find(wow);
    return at == std::wstring::npos ? folded : folded.substr(0, at) + L"\\SYSTEM32\\" + folded.substr(at + wow.size());
}

}  // namespace

std::string EntryIdentity(const ItemRecord& r) {
    std::wstring identity = std::to_wstring(r.id) + L"\n" + Folded(r.hive) + L"\n";
    if (r.kind == ItemKind::Registry) {
        identity += Folded(r.realKey.empty() ? r.root + L"\\" + r.keyPath : r.realKey) + L"\n" + Folded(r.valueName) +
                    L"\n" + r.valueData;
    } else {
        identity += Folded(r.location) + L"\n" + Folded(r.filePath) + L"\n" + r.iniValue + L"\n" + r.layoutId + L"\n" +
                    Folded(r.progId) + L"\n" + Folded(r.verb);
        for (const std::wstring& file : r.files) identity += L"\n" + NativeSpelling(file);
    }
    return Wtf8(identity);
}

void ViewMerger::AddOwn(ViewItem item) {
    unsigned long id = item.record.id;
    size_t index = ownCount_++;
    if (index == 0 || id != ownId_) ++runs_;
    auto row = ownRows_.find(id);
    if (row == ownRows_.end()) {
        row = ownRows_.emplace(id, OwnRow{runs_ - 1, index, index}).first;
        auto waiting = pendingById_.find(id);
        if (waiting != pendingById_.end()) pendingSeen_ += waiting->second;
    }
    row->second.end = index + 1;
    ownId_ = id;
    if (!otherDropped_) byIdentity_.emplace(EntryIdentity(item.record), index);
    // An identifier's row again is written once the other view has passed a later row.
    own_.push_back({std::move(item), runs_ - 1});
}

void ViewMerger::EndOwn() { ownEnded_ = true; }

void ViewMerger::AddOther(ItemRecord record) {
    if (otherDropped_) return;
    ++pendingById_[record.id];
    if (ownRows_.count(record.id)) ++pendingSeen_;
    pending_.push_back(std::move(record));
}

void ViewMerger::EndOther() { otherEnded_ = true; }

void ViewMerger::DropOther() {
    otherDropped_ = true;
    pending_.clear();
    pendingById_.clear();
    slots_.clear();
    byIdentity_.clear();
    for (Own& own : own_) own.shared = false;
}

// An item of the other view is placed once every own item it could be is known: its own row has
// ended, or the own scan has reached a row the other view lists after it, which it would have
// listed before.
bool ViewMerger::Decidable(const ItemRecord& record) const {
    if (ownEnded_) return true;
    if (ownRows_.count(record.id)) return record.id != ownId_;
    return pendingSeen_ > 0;
}

void ViewMerger::Decide(ItemRecord record) {
    unsigned long id = record.id;
    if (decided_ && id != decidedId_) PassRow(decidedId_);
    decided_ = true;
    decidedId_ = id;
    auto waiting = pendingById_.find(id);
    if (--waiting->second == 0) pendingById_.erase(waiting);
    size_t slot = anchor_;
    auto row = ownRows_.find(id);
    if (row != ownRows_.end()) {
        --pendingSeen_;
        pastRuns_ = std::max(pastRuns_, row->second.run);
        auto range = byIdentity_.equal_range(EntryIdentity(record));
        auto unmatched = range.first;
        while (unmatched != range.second &&
               (unmatched->second < ownBase_ || own_[unmatched->second - ownBase_].shared))
            ++unmatched;
        if (unmatched != range.second) {
            own_[unmatched->second - ownBase_].shared = true;
            anchor_ = unmatched->second + 1;
            return;
        }
        // With the own items of its row, where they come after the last shared entry.
        if (row->second.end > anchor_) slot = row->second.end;
    }
    slots_[std::max(slot, ownBase_)].push_back(std::move(record));
}

void ViewMerger::PassRow(unsigned long id) {
    auto row = ownRows_.find(id);
    if (row != ownRows_.end()) pastRuns_ = std::max(pastRuns_, row->second.run + 1);
}

// Later placements go to this slot or after it: the anchor moves only by later matches, which are
// in the row under way (from its first own item on) or in later rows.
size_t ViewMerger::FirstOpenSlot() const {
    if (otherDropped_ || (otherEnded_ && pending_.empty())) return kOpen;
    if (!decided_) return anchor_;
    bool rowPassed = !pending_.empty() && pending_.front().id != decidedId_;
    auto row = ownRows_.find(decidedId_);
    if (rowPassed || row == ownRows_.end()) return anchor_;
    return std::min(anchor_, row->second.start + 1);
}

void ViewMerger::Write(ViewItem item, std::vector<ViewItem>& ready) {
    item.record.index = ++written_;
    ready.push_back(std::move(item));
}

void ViewMerger::TakeReady(std::vector<ViewItem>& ready) {
    while (!otherDropped_ && !pending_.empty() && Decidable(pending_.front())) {
        ItemRecord record = std::move(pending_.front());
        pending_.pop_front();
        Decide(std::move(record));
    }
    if (decided_ && !pending_.empty() && pending_.front().id != decidedId_) PassRow(decidedId_);
    size_t open = FirstOpenSlot();
    bool otherPast = open == kOpen;
    for (;;) {
        auto slot = slots_.find(ownBase_);
        if (slot != slots_.end() && ownBase_ <= open) {
            for (ItemRecord& record : slot->second) Write({ComRef<IZVAutorunItemEx>(), std::move(record)}, ready);
            slots_.erase(slot);
        }
        if (own_.empty() || ownBase_ >= open || (!otherPast && own_.front().run >= pastRuns_)) return;
        Own own = std::move(own_.front());
        own_.pop_front();
        ++ownBase_;
        if (own.shared) own.item.record.view = "both";
        Write(std::move(own.item), ready);
    }
}

std::vector<ViewItem> MergeViews(std::vector<ViewItem> own, std::vector<ItemRecord> other) {
    ViewMerger merger;
    for (ViewItem& item : own) merger.AddOwn(std::move(item));
    merger.EndOwn();
    for (ItemRecord& record : other) merger.AddOther(std::move(record));
    merger.EndOther();
    std::vector<ViewItem> merged;
    merged.reserve(own.size() + other.size());
    merger.TakeReady(merged);
    return merged;
}

}  // namespace zvscan
