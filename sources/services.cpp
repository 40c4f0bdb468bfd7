#include "locations/routines.h"

namespace Tessel {

// Placeholder until services and drivers are read: reports nothing.
HRESULT ScanServices(IAutorunContext*, const LocationRow*) { return S_OK; }

}  // namespace Tessel
