#pragma once

#include <windows.h>

namespace Basalt {

// Deletes a file a repair removes. A file that is already gone counts as removed; a failed delete
// gives the HRESULT of its error, or E_FAIL when none was set.
HRESULT DeleteFileIfPresent(const wchar_t* path);

}  // namespace Basalt
