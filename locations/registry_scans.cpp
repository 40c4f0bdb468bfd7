#include "locations/routines.h"

namespace Tessel {

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanKeyValues(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanSubkeyValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanNestedSubkeyValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanShellVerbCommands(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanClsidHandlers(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanSubkeyClsidValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanClsidValueData(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanSingleValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanSingleFileListValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanMultiStringValue(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanWinsockCatalog(IAutorunContext*, const LocationRow*) { return S_OK; }

// Placeholder until registry locations are read: reports nothing.
HRESULT ScanNetworkProviders(IAutorunContext*, const LocationRow*) { return S_OK; }

}  // namespace Tessel
