#include "locations/routines.h"

namespace Tessel {

// Placeholder until scheduled tasks are read: reports nothing.
HRESULT ScanScheduledTasks(IAutorunContext*, const LocationRow*) { return S_OK; }

}  // namespace Tessel
