// The readable form of registry locations: the root named in full, the key path, the value name.
#pragma once

#include <string>

#include "scanner/scan_context.h"

namespace Tessel {

// "HKEY_LOCAL_MACHINE", ..., "HKEY_USERS\<hive>" for an opened user hive, "NULL", or "UNKNOWN".
std::wstring GetRootDisplayName(const CAutorunContext& context, HKEY root);

// Root name, "\" and the key path when there is one, then "\[value name]" when both are non-empty.
std::wstring BuildRegistryLocation(const CAutorunContext& context, HKEY root, const std::wstring& keyPath,
                                   const std::wstring& valueName);

}  // namespace Tessel
