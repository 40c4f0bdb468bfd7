#include "locations/routines.h"

namespace Tessel {

// Placeholder until startup folders are read: reports nothing.
HRESULT ScanStartupFolder(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until startup folders can be repaired: repairs nothing.
HRESULT RepairStartupFolderItem(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

}  // namespace Tessel
