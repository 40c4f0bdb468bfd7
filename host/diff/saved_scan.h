// A scan saved with --format json, held compactly: each item's line as it was saved, in blocks, with
// the hash of the key that identifies it across scans. Items are parsed again when compared.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zvscan {

using OrderedJson = nlohmann::ordered_json;

// A saved scan that cannot be read; what() names the file and, where there is one, the line.
class SavedScanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An item's JSON text parsed, its lone surrogates kept (see saved_text.h). Throws
// nlohmann::json::exception when it is no JSON.
OrderedJson ParseItemText(std::string_view text);

// What identifies an item across scans: its location identifier, its hive and its location text,
// without regard to letter case. Never its position.
std::string DiffKey(const OrderedJson& item);

class SavedScan {
public:
    explicit SavedScan(std::string name = "the current scan") : name_(std::move(name)) {}
    SavedScan(SavedScan&&) = default;
    SavedScan& operator=(SavedScan&&) = default;

    // Keeps one item given as its JSON object's text. Throws nlohmann::json::exception when it is no
    // JSON, SavedScanError when it is no item.
    void Add(std::string_view text) { Add(text, ParseItemText(text)); }
    // The same with the text already parsed into item.
    void Add(std::string_view text, const OrderedJson& item);

    size_t size() const { return items_.size(); }
    OrderedJson Item(size_t index) const { return ParseItemText(Text(index)); }
    std::string_view Text(size_t index) const { return {items_[index].text, items_[index].size}; }
    std::uint64_t KeyHash(size_t index) const { return items_[index].keyHash; }

    const std::string& name() const { return name_; }
    // Made with --evidence: its start record says so, or an item carries evidence.
    bool evidence() const { return evidence_; }
    void set_evidence() { evidence_ = true; }
    // Made with --signatures, known the same way.
    bool signatures() const { return signatures_; }
    void set_signatures() { signatures_ = true; }

private:
    struct Entry {
        const char* text;
        std::uint32_t size;
        std::uint64_t keyHash;
    };
    std::string_view Keep(std::string_view text);

    std::string name_;
    std::vector<Entry> items_;
    // Texts live in blocks that never move, so that a scan of hundreds of megabytes needs no
    // contiguous space and no copy when it grows.
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockUsed_ = 0, blockSize_ = 0;
    bool evidence_ = false;
    bool signatures_ = false;
};

// Reads a saved scan line by line. A scan written with start and end records must hold them first
// and last, with as many items as the end record counts; one without either cannot be checked for
// completeness, and warning() says so. Errors name the line; nothing of a bad scan is kept.
class SavedScanParser {
public:
    explicit SavedScanParser(std::string name) : scan_(std::move(name)) {}
    // complete: the line ended with a line break (only a file's last line may not).
    void Line(std::string_view line, bool complete);
    SavedScan Finish();
    const std::string& warning() const { return warning_; }

private:
    SavedScanError Fail(const std::string& what) const;

    SavedScan scan_;
    size_t number_ = 0, records_ = 0;
    bool started_ = false, ended_ = false;
    unsigned long long endCount_ = 0;
    std::string warning_;
};

// warning: empty, or why the scan's completeness cannot be checked.
SavedScan ParseSavedScan(std::string_view text, const std::string& name, std::string* warning = nullptr);
SavedScan ReadSavedScan(const std::wstring& path, std::string* warning = nullptr);

}  // namespace zvscan
