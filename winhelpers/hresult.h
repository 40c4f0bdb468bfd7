// Error conversions at routine and interface boundaries.
#pragma once

#include <windows.h>

namespace Basalt {

// A Win32 code c > 0 becomes 0x80070000 | (c & 0xFFFF); 0 and negative values pass unchanged.
inline HRESULT HResultFromWin32(LONG code) {
    return code > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<ULONG>(code) & 0xFFFFu))
                    : static_cast<HRESULT>(code);
}

// The HRESULT for the exception being handled; call only inside a catch block. Exhausted memory
// gives E_OUTOFMEMORY, an impossible string length E_INVALIDARG, anything else E_FAIL.
HRESULT HResultFromCaughtException() noexcept;

}  // namespace Basalt
