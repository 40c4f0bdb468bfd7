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

namespace {

// Takes the first index queued under identity, if any.
bool TakeFirst(std::unordered_map<std::string, std::deque<size_t>>& queues, const std::string& identity,
               size_t& index) {
    auto queue = queues.find(identity);
    if (queue == queues.end()) return false;
    index = queue->second.front();
    queue->second.pop_front();
    if (queue->second.empty()) queues.erase(queue);
    return true;
}

}  // namespace

ViewMerger::RowKey ViewMerger::RowCounter::Next(unsigned long id) {
    if (!any || last.first != id) last = {id, seen[id]++};
    any = true;
    return last;
}

void ViewMerger::AddOwn(ViewItem item) {
    RowKey key = ownRows_.Next(item.record.id);
    if (rows_.empty() || rows_.back().key != key) {
        if (!rows_.empty()) CloseOwnRow(rows_.size() - 1);
        size_t row = rows_.size();
        rows_.emplace_back();
        rows_.back().key = key;
        rowOf_[key] = row;
        // A row of the other view already placed as its alone stays so.
        auto listed = otherRowOf_.find(key);
        if (listed != otherRowOf_.end() && !dropped_ && other_[listed->second].own == kUnknown) {
            OtherRow& other = other_[listed->second];
            other.own = static_cast<long>(row);
            maxOtherRow_ = std::max(maxOtherRow_, other.own);
            rows_[row].otherLeft = listed->second + 1 < other_.size();
            std::vector<ItemRecord> held = std::move(other.held);
            ResolveBefore(listed->second);
            for (ItemRecord& record : held) Place(row, std::move(record));
        }
    }
    Row& row = rows_.back();
    size_t index = ownCount_++;
    row.end = ownCount_;
    Own own{std::move(item)};
    if (!dropped_) {
        std::string identity = EntryIdentity(own.item.record);
        size_t waiting = 0;
        if (TakeFirst(row.waitingByIdentity, identity, waiting)) {
            row.waiting[waiting].reset();
            own.shared = true;
        } else {
            row.unmatched[identity].push_back(index);
        }
    }
    own_.push_back(std::move(own));
}

void ViewMerger::EndOwn() {
    ownEnded_ = true;
    if (!rows_.empty()) CloseOwnRow(rows_.size() - 1);
    ResolveBefore(other_.size());
}

void ViewMerger::AddOther(ItemRecord record) {
    if (dropped_) return;
    RowKey key = otherRows_.Next(record.id);
    if (other_.empty() || other_.back().key != key) {
        if (!other_.empty() && other_.back().own >= 0) rows_[static_cast<size_t>(other_.back().own)].otherLeft = true;
        size_t at = other_.size();
        other_.emplace_back();
        other_.back().key = key;
        otherRowOf_[key] = at;
        auto known = rowOf_.find(key);
        if (known != rowOf_.end()) {
            other_[at].own = static_cast<long>(known->second);
            maxOtherRow_ = std::max(maxOtherRow_, other_[at].own);
            ResolveBefore(at);
        } else if (ownEnded_) {
            other_[at].own = kOtherOnly;
        }
    }
    size_t at = other_.size() - 1;
    OtherRow& row = other_[at];
    if (row.own >= 0) {
        Place(static_cast<size_t>(row.own), std::move(record));
    } else if (row.own == kOtherOnly) {
        BeforeRow(at).push_back(std::move(record));
    } else {
        row.held.push_back(std::move(record));
    }
}

void ViewMerger::EndOther() {
    otherEnded_ = true;
    if (!other_.empty() && other_.back().own >= 0) rows_[static_cast<size_t>(other_.back().own)].otherLeft = true;
}

void ViewMerger::DropOther() {
    dropped_ = true;
    for (Row& row : rows_) {
        Row kept;
        kept.key = row.key;
        kept.end = row.end;
        row = std::move(kept);
    }
    for (Own& own : own_) own.shared = false;
    other_.clear();
    otherRowOf_.clear();
    leading_.clear();
    late_.clear();
}

