#include "locations/routines.h"

namespace Tessel {

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairDeleteValue(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairDeleteKey(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairUserinit(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairShell(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairAppInitDlls(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairUIHost(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

// Placeholder until registry entries can be repaired: repairs nothing.
HRESULT RepairWinlogonSystem(IZVAutorunItemEx*, const ZV_REPAIR_REQUEST*) { return E_NOTIMPL; }

}  // namespace Tessel
