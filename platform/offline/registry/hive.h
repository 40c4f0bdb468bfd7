// A read-only reader of registry hive files (regf, versions 1.3 to 1.6). Every offset, length and
// count read from the bytes is checked against the cell, its bin and the file before it is used: a
// damaged cell makes that key or value unreadable and is reported through the damage callback.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace offline {

// The bytes of one hive: a read-only view of its file, or a copy in memory when logs were applied.
class HiveBytes {
public:
    virtual ~HiveBytes() = default;
    virtual const uint8_t* Data() const = 0;
    virtual size_t Size() const = 0;
};

// A file mapped for reading, shared with every other reader and writer of it.
std::unique_ptr<HiveBytes> MapHiveFile(const std::wstring& path, DWORD& error);
std::unique_ptr<HiveBytes> HiveBytesOf(std::vector<uint8_t> bytes);

enum class HiveOpenError { None, TooSmall, NoSignature, BadChecksum, BadVersion, NotPrimary, BadRoot };
const wchar_t* HiveOpenErrorText(HiveOpenError error);

constexpr uint32_t kBaseBlockSize = 4096;
constexpr uint32_t kNoCell = 0xFFFFFFFFu;
// A value's data beyond this many bytes lives in a big-data record ("db") from version 1.4 on.
constexpr uint32_t kBigDataSegment = 16344;
// The deepest a key path may nest, as Windows limits it; bounds walks through hostile hives.
constexpr unsigned kMaxKeyDepth = 512;

// The checksum of a base block: the XOR of its first 127 DWORDs, 0 and -1 avoided.
uint32_t BaseBlockChecksum(const uint8_t* block);

struct KeyNode {
    uint32_t cell = kNoCell;
    uint16_t flags = 0;
    FILETIME lastWrite{};
    uint32_t subkeyList = kNoCell;
    uint32_t valueCount = 0;
    uint32_t valueList = kNoCell;
    uint32_t security = kNoCell;
    uint32_t classCell = kNoCell;
    uint16_t classLength = 0;  // bytes
    const uint8_t* name = nullptr;
    uint16_t nameLength = 0;  // bytes
    bool asciiName = false;

    std::wstring Name() const;
    size_t NameChars() const { return asciiName ? nameLength : nameLength / 2; }
};

struct ValueNode {
    uint32_t cell = kNoCell;
    uint32_t type = 0;
    uint32_t rawSize = 0;  // as stored: bit 31 marks data kept in the offset field
    uint32_t dataCell = 0;
    const uint8_t* dataField = nullptr;  // the four bytes of the offset field
    const uint8_t* name = nullptr;
    uint16_t nameLength = 0;
    bool asciiName = false;

    uint32_t DataSize() const { return rawSize & 0x7FFFFFFFu; }
    bool Resident() const { return (rawSize & 0x80000000u) != 0; }
    std::wstring Name() const;
    // Copies the name and a terminator when both fit capacity characters.
    bool CopyName(wchar_t* buffer, size_t capacity) const;
    size_t NameChars() const { return asciiName ? nameLength : nameLength / 2; }
};

struct NodeShape;  // a key or value record's layout, for reading its cell

class Hive {
public:
    using DamageSink = std::function<void(const std::wstring&)>;

    // Checks the base block only; bins and cells are read when asked for.
    static std::unique_ptr<Hive> Open(std::unique_ptr<HiveBytes> bytes, HiveOpenError& error,
                                      DamageSink damage = nullptr);

    const HiveBytes& Bytes() const { return *bytes_; }
    uint32_t MinorVersion() const { return minor_; }
    uint32_t PrimarySequence() const { return primarySequence_; }
    uint32_t SecondarySequence() const { return secondarySequence_; }
    bool Dirty() const { return primarySequence_ != secondarySequence_; }
    FILETIME LastWritten() const { return lastWritten_; }
    // The file held fewer bin bytes than its base block announces.
    bool Truncated() const { return truncated_; }
    uint32_t RootCell() const { return root_; }
    size_t BinsSize() const { return binsEnd_ - kBaseBlockSize; }

    bool ReadKey(uint32_t cell, KeyNode& key) const;
    // Subkeys as listed by the key's subkey list (lf, lh, li, or ri of those).
    uint32_t SubkeyCount(const KeyNode& key) const;
    bool SubkeyAt(const KeyNode& key, uint32_t index, KeyNode& subkey) const;
    bool FindSubkey(const KeyNode& key, const wchar_t* name, size_t length, KeyNode& subkey) const;

    uint32_t ValueCount(const KeyNode& key) const;
    bool ValueAt(const KeyNode& key, uint32_t index, ValueNode& value) const;
    bool FindValue(const KeyNode& key, const wchar_t* name, size_t length, ValueNode& value) const;
    // Copies the value's data (DataSize() bytes) into out, which must hold that many; false when
    // the data cannot be read. A null out only checks that it can be.
    bool ReadData(const ValueNode& value, uint8_t* out) const;

    bool ReadClass(const KeyNode& key, std::wstring& className) const;
    // The size of the key's security descriptor, from its security cell ("sk").
    bool SecurityDescriptorSize(const KeyNode& key, DWORD& size) const;

private:
    Hive() = default;
    struct Span {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
    };
    struct Bin {
        uint32_t start, end;  // offsets from the first bin
    };
    bool Cell(uint32_t offset, Span& cell) const;
    // The cell of a record of that shape whose name fits in it.
    bool NodeCell(uint32_t cell, const NodeShape& shape, Span& span, uint16_t& nameLength) const;
    void IndexBins() const;
    bool ListEntry(const Span& list, uint32_t index, uint32_t& cell) const;
    uint32_t ListLength(const Span& list) const;
    void Damage(const wchar_t* what, uint32_t cell) const;

    std::unique_ptr<HiveBytes> bytes_;
    const uint8_t* data_ = nullptr;
    size_t binsEnd_ = 0;  // absolute end of the bins the file holds
    uint32_t minor_ = 0;
    uint32_t primarySequence_ = 0, secondarySequence_ = 0;
    FILETIME lastWritten_{};
    uint32_t root_ = kNoCell;
    bool truncated_ = false;
    DamageSink damage_;
    mutable std::vector<Bin> bins_;
    mutable bool binsIndexed_ = false;
};

// Compares a name stored in a hive with a wide name as Windows compares key and value names:
// without regard to case.
bool SameName(const uint8_t* stored, size_t storedBytes, bool ascii, const wchar_t* name, size_t length);
wchar_t UpcaseChar(wchar_t c);

}  // namespace offline
}  // namespace platform
