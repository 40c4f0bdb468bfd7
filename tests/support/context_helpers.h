// What scan-routine tests do again and again: find a row of the location table, and take the items
// a routine queued out of the context.
#pragma once

#include <stdexcept>
#include <vector>

#include "platform/handles.h"
#include "scanner/scan_context.h"

namespace test {

// The row of the location table with this identifier (the n-th, for identifiers rows share).
inline const Tessel::LocationRow& TableRow(DWORD id, int occurrence = 0) {
    for (size_t i = 0; i < Tessel::kAutorunLocationCount; ++i)
        if (Tessel::kAutorunLocations[i].id == id && occurrence-- == 0) return Tessel::kAutorunLocations[i];
    throw std::out_of_range("no such row");
}

// Every queued item, oldest first; the queue's references move to the result.
inline std::vector<platform::ComPtr<IZVAutorunItemEx>> PopAll(Tessel::CAutorunContext& context) {
    std::vector<platform::ComPtr<IZVAutorunItemEx>> items;
    IZVAutorunItemEx* item = nullptr;
    while (context.PopItem(&item)) items.push_back(platform::ComPtr<IZVAutorunItemEx>::Attach(item));
    return items;
}

}  // namespace test
