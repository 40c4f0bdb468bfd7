#include "locations/routines.h"

namespace Tessel {

// Placeholder until the MUI cache are read: reports nothing.
HRESULT ScanMuiCache(IAutorunContext*, const LocationRow*) { return S_OK; }

}  // namespace Tessel
