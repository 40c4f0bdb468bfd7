#include "platform/offline/registry/hive.h"
#include "platform/offline/le_bytes.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace platform {
namespace offline {

// A key or value record: its signature, its fixed part and where its name's length lies, and the
// damage its cell can show.
struct NodeShape {
    const char* signature;
    uint32_t fixed;
    uint32_t nameLengthField;
    const wchar_t* unreadable;
    const wchar_t* nameTooLong;
};

namespace {

constexpr uint32_t kBinHeaderSize = 32;
constexpr uint32_t kBinAlignment = 4096;
constexpr uint32_t kKeyNodeFixed = 76;    // bytes of an nk record before its name
constexpr uint32_t kValueNodeFixed = 20;  // bytes of a vk record before its name
const NodeShape kKeyNode{"nk", kKeyNodeFixed, 72, L"unreadable key node", L"key name longer than its cell"};
const NodeShape kValueNode{"vk", kValueNodeFixed, 2, L"unreadable value node", L"value name longer than its cell"};
constexpr uint16_t kKeyCompressedName = 0x0020;
constexpr uint16_t kValueCompressedName = 0x0001;

bool Signature(const uint8_t* p, const char* two) { return p[0] == two[0] && p[1] == two[1]; }

std::wstring StoredName(const uint8_t* name, size_t bytes, bool ascii) {
    std::wstring text;
    if (ascii) {
        text.resize(bytes);
        for (size_t i = 0; i < bytes; ++i) text[i] = static_cast<wchar_t>(name[i]);
    } else {
        text.resize(bytes / 2);
        for (size_t i = 0; i < bytes / 2; ++i) text[i] = static_cast<wchar_t>(U16(name + 2 * i));
    }
    return text;
}

// The name hash of an "lh" list: each character upcased, hash = hash * 37 + character.
uint32_t NameHash(const wchar_t* name, size_t length) {
    uint32_t hash = 0;
    for (size_t i = 0; i < length; ++i) hash = hash * 37 + UpcaseChar(name[i]);
    return hash;
}

// The upcase table Windows uses for names, built once from the system's own mapping.
const wchar_t* UpcaseTable() {
    static const std::vector<wchar_t> table = [] {
        std::vector<wchar_t> chars(65536), upper(65536);
        for (size_t i = 0; i < chars.size(); ++i) chars[i] = static_cast<wchar_t>(i);
        // Surrogates map to themselves; the call maps the rest of the plane in one go.
        chars[0] = L' ';
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, chars.data(), 65536, upper.data(), 65536) != 65536)
            upper = chars;
        upper[0] = 0;
        for (size_t i = 0xD800; i < 0xE000; ++i) upper[i] = static_cast<wchar_t>(i);
        return upper;
    }();
    return table.data();
}

}  // namespace

wchar_t UpcaseChar(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return UpcaseTable()[c];
}

bool SameName(const uint8_t* stored, size_t storedBytes, bool ascii, const wchar_t* name, size_t length) {
    size_t chars = ascii ? storedBytes : storedBytes / 2;
    if (chars != length) return false;
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = ascii ? static_cast<wchar_t>(stored[i]) : static_cast<wchar_t>(U16(stored + 2 * i));
        if (c != name[i] && UpcaseChar(c) != UpcaseChar(name[i])) return false;
    }
    return true;
}

std::wstring KeyNode::Name() const { return StoredName(name, nameLength, asciiName); }
std::wstring ValueNode::Name() const { return StoredName(name, nameLength, asciiName); }

bool ValueNode::CopyName(wchar_t* buffer, size_t capacity) const {
    size_t chars = NameChars();
    if (!buffer || chars + 1 > capacity) return false;
    for (size_t i = 0; i < chars; ++i)
        buffer[i] = asciiName ? static_cast<wchar_t>(name[i]) : static_cast<wchar_t>(U16(name + 2 * i));
    buffer[chars] = 0;
    return true;
}

