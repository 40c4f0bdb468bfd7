// What a repair changed, part by part: the registry values and keys, or the file, whose state after
// the repair differs from the state before it. Undo compares and puts back only these parts, so that
// later changes elsewhere in the same key neither block it nor are lost.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "repair/repair_state.h"

namespace zvscan {

// One piece of a captured state: a registry key (its existence), one value of a key, or a whole file.
struct StatePart {
    std::wstring key;                   // the key below the captured one ("" for the captured key itself)
    std::optional<std::wstring> value;  // the value's name; none for a key or a file
    bool present = false;
    DWORD type = REG_NONE;              // values
    std::string data;                   // values: the stored bytes; files: the content hash and attributes
};

// A part whose state after the repair differs from its state before.
struct PartChange {
    Target target;
    StatePart before, after;
};

// A part that is no longer as the repair left it: what the repair left and what is there now.
struct PartDrift {
    Target target;
    StatePart left, now;
};

std::vector<PartChange> ChangedParts(const TargetState& before, const TargetState& after);
// The changed parts, and the keys that held them after the repair, that differ now.
std::vector<PartDrift> DriftSince(const std::vector<PartChange>& changes, const TargetState& after,
                                  const TargetState& current);
// Writes the parts' states before the repair, creating the keys that hold them; throws
// std::runtime_error on a failure.
void RestoreParts(const std::vector<PartChange>& changes, const TargetState& before);
// The changed parts that do not read back as they were before the repair.
std::vector<PartChange> NotRestored(const std::vector<PartChange>& changes, const TargetState& current);

// "HKEY_CURRENT_USER\Software\...\Run\[Updater]"
std::string DescribePart(const Target& target, const StatePart& part);
// "absent", "present", "REG_SZ \"C:\\x.exe\"", "REG_DWORD 42", "a file, sha256 3f09c2a1b7d4…"
std::string DescribeContent(const StatePart& part);

}  // namespace zvscan
