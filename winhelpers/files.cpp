#include "winhelpers/files.h"

#include "platform/platform.h"
#include "winhelpers/hresult.h"

namespace Basalt {

HRESULT DeleteFileIfPresent(const wchar_t* path) {
    if (!path || !*path || platform::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return S_OK;
    if (platform::DeleteFileW(path)) return S_OK;
    DWORD error = platform::GetLastError();
    return error ? HResultFromWin32(static_cast<LONG>(error)) : E_FAIL;
}

}  // namespace Basalt
