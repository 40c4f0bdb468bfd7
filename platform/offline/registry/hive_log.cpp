#include "platform/offline/registry/hive_log.h"
#include "platform/offline/le_bytes.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace offline {

namespace {

constexpr size_t kLogBaseBlock = 512;  // a log's copy of the base block
constexpr size_t kEntryHeader = 40;    // HvLE header before its page references
constexpr uint32_t kLogFileType = 6;   // transaction log of Windows 8.1 and later
constexpr uint32_t kPage = 4096;

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void MarvinBlock(uint32_t& lo, uint32_t& hi) {
    hi ^= lo;
    lo = Rotl(lo, 20) + hi;
    hi = Rotl(hi, 9) ^ lo;
    lo = Rotl(lo, 27) + hi;
    hi = Rotl(hi, 19);
}

struct Entry {
    const uint8_t* data;
    uint32_t size, sequence, binsSize, pages;
};

// Entries of one log, in file order, up to the first that fails its checks.
std::vector<Entry> ValidEntries(const HiveBytes& log) {
    std::vector<Entry> entries;
    const uint8_t* data = log.Data();
    size_t size = log.Size();
    for (size_t offset = kLogBaseBlock; offset + kEntryHeader <= size;) {
        const uint8_t* p = data + offset;
        if (std::memcmp(p, "HvLE", 4) != 0) break;
        Entry entry{p, U32(p + 4), U32(p + 12), U32(p + 16), U32(p + 20)};
        if (entry.size < kEntryHeader || entry.size % 512 != 0 || entry.size > size - offset) break;
        if (entry.pages > (entry.size - kEntryHeader) / 8 || entry.binsSize % kPage != 0) break;
        if (Marvin32(p + kEntryHeader, entry.size - kEntryHeader) != U64(p + 24)) break;
        if (Marvin32(p, 32) != U64(p + 32)) break;
        uint64_t pageBytes = 0;
        bool pagesFit = true;
        for (uint32_t i = 0; i < entry.pages; ++i) {
            uint32_t pageOffset = U32(p + kEntryHeader + 8 * i), pageSize = U32(p + kEntryHeader + 8 * i + 4);
            pageBytes += pageSize;
            if (pageOffset % kPage || pageSize % kPage || pageSize == 0 ||
                static_cast<uint64_t>(pageOffset) + pageSize > entry.binsSize)
                pagesFit = false;
        }
        if (!pagesFit || kEntryHeader + 8ull * entry.pages + pageBytes > entry.size) break;
        entries.push_back(entry);
        offset += entry.size;
    }
    return entries;
}

}  // namespace