const wchar_t* HiveOpenErrorText(HiveOpenError error) {
    switch (error) {
        case HiveOpenError::None:
            return L"readable";
        case HiveOpenError::TooSmall:
            return L"shorter than a base block and one bin";
        case HiveOpenError::NoSignature:
            return L"no regf signature";
        case HiveOpenError::BadChecksum:
            return L"base block checksum mismatch";
        case HiveOpenError::BadVersion:
            return L"format version other than 1.3 to 1.6";
        case HiveOpenError::NotPrimary:
            return L"not a primary hive file";
        case HiveOpenError::BadRoot:
            return L"root key offset outside the bins";
    }
    return L"unreadable";
}

uint32_t BaseBlockChecksum(const uint8_t* block) {
    uint32_t sum = 0;
    for (int i = 0; i < 127; ++i) sum ^= U32(block + 4 * i);
    if (sum == 0) return 1;
    if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
    return sum;
}

std::unique_ptr<Hive> Hive::Open(std::unique_ptr<HiveBytes> bytes, HiveOpenError& error, DamageSink damage) {
    error = HiveOpenError::None;
    const uint8_t* data = bytes->Data();
    size_t size = bytes->Size();
    if (size < kBaseBlockSize + kBinAlignment) {
        error = HiveOpenError::TooSmall;
        return nullptr;
    }
    if (std::memcmp(data, "regf", 4) != 0) {
        error = HiveOpenError::NoSignature;
        return nullptr;
    }
    if (BaseBlockChecksum(data) != U32(data + 508)) {
        error = HiveOpenError::BadChecksum;
        return nullptr;
    }
    uint32_t major = U32(data + 20), minor = U32(data + 24);
    if (major != 1 || minor < 3 || minor > 6) {
        error = HiveOpenError::BadVersion;
        return nullptr;
    }
    if (U32(data + 28) != 0) {
        error = HiveOpenError::NotPrimary;
        return nullptr;
    }
    std::unique_ptr<Hive> hive(new Hive());
    hive->minor_ = minor;
    hive->primarySequence_ = U32(data + 4);
    hive->secondarySequence_ = U32(data + 8);
    std::memcpy(&hive->lastWritten_, data + 12, sizeof(FILETIME));
    uint64_t announced = static_cast<uint64_t>(kBaseBlockSize) + (U32(data + 40) & ~(kBinAlignment - 1));
    hive->binsEnd_ = static_cast<size_t>(std::min<uint64_t>(announced, size - size % kBinAlignment));
    hive->truncated_ = announced > hive->binsEnd_;
    hive->root_ = U32(data + 36);
    if (hive->root_ >= hive->binsEnd_ - kBaseBlockSize) {
        error = HiveOpenError::BadRoot;
        return nullptr;
    }
    hive->data_ = data;
    hive->bytes_ = std::move(bytes);
    hive->damage_ = std::move(damage);
    return hive;
}

void Hive::Damage(const wchar_t* what, uint32_t cell) const {
    if (!damage_) return;
    wchar_t text[96];
    std::swprintf(text, 96, L"%ls at cell 0x%08lX", what, static_cast<unsigned long>(cell));
    damage_(text);
}

// Bins are found once, the first time a cell is read: a damaged bin header hides its pages and
// the search goes on at the next page boundary.
void Hive::IndexBins() const {
    binsIndexed_ = true;
    size_t end = binsEnd_ - kBaseBlockSize;
    size_t offset = 0;
    while (offset + kBinHeaderSize <= end) {
        const uint8_t* header = data_ + kBaseBlockSize + offset;
        uint32_t size = U32(header + 8);
        bool valid = std::memcmp(header, "hbin", 4) == 0 && U32(header + 4) == offset && size >= kBinAlignment &&
                     size % kBinAlignment == 0 && size <= end - offset;
        if (!valid) {
            if (std::memcmp(header, "hbin", 4) == 0) Damage(L"bin header", static_cast<uint32_t>(offset));
            offset += kBinAlignment;
            continue;
        }
        bins_.push_back({static_cast<uint32_t>(offset), static_cast<uint32_t>(offset + size)});
        offset += size;
    }
}

