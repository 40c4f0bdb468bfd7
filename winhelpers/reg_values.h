// Readers of one registry value through an open key. Each returns a Win32 error code, 0 on success;
// the name may be null or empty for the key's default value. Text is returned as stored, never
// expanded.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

namespace Basalt {

// REG_SZ or REG_EXPAND_SZ, terminated, at most 65536 characters with the terminator. One query reads
// a text of up to 260 characters with its terminator; a larger one takes a second, never a third.
LONG ReadStringValue(HKEY key, const wchar_t* name, std::wstring& text);
// The text of string data read whole (by a value enumeration, say), with the checks of
// ReadStringValue: REG_SZ or REG_EXPAND_SZ, an even size and, unless empty, a terminator at the end.
// ERROR_INVALID_DATA leaves text as it was.
LONG StringFromData(DWORD type, const BYTE* data, DWORD bytes, std::wstring& text);
// REG_MULTI_SZ with its double terminator; the list ends at the first empty element.
LONG ReadMultiStringValue(HKEY key, const wchar_t* name, std::vector<std::wstring>& items);
// REG_BINARY.
LONG ReadBytesValue(HKEY key, const wchar_t* name, std::vector<BYTE>& bytes);

// Writes text as REG_SZ, terminator included, into an existing key opened for reading and writing.
HRESULT SetStringValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);
// Deletes one value of an existing key.
HRESULT DeleteValue(HKEY root, const std::wstring& path, const wchar_t* name);

}  // namespace Basalt
