// The catalogue of autostart locations: 186 rows in scan order, then an all-zero terminator.
#pragma once

#include <string>

#include "zvatrun.h"

namespace Tessel {

class IAutorunContext;
struct LocationRow;

// Reads one location and reports each entry through the context. A negative result means the
// location could not be read; the context then discards what the row reported.
using ScanRoutine = HRESULT (*)(IAutorunContext* context, const LocationRow* row);
// Repairs one item of a location; the routine queries the item for the interface it needs.
using RepairRoutine = HRESULT (*)(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

struct LocationRow {
    DWORD id;              // category in the top twelve bits; 0 ends the table
    ScanRoutine scan;
    RepairRoutine repair;  // null when entries of this location cannot be repaired
    HKEY root;             // a predefined root, a user hive during the per-user fan-out, or null
    LPCWSTR keyPath;
    LPCWSTR subkey;
    LPCWSTR valueName;
    DWORD flag;   // 1: entries are not expected to name an existing file
    DWORD extra;  // CSIDL of a startup-folder row
};

constexpr size_t kAutorunLocationCount = 186;
extern const LocationRow kAutorunLocations[kAutorunLocationCount + 1];

constexpr DWORD CategoryOf(DWORD id) { return id & 0xFFF00000u; }

// The key path, a backslash and the subkey; the key path alone without a subkey; empty without a
// key path.
std::wstring BuildLocationPath(const LocationRow& row);

}  // namespace Tessel
