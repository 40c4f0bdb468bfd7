#include "locations/routines.h"

namespace Tessel {

// Placeholder until drive autorun files are read: reports nothing.
HRESULT ScanDriveAutorun(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until drive autorun files can be repaired: repairs nothing.
HRESULT RepairDriveAutorun(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

}  // namespace Tessel
