#include "views/merge.h"

#include <unordered_map>

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

std::vector<ViewItem> MergeViews(std::vector<ViewItem> own, std::vector<ItemRecord> other) {
    std::unordered_multimap<std::string, size_t> byIdentity;
    std::unordered_map<unsigned long, size_t> rowEnd;  // an identifier's last own item, plus one
    for (size_t i = 0; i < own.size(); ++i) {
        byIdentity.emplace(EntryIdentity(own[i].record), i);
        rowEnd[own[i].record.id] = i + 1;
    }
    std::vector<bool> shared(own.size(), false);
    // The other view's entries of its own, each after the own item it follows in the other scan.
    std::vector<std::vector<ItemRecord>> after(own.size() + 1);
    size_t anchor = 0;  // 0: before every own item; i + 1: after own item i
    for (ItemRecord& record : other) {
        auto range = byIdentity.equal_range(EntryIdentity(record));
        auto unmatched = range.first;
        while (unmatched != range.second && shared[unmatched->second]) ++unmatched;
        if (unmatched != range.second) {
            shared[unmatched->second] = true;
            anchor = unmatched->second + 1;
            continue;
        }
        // With the own items of its row, where they come after the last shared entry.
        auto row = rowEnd.find(record.id);
        after[row != rowEnd.end() && row->second > anchor ? row->second : anchor].push_back(std::move(record));
    }
    std::vector<ViewItem> merged;
    merged.reserve(own.size() + other.size());
    auto take = [&](std::vector<ItemRecord>& records) {
        for (ItemRecord& record : records) merged.push_back({ComRef<IZVAutorunItemEx>(), std::move(record)});
    };
    take(after[0]);
    for (size_t i = 0; i < own.size(); ++i) {
        if (shared[i]) own[i].record.view = "both";
        merged.push_back(std::move(own[i]));
        take(after[i + 1]);
    }
    for (size_t i = 0; i < merged.size(); ++i) merged[i].record.index = static_cast<unsigned long>(i + 1);
    return merged;
}

}  // namespace zvscan
