#include "winhelpers/reg_values.h"

#include <cwchar>
#include <new>

#include "platform/handles.h"
#include "winhelpers/hresult.h"

namespace Basalt {

namespace {

constexpr DWORD kMinStringChars = 260;
constexpr DWORD kMaxStringChars = 0x10000;
constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

LONG QueryValue(HKEY key, const wchar_t* name, DWORD* type, void* data, DWORD* size) {
    return platform::RegQueryValueExW(key, name, nullptr, type, static_cast<BYTE*>(data), size);
}

}  // namespace

LONG StringFromData(DWORD type, const BYTE* data, DWORD bytes, std::wstring& text) {
    if (!IsStringType(type) || bytes % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
    const auto* chars = reinterpret_cast<const wchar_t*>(data);
    DWORD count = bytes / sizeof(wchar_t);
    if (count != 0 && chars[count - 1] != L'\0') return ERROR_INVALID_DATA;
    text.assign(chars, count == 0 ? 0 : std::wcslen(chars));
    return ERROR_SUCCESS;
}

LONG ReadStringValue(HKEY key, const wchar_t* name, std::wstring& text) {
    if (!key) return ERROR_INVALID_HANDLE;
    // Most values fit the smallest buffer a read offers, and then one query reads them.
    wchar_t small[kMinStringChars + 1];
    DWORD type = 0, size = kMinStringChars * sizeof(wchar_t);
    LONG status = QueryValue(key, name, &type, small, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return status;
    if (!IsStringType(type)) return ERROR_INVALID_DATA;
    if (status == ERROR_SUCCESS) {
        status = StringFromData(type, reinterpret_cast<const BYTE*>(small), size, text);
        if (status != ERROR_SUCCESS) text.clear();
        return status;
    }

    // Too large for it: a second query, sized by what the first one said.
    DWORD count = size / sizeof(wchar_t);
    if (count > kMaxStringChars) return ERROR_MORE_DATA;
    text.clear();
    std::vector<wchar_t> buffer(count + 1, L'\0');
    DWORD bytes = count * sizeof(wchar_t);
    DWORD readType = 0;
    status = QueryValue(key, name, &readType, buffer.data(), &bytes);
    if (status != ERROR_SUCCESS) return status;
    if (readType != type) return ERROR_INVALID_DATA;
    return StringFromData(readType, reinterpret_cast<const BYTE*>(buffer.data()), bytes, text);
}

LONG ReadMultiStringValue(HKEY key, const wchar_t* name, std::vector<std::wstring>& items) {
    if (!key) return ERROR_INVALID_HANDLE;
    DWORD type = 0, size = 0;
    LONG status = QueryValue(key, name, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
    DWORD count = size / sizeof(wchar_t);
    std::vector<wchar_t> buffer;
    try {
        buffer.resize(count);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    items.clear();
    if (count == 0) return ERROR_SUCCESS;
    if (count < 2) return ERROR_INSUFFICIENT_BUFFER;

    DWORD bytes = count * sizeof(wchar_t);
    status = QueryValue(key, name, &type, buffer.data(), &bytes);
    if (status != ERROR_SUCCESS) return status;
    DWORD read = bytes / sizeof(wchar_t);
    bool wellFormed = type == REG_MULTI_SZ && bytes % sizeof(wchar_t) == 0 && read >= 1 && buffer[read - 1] == 0 &&
                      (read == 1 || buffer[read - 2] == 0);
    if (!wellFormed) return ERROR_INVALID_DATA;

    for (DWORD at = 0; at < read && buffer[at] != 0;) {
        std::wstring item(&buffer[at]);
        at += static_cast<DWORD>(item.size()) + 1;
        items.push_back(std::move(item));
    }
    return ERROR_SUCCESS;
}

LONG ReadBytesValue(HKEY key, const wchar_t* name, std::vector<BYTE>& bytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    DWORD type = 0, size = 0;
    LONG status = QueryValue(key, name, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_BINARY) return ERROR_INVALID_DATA;
    try {
        bytes.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    status = QueryValue(key, name, &type, bytes.data(), &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_BINARY) return ERROR_INVALID_DATA;
    bytes.resize(size);
    return ERROR_SUCCESS;
}

HRESULT SetStringValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    platform::UniqueHKey key;
    LONG status = platform::RegOpenKeyExW(root, path.c_str(), 0, kReadWrite, key.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    status = platform::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size);
    return HResultFromWin32(status);
}

HRESULT DeleteValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    platform::UniqueHKey key;
    LONG status = platform::RegOpenKeyExW(root, path.c_str(), 0, kReadWrite, key.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    return HResultFromWin32(platform::RegDeleteValueW(key.get(), name));
}

}  // namespace Basalt