bool Hive::Cell(uint32_t offset, Span& cell) const {
    if (!binsIndexed_) IndexBins();
    auto next = std::upper_bound(bins_.begin(), bins_.end(), offset,
                                 [](uint32_t value, const Bin& bin) { return value < bin.start; });
    if (next == bins_.begin()) return false;
    const Bin& bin = *(next - 1);
    // The bin found is the last one starting at or before offset; offset may lie past its end.
    if (offset < bin.start + kBinHeaderSize || offset >= bin.end || offset % 8 != 0 || bin.end - offset < 8)
        return false;
    int32_t raw;
    std::memcpy(&raw, data_ + kBaseBlockSize + offset, sizeof raw);
    // A cell in use has a negative size; a free cell is never referred to.
    if (raw >= 0 || raw == INT32_MIN) return false;
    uint32_t size = static_cast<uint32_t>(-raw);
    if (size < 8 || size > bin.end - offset) return false;
    cell.data = data_ + kBaseBlockSize + offset + 4;
    cell.size = size - 4;
    return true;
}

bool Hive::NodeCell(uint32_t cell, const NodeShape& shape, Span& span, uint16_t& nameLength) const {
    if (!Cell(cell, span) || span.size < shape.fixed || !Signature(span.data, shape.signature)) {
        Damage(shape.unreadable, cell);
        return false;
    }
    nameLength = U16(span.data + shape.nameLengthField);
    if (nameLength > span.size - shape.fixed) {
        Damage(shape.nameTooLong, cell);
        return false;
    }
    return true;
}

bool Hive::ReadKey(uint32_t cell, KeyNode& key) const {
    Span span;
    uint16_t nameLength = 0;
    if (!NodeCell(cell, kKeyNode, span, nameLength)) return false;
    const uint8_t* p = span.data;
    key = KeyNode{};
    key.cell = cell;
    key.flags = U16(p + 2);
    std::memcpy(&key.lastWrite, p + 4, sizeof(FILETIME));
    key.subkeyList = U32(p + 20) ? U32(p + 28) : kNoCell;
    key.valueCount = U32(p + 36);
    key.valueList = key.valueCount ? U32(p + 40) : kNoCell;
    key.security = U32(p + 44);
    key.classCell = U32(p + 48);
    key.classLength = U16(p + 74);
    key.name = p + kKeyNodeFixed;
    key.nameLength = nameLength;
    key.asciiName = (key.flags & kKeyCompressedName) != 0;
    if (!key.asciiName && nameLength % 2) --key.nameLength;
    return true;
}

// A leaf list (li: offsets; lf, lh: offset and hint) or an index root (ri: offsets of leaf lists).
uint32_t Hive::ListLength(const Span& list) const {
    if (list.size < 4) return 0;
    uint32_t count = U16(list.data + 2);
    uint32_t stride = (Signature(list.data, "lf") || Signature(list.data, "lh")) ? 8 : 4;
    return std::min(count, (list.size - 4) / stride);
}

bool Hive::ListEntry(const Span& list, uint32_t index, uint32_t& cell) const {
    uint32_t stride = (Signature(list.data, "lf") || Signature(list.data, "lh")) ? 8 : 4;
    if (index >= ListLength(list)) return false;
    cell = U32(list.data + 4 + index * stride);
    return true;
}

uint32_t Hive::SubkeyCount(const KeyNode& key) const {
    Span list;
    if (key.subkeyList == kNoCell || !Cell(key.subkeyList, list) || list.size < 4) return 0;
    if (!Signature(list.data, "ri")) {
        bool leaf = Signature(list.data, "li") || Signature(list.data, "lf") || Signature(list.data, "lh");
        return leaf ? ListLength(list) : 0;
    }
    uint32_t total = 0;
    for (uint32_t i = 0, n = ListLength(list); i < n; ++i) {
        uint32_t leafCell;
        Span leaf;
        if (!ListEntry(list, i, leafCell) || !Cell(leafCell, leaf) || leaf.size < 4) continue;
        // Index roots hold leaf lists only; anything else (another ri among them) is passed over.
        if (Signature(leaf.data, "ri") ||
            !(Signature(leaf.data, "li") || Signature(leaf.data, "lf") || Signature(leaf.data, "lh")))
            continue;
        total += ListLength(leaf);
    }
    return total;
}

