#include "locations/routines.h"

namespace Tessel {

// Placeholder until input methods are read: reports nothing.
HRESULT ScanInputMethods(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until input methods can be repaired: repairs nothing.
HRESULT RepairInputMethod(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

}  // namespace Tessel
