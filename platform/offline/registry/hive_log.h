// Hive files as Windows would load them: a dirty hive (its two sequence numbers differ) gets the
// changes of its transaction logs (.LOG1, .LOG2 beside it) applied to a copy in memory. No file is
// ever written.
#pragma once

#include "platform/offline/registry/hive.h"

namespace platform {
namespace offline {

// The Marvin32 hash that log entries carry, with the seed logs use.
uint64_t Marvin32(const uint8_t* data, size_t size, uint64_t seed = 0x82EF4D887A4E55C5ull);

struct LogReplay {
    unsigned entries = 0;             // log entries applied
    std::vector<std::wstring> logs;   // the logs they came from, in the order applied
    std::wstring refused;             // why no log could be used, when none was
};

// Applies the valid log entries of logs (the files' bytes, any order) to primary, a copy of the
// primary file, in sequence order. Each entry is checked (signature, sizes, both hashes, pages
// inside the bins) and the first bad or missing one ends the replay. names name the logs.
LogReplay ApplyLogs(std::vector<uint8_t>& primary, const std::vector<const HiveBytes*>& logs,
                    const std::vector<std::wstring>& names);

struct HiveFileReport {
    DWORD fileError = ERROR_SUCCESS;  // the file could not be opened or mapped
    HiveOpenError openError = HiveOpenError::None;
    bool dirty = false;
    uint32_t primarySequence = 0, secondarySequence = 0;  // as the file has them
    LogReplay replay;
};

// Maps the hive file at path and checks its base block; when it is dirty and useLogs is set, its
// logs are applied as Windows would apply them. Null when the file cannot be read as a hive.
std::unique_ptr<Hive> OpenHiveFile(const std::wstring& path, bool useLogs, HiveFileReport& report,
                                   Hive::DamageSink damage);

}  // namespace offline
}  // namespace platform