bool Hive::SubkeyAt(const KeyNode& key, uint32_t index, KeyNode& subkey) const {
    Span list;
    if (key.subkeyList == kNoCell || !Cell(key.subkeyList, list) || list.size < 4) return false;
    uint32_t cell = kNoCell;
    if (!Signature(list.data, "ri")) {
        if (!(Signature(list.data, "li") || Signature(list.data, "lf") || Signature(list.data, "lh"))) {
            Damage(L"unknown subkey list", key.subkeyList);
            return false;
        }
        if (!ListEntry(list, index, cell)) return false;
    } else {
        for (uint32_t i = 0, n = ListLength(list); i < n && cell == kNoCell; ++i) {
            uint32_t leafCell;
            Span leaf;
            if (!ListEntry(list, i, leafCell) || !Cell(leafCell, leaf) || leaf.size < 4) continue;
            if (Signature(leaf.data, "ri") ||
                !(Signature(leaf.data, "li") || Signature(leaf.data, "lf") || Signature(leaf.data, "lh")))
                continue;
            uint32_t length = ListLength(leaf);
            if (index < length) {
                ListEntry(leaf, index, cell);
            } else {
                index -= length;
            }
        }
        if (cell == kNoCell) return false;
    }
    if (cell == key.cell) {
        Damage(L"key listed as its own subkey", cell);
        return false;
    }
    return ReadKey(cell, subkey);
}

bool Hive::FindSubkey(const KeyNode& key, const wchar_t* name, size_t length, KeyNode& subkey) const {
    Span root;
    if (key.subkeyList == kNoCell || !Cell(key.subkeyList, root) || root.size < 4) return false;
    bool asciiQuery = std::all_of(name, name + length, [](wchar_t c) { return c < 0x80; });
    uint32_t hash = NameHash(name, length);
    auto searchLeaf = [&](const Span& leaf) {
        bool hashed = Signature(leaf.data, "lh");
        uint32_t stride = (hashed || Signature(leaf.data, "lf")) ? 8 : 4;
        for (uint32_t i = 0, n = ListLength(leaf); i < n; ++i) {
            const uint8_t* entry = leaf.data + 4 + i * stride;
            // The hash is computed over upcased characters; for ASCII names it decides at once.
            if (hashed && asciiQuery && U32(entry + 4) != hash) continue;
            uint32_t cell = U32(entry);
            KeyNode candidate;
            if (cell == key.cell || !ReadKey(cell, candidate)) continue;
            if (SameName(candidate.name, candidate.nameLength, candidate.asciiName, name, length)) {
                subkey = candidate;
                return true;
            }
        }
        return false;
    };
    auto isLeaf = [](const Span& s) {
        return Signature(s.data, "li") || Signature(s.data, "lf") || Signature(s.data, "lh");
    };
    if (isLeaf(root)) return searchLeaf(root);
    if (!Signature(root.data, "ri")) return false;
    for (uint32_t i = 0, n = ListLength(root); i < n; ++i) {
        uint32_t leafCell;
        Span leaf;
        if (!ListEntry(root, i, leafCell) || !Cell(leafCell, leaf) || leaf.size < 4 || !isLeaf(leaf)) continue;
        if (searchLeaf(leaf)) return true;
    }
    return false;
}

uint32_t Hive::ValueCount(const KeyNode& key) const {
    Span list;
    if (key.valueList == kNoCell || !Cell(key.valueList, list)) return 0;
    if (key.valueCount > list.size / 4) {
        Damage(L"value list shorter than its count", key.valueList);
        return list.size / 4;
    }
    return key.valueCount;
}