// An item of the other view in an own row: the first own item of the row that is the same and not
// yet matched, else one of the row's other entries, settled once this view has left the row.
void ViewMerger::Place(size_t rowIndex, ItemRecord record) {
    Row& row = rows_[rowIndex];
    std::string identity = EntryIdentity(record);
    size_t index = 0;
    if (TakeFirst(row.unmatched, identity, index) && index >= ownBase_) {
        own_[index - ownBase_].shared = true;
        return;
    }
    if (rowIndex + 1 < rows_.size() || ownEnded_) {
        TailOf(rowIndex).push_back(std::move(record));
        return;
    }
    row.waitingByIdentity[identity].push_back(row.waiting.size());
    row.waiting.push_back(std::move(record));
}

void ViewMerger::CloseOwnRow(size_t rowIndex) {
    Row& row = rows_[rowIndex];
    for (std::optional<ItemRecord>& record : row.waiting)
        if (record) TailOf(rowIndex).push_back(std::move(*record));
    row.waiting.clear();
    row.waitingByIdentity.clear();
}

// The rows the other view listed before its row at `end` that this view has not reached are the
// other view's alone: this view has moved past them.
void ViewMerger::ResolveBefore(size_t end) {
    for (; resolved_ < end; ++resolved_) {
        OtherRow& row = other_[resolved_];
        if (row.own != kUnknown) continue;
        row.own = kOtherOnly;
        std::vector<ItemRecord>& before = BeforeRow(resolved_);
        for (ItemRecord& record : row.held) before.push_back(std::move(record));
        row.held.clear();
    }
}

// Where a row only the other view has goes: after the own row it lists before it, or first.
std::vector<ItemRecord>& ViewMerger::BeforeRow(size_t otherRow) {
    for (size_t i = otherRow; i-- > 0;) {
        if (other_[i].own < 0) continue;
        Row& row = rows_[static_cast<size_t>(other_[i].own)];
        return row.afterWritten ? late_ : row.after;
    }
    return leadingWritten_ ? late_ : leading_;
}

std::vector<ItemRecord>& ViewMerger::TailOf(size_t row) { return rows_[row].tailWritten ? late_ : rows_[row].tail; }

bool ViewMerger::OtherPassed(size_t row) const {
    return dropped_ || otherEnded_ || rows_[row].otherLeft || maxOtherRow_ > static_cast<long>(row);
}

// No row only the other view has can still come after this own row.
bool ViewMerger::AfterComplete(size_t row) const {
    return dropped_ || maxOtherRow_ > static_cast<long>(row) || (otherEnded_ && ownEnded_);
}

bool ViewMerger::LeadingComplete() const { return dropped_ || maxOtherRow_ >= 0 || (otherEnded_ && ownEnded_); }

void ViewMerger::Write(ViewItem item, std::vector<ViewItem>& ready) {
    item.record.index = ++written_;
    ready.push_back(std::move(item));
}

void ViewMerger::TakeReady(std::vector<ViewItem>& ready) {
    auto writeOther = [&](std::vector<ItemRecord>& records) {
        for (ItemRecord& record : records) Write({ComRef<IZVAutorunItemEx>(), std::move(record)}, ready);
        records.clear();
    };
    for (;;) {
        writeOther(late_);
        switch (phase_) {
            case Phase::Leading:
                if (!LeadingComplete()) return;
                writeOther(leading_);
                leadingWritten_ = true;
                phase_ = Phase::Own;
                break;
            case Phase::Own: {
                if (writeRow_ >= rows_.size()) return;
                size_t end = rows_[writeRow_].end;
                while (ownBase_ < end && (own_.front().shared || OtherPassed(writeRow_))) {
                    Own own = std::move(own_.front());
                    own_.pop_front();
                    ++ownBase_;
                    if (own.shared) own.item.record.view = "both";
                    Write(std::move(own.item), ready);
                }
                // This view may still add to the row it is in.
                if (ownBase_ < end || (writeRow_ + 1 == rows_.size() && !ownEnded_)) return;
                phase_ = Phase::Tail;
                break;
            }
            case Phase::Tail:
                if (!OtherPassed(writeRow_)) return;
                writeOther(rows_[writeRow_].tail);
                rows_[writeRow_].tailWritten = true;
                phase_ = Phase::After;
                break;
            case Phase::After:
                if (!AfterComplete(writeRow_)) return;
                writeOther(rows_[writeRow_].after);
                rows_[writeRow_].afterWritten = true;
                ++writeRow_;
                phase_ = Phase::Own;
                break;
        }
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