uint64_t Marvin32(const uint8_t* data, size_t size, uint64_t seed) {
    uint32_t lo = static_cast<uint32_t>(seed), hi = static_cast<uint32_t>(seed >> 32);
    size_t i = 0;
    for (; size - i >= 4; i += 4) {
        lo += U32(data + i);
        MarvinBlock(lo, hi);
    }
    uint32_t tail = 0x80;
    for (size_t k = size - i; k-- > 0;) tail = (tail << 8) | data[i + k];
    lo += tail;
    MarvinBlock(lo, hi);
    MarvinBlock(lo, hi);
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

LogReplay ApplyLogs(std::vector<uint8_t>& primary, const std::vector<const HiveBytes*>& logs,
                    const std::vector<std::wstring>& names) {
    LogReplay replay;
    struct Log {
        uint32_t sequence;
        size_t index;
        std::vector<Entry> entries;
    };
    std::vector<Log> usable;
    uint32_t lastWritten = U32(primary.data() + 8);
    for (size_t i = 0; i < logs.size(); ++i) {
        const uint8_t* base = logs[i]->Data();
        if (logs[i]->Size() < kLogBaseBlock + kEntryHeader || std::memcmp(base, "regf", 4) != 0 ||
            BaseBlockChecksum(base) != U32(base + 508)) {
            replay.refused = names[i] + L": no valid base block";
            continue;
        }
        if (U32(base + 28) != kLogFileType) {
            replay.refused = names[i] + L": a log in the format before Windows 8.1";
            continue;
        }
        // A log older than the primary file's last complete write holds nothing it lacks.
        if (U32(base + 4) < lastWritten) {
            replay.refused = names[i] + L": older than the hive";
            continue;
        }
        Log log{U32(base + 4), i, ValidEntries(*logs[i])};
        if (log.entries.empty()) {
            replay.refused = names[i] + L": no valid log entry";
            continue;
        }
        usable.push_back(std::move(log));
    }
    std::sort(usable.begin(), usable.end(), [](const Log& a, const Log& b) { return a.sequence < b.sequence; });

    uint32_t binsSize = U32(primary.data() + 40);
    bool started = false;
    uint32_t expected = 0;
    for (const Log& log : usable) {
        bool used = false;
        for (const Entry& entry : log.entries) {
            if (started && entry.sequence != expected) break;
            // Growth must be backed by the pages the entry carries, never by a size alone.
            uint64_t pageBytes = 0;
            for (uint32_t i = 0; i < entry.pages; ++i) pageBytes += U32(entry.data + kEntryHeader + 8 * i + 4);
            uint64_t target = kPage + static_cast<uint64_t>(entry.binsSize);
            if (target > primary.size() + pageBytes) break;
            if (target > primary.size()) primary.resize(static_cast<size_t>(target), 0);
            const uint8_t* page = entry.data + kEntryHeader + 8ull * entry.pages;
            for (uint32_t i = 0; i < entry.pages; ++i) {
                uint32_t offset = U32(entry.data + kEntryHeader + 8 * i),
                         size = U32(entry.data + kEntryHeader + 8 * i + 4);
                std::memcpy(primary.data() + kPage + offset, page, size);
                page += size;
            }
            binsSize = entry.binsSize;
            expected = entry.sequence + 1;
            started = used = true;
            ++replay.entries;
        }
        if (used) replay.logs.push_back(names[log.index]);
    }
    if (replay.entries == 0) return replay;
    replay.refused.clear();
    primary.resize(kPage + binsSize);
    // The copy now stands for a hive written completely at the last applied sequence.
    Put32(primary.data() + 4, expected - 1);
    Put32(primary.data() + 8, expected - 1);
    Put32(primary.data() + 40, binsSize);
    Put32(primary.data() + 508, BaseBlockChecksum(primary.data()));
    return replay;
}

std::unique_ptr<Hive> OpenHiveFile(const std::wstring& path, bool useLogs, HiveFileReport& report,
                                   Hive::DamageSink damage) {
    report = HiveFileReport{};
    std::unique_ptr<HiveBytes> bytes = MapHiveFile(path, report.fileError);
    if (!bytes) return nullptr;
    std::unique_ptr<Hive> hive = Hive::Open(std::move(bytes), report.openError, damage);
    if (!hive || !hive->Dirty()) return hive;
    report.dirty = true;
    report.primarySequence = hive->PrimarySequence();
    report.secondarySequence = hive->SecondarySequence();
    if (!useLogs) {
        report.replay.refused = L"logs not read";
        return hive;
    }
    std::vector<std::unique_ptr<HiveBytes>> owned;
    std::vector<const HiveBytes*> logs;
    std::vector<std::wstring> names;
    for (const wchar_t* suffix : {L".LOG1", L".LOG2"}) {
        DWORD error = ERROR_SUCCESS;
        auto log = MapHiveFile(path + suffix, error);
        if (!log) continue;
        logs.push_back(log.get());
        owned.push_back(std::move(log));
        size_t slash = path.find_last_of(L"\\/");
        names.push_back(path.substr(slash == std::wstring::npos ? 0 : slash + 1) + suffix);
    }
    if (logs.empty()) {
        report.replay.refused = L"no log beside it";
        return hive;
    }
    // The primary file stays mapped read-only; the changes go into a copy.
    const HiveBytes& mapped = hive->Bytes();
    std::vector<uint8_t> copy(mapped.Data(), mapped.Data() + mapped.Size());
    report.replay = ApplyLogs(copy, logs, names);
    if (report.replay.entries == 0) return hive;
    HiveOpenError openError = HiveOpenError::None;
    std::unique_ptr<Hive> recovered = Hive::Open(HiveBytesOf(std::move(copy)), openError, damage);
    return recovered ? std::move(recovered) : std::move(hive);
}

}  // namespace offline
}  // namespace platform
