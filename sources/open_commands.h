// What the open-command repairs are built from: restoring one verb's command of a file type, and
// the class-key and value writers it uses.
#pragma once

#include <string>

#include "platform/handles.h"
#include "zvatrun.h"

namespace Tessel {

// Writes command (and, from major version 6, isolatedCommand when given) as the default value of
// progId\shell\<verb>\command under HKEY_CLASSES_ROOT, then points the item's extension at progId.
// Every value is written with valueType (REG_SZ or REG_EXPAND_SZ); keys are created when missing.
HRESULT RestoreOpenCommand(IZVAutorunItemEx* item, DWORD valueType, LPCWSTR progId, LPCWSTR command,
                           LPCWSTR isolatedCommand);

// Opens path under HKEY_CLASSES_ROOT for reading and writing, creating it and its parents when
// missing. Returns the Win32 result.
LONG CreateClassesKey(const std::wstring& path, platform::UniqueHKey& key);

// Writes text, terminator included, under name (null or empty: the default value) with the type.
// Returns the Win32 result; a null text throws.
LONG WriteStringValue(HKEY key, LPCWSTR name, LPCWSTR text, DWORD type);

}  // namespace Tessel