bool Hive::ValueAt(const KeyNode& key, uint32_t index, ValueNode& value) const {
    Span list, span;
    if (key.valueList == kNoCell || !Cell(key.valueList, list) || index >= list.size / 4 || index >= key.valueCount)
        return false;
    uint32_t cell = U32(list.data + 4 * index);
    uint16_t nameLength = 0;
    if (!NodeCell(cell, kValueNode, span, nameLength)) return false;
    const uint8_t* p = span.data;
    value = ValueNode{};
    value.cell = cell;
    value.rawSize = U32(p + 4);
    value.dataCell = U32(p + 8);
    value.dataField = p + 8;
    value.type = U32(p + 12);
    value.asciiName = (U16(p + 16) & kValueCompressedName) != 0;
    value.name = p + kValueNodeFixed;
    value.nameLength = nameLength;
    if (!value.asciiName && nameLength % 2) --value.nameLength;
    return true;
}

bool Hive::FindValue(const KeyNode& key, const wchar_t* name, size_t length, ValueNode& value) const {
    for (uint32_t i = 0, n = ValueCount(key); i < n; ++i) {
        ValueNode candidate;
        if (!ValueAt(key, i, candidate)) continue;
        if (SameName(candidate.name, candidate.nameLength, candidate.asciiName, name, length)) {
            value = candidate;
            return true;
        }
    }
    return false;
}

bool Hive::ReadData(const ValueNode& value, uint8_t* out) const {
    uint32_t size = value.DataSize();
    if (value.Resident()) {
        if (size > 4) {
            Damage(L"resident value data over 4 bytes", value.cell);
            return false;
        }
        if (out) std::memcpy(out, value.dataField, size);
        return true;
    }
    if (size == 0) return true;
    // No value holds more than the hive's bins; a larger size is damage, not an allocation to make.
    if (size > BinsSize()) {
        Damage(L"value data larger than the hive", value.cell);
        return false;
    }
    Span data;
    if (!Cell(value.dataCell, data)) {
        Damage(L"unreadable value data", value.cell);
        return false;
    }
    bool bigData = minor_ >= 4 && size > kBigDataSegment && data.size >= 8 && Signature(data.data, "db");
    if (!bigData) {
        if (data.size < size) {
            Damage(L"value data cell shorter than its size", value.cell);
            return false;
        }
        if (out) std::memcpy(out, data.data, size);
        return true;
    }
    uint32_t segments = U16(data.data + 2);
    Span list;
    if (!Cell(U32(data.data + 4), list) || list.size / 4 < segments ||
        static_cast<uint64_t>(segments) * kBigDataSegment < size) {
        Damage(L"big data record with too few segments", value.cell);
        return false;
    }
    uint32_t copied = 0;
    for (uint32_t i = 0; i < segments && copied < size; ++i) {
        Span segment;
        uint32_t part = std::min(kBigDataSegment, size - copied);
        if (!Cell(U32(list.data + 4 * i), segment) || segment.size < part) {
            Damage(L"unreadable big data segment", value.cell);
            return false;
        }
        if (out) std::memcpy(out + copied, segment.data, part);
        copied += part;
    }
    return true;
}

bool Hive::ReadClass(const KeyNode& key, std::wstring& className) const {
    className.clear();
    if (key.classLength == 0 || key.classCell == kNoCell) return true;
    Span span;
    if (!Cell(key.classCell, span) || span.size < key.classLength) {
        Damage(L"unreadable class name", key.cell);
        return false;
    }
    className = StoredName(span.data, key.classLength, false);
    return true;
}

bool Hive::SecurityDescriptorSize(const KeyNode& key, DWORD& size) const {
    Span span;
    if (key.security == kNoCell || !Cell(key.security, span) || span.size < 20 || !Signature(span.data, "sk") ||
        U32(span.data + 16) > span.size - 20) {
        Damage(L"unreadable security cell", key.cell);
        return false;
    }
    size = U32(span.data + 16);
    return true;
}

}  // namespace offline
}  // namespace platform
