// An item of the other view as its helper wrote it (one JSON line of `zvscan view-scan`), read back
// into the record this process prints, its texts exact.
#pragma once

#include <optional>
#include <string>

#include "report/item_record.h"

namespace zvscan {

// Nothing for a line that is no item (a start, end or counters record, or a damaged line).
std::optional<ItemRecord> RecordFromJson(const std::string& line);

}  // namespace zvscan
