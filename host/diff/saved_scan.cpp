#include "diff/saved_scan.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "diff/saved_text.h"
#include "win/handles.h"
#include "win/text.h"

namespace zvscan {

namespace {

constexpr size_t kBlockSize = 4 << 20;

std::string Text(const OrderedJson& item, const char* field) {
    auto found = item.find(field);
    return found != item.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Upper(const std::string& utf8) { return Utf8(Folded(Wide(utf8))); }

// FNV-1a over 64 bits.
std::uint64_t Hash(const std::string& text) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

// A record of one key whose value is an object: {"scan_start":{…}}, {"counters":{…}}.
const OrderedJson* Record(const OrderedJson& line, const char* name) {
    if (!line.is_object() || line.size() != 1) return nullptr;
    auto found = line.find(name);
    return found != line.end() ? &*found : nullptr;
}

}  // namespace

OrderedJson ParseItemText(std::string_view text) { return OrderedJson::parse(KeepLoneSurrogates(text)); }

std::string DiffKey(const OrderedJson& item) {
    // An entry only the WOW64 view sees is another than the native one at the same location.
    std::string view = Text(item, "view") == "wow64" ? "\nWOW64" : "";
    return Upper(Text(item, "id")) + "\n" + Upper(Text(item, "hive")) + "\n" + Upper(Text(item, "location")) + view;
}

void SavedScan::Add(std::string_view text, const OrderedJson& item) {
    if (!item.is_object() || !item.contains("id") || !item["id"].is_string() || !item.contains("location") ||
        !item["location"].is_string())
        throw SavedScanError("not an item of a scan saved with --format json (no \"id\" and \"location\")");
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw SavedScanError("an item of over 4 GB");
    if (item.contains("evidence")) evidence_ = true;
    if (item.contains("signatures")) signatures_ = true;
    std::string_view kept = Keep(text);
    items_.push_back({kept.data(), static_cast<std::uint32_t>(kept.size()), Hash(DiffKey(item))});
}

std::string_view SavedScan::Keep(std::string_view text) {
    if (blocks_.empty() || blockSize_ - blockUsed_ < text.size()) {
        blockSize_ = std::max(kBlockSize, text.size());
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockUsed_ = 0;
    }
    char* at = blocks_.back().get() + blockUsed_;
    std::memcpy(at, text.data(), text.size());
    blockUsed_ += text.size();
    return {at, text.size()};
}

SavedScanError SavedScanParser::Fail(const std::string& what) const {
    return SavedScanError(scan_.name() + ", line " + std::to_string(number_) + ": " + what);
}

void SavedScanParser::Line(std::string_view line, bool complete) {
    ++number_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    OrderedJson record;
    try {
        record = ParseItemText(line);
    } catch (const nlohmann::json::exception&) {
        throw Fail(complete ? "not a JSON object" : "cut short (not a whole JSON object)");
    }
    ++records_;
    if (ended_) throw Fail("a record after the scan's end record");
    if (const OrderedJson* start = Record(record, "scan_start")) {
        if (records_ != 1) throw Fail("a start record that is not the scan's first");
        if (!start->is_object()) throw Fail("a start record without its members");
        started_ = true;
        auto evidence = start->find("evidence");
        if (evidence != start->end() && *evidence == true) scan_.set_evidence();
        auto signatures = start->find("signatures");
        if (signatures != start->end() && *signatures == true) scan_.set_signatures();
        return;
    }
    if (const OrderedJson* end = Record(record, "scan_end")) {
        auto items = end->is_object() ? end->find("items") : end->end();
        if (!end->is_object() || items == end->end() || !items->is_number_unsigned())
            throw Fail("an end record without its item count");
        ended_ = true;
        endCount_ = items->get<unsigned long long>();
        return;
    }
    if (Record(record, "counters")) return;
    try {
        scan_.Add(line, record);
    } catch (const SavedScanError& error) {
        throw Fail(error.what());
    }
}

SavedScan SavedScanParser::Finish() {
    const std::string& name = scan_.name();
    std::string items = std::to_string(scan_.size());
    if (records_ == 0) throw SavedScanError(name + ": empty, no scan in it");
    if (started_ && !ended_) throw SavedScanError(name + ": cut short after " + items + " items (no end record)");
    if (ended_ && !started_) throw SavedScanError(name + ": an end record without a start record");
    if (ended_ && endCount_ > scan_.size())
        throw SavedScanError(name + ": cut short after " + items + " of " + std::to_string(endCount_) + " items");
    if (ended_ && endCount_ < scan_.size())
        throw SavedScanError(name + ": " + items + " items where its end record counts " + std::to_string(endCount_));
    if (!started_)
        warning_ = name + ": saved without start and end records, so whether it is complete cannot be checked";
    return std::move(scan_);
}

SavedScan ParseSavedScan(std::string_view text, const std::string& name, std::string* warning) {
    SavedScanParser parser(name);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        parser.Line(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start),
                    end != std::string_view::npos);
        start = end == std::string_view::npos ? text.size() : end + 1;
    }
    SavedScan scan = parser.Finish();
    if (warning) *warning = parser.warning();
    return scan;
}

SavedScan ReadSavedScan(const std::wstring& path, std::string* warning) {
    std::string name = Utf8(path);
    FileHandle file = OpenForReading(path);
    if (!file) throw SavedScanError(name + ": cannot be read (error " + std::to_string(GetLastError()) + ")");
    SavedScanParser parser(name);
    // A piece at a time: only the line being read is held besides what the scan keeps.
    std::string pending;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            throw SavedScanError(name + ": cannot be read (error " + std::to_string(GetLastError()) + ")");
        if (read == 0) break;
        std::string_view piece(buffer.data(), read);
        for (size_t start = 0;;) {
            size_t end = piece.find('\n', start);
            if (end == std::string_view::npos) {
                pending.append(piece.substr(start));
                break;
            }
            if (pending.empty()) {
                parser.Line(piece.substr(start, end - start), true);
            } else {
                pending.append(piece.substr(start, end - start));
                parser.Line(pending, true);
                pending.clear();
            }
            start = end + 1;
        }
    }
    if (!pending.empty()) parser.Line(pending, false);
    SavedScan scan = parser.Finish();
    if (warning) *warning = parser.warning();
    return scan;
}

}  // namespace zvscan
