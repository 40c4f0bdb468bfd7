#include "locations/routines.h"

namespace Tessel {

// Placeholder until file-type open commands are read: reports nothing.
HRESULT ScanOpenCommand(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairExefileCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairTxtfileCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairBatfileOpenCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairBatfileRunasCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairCmdfileOpenCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairCmdfileRunasCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until file-type open commands can be repaired: repairs nothing.
HRESULT RepairComfileCommand(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

}  // namespace Tessel
