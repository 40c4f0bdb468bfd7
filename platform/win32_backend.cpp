// The real system: every operation calls the Windows function of the same name.
#include <shlobj.h>
#include <shlwapi.h>

#include "platform/platform.h"

namespace platform {

namespace {

class Win32Backend final : public Backend {
public:
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
        return ::RegOpenKeyExW(key, subKey, options, access, result);
    }
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM access,
                            const SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition) override {
        return ::RegCreateKeyExW(key, subKey, reserved, className, options, access,
                                 const_cast<LPSECURITY_ATTRIBUTES>(security), result, disposition);
    }
    LSTATUS RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) override {
        return ::RegEnumKeyW(key, index, name, capacity);
    }
    LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPWSTR className,
                          LPDWORD classCapacity, PFILETIME lastWrite) override {
        return ::RegEnumKeyExW(key, index, name, capacity, reserved, className, classCapacity, lastWrite);
    }
    LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize) override {
        return ::RegEnumValueW(key, index, name, capacity, reserved, type, data, dataSize);
    }
    LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD reserved, LPDWORD subKeys,
                             LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                             LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) override {
        return ::RegQueryInfoKeyW(key, className, classCapacity, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                                  maxValueNameLen, maxValueLen, securityDescriptor, lastWrite);
    }
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) override {
        return ::RegQueryValueExW(key, name, reserved, type, data, dataSize);
    }
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) override {
        return ::RegSetValueExW(key, name, reserved, type, data, dataSize);
    }
    LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) override { return ::RegDeleteValueW(key, name); }
    LSTATUS SHDeleteKeyW(HKEY key, LPCWSTR subKey) override { return ::SHDeleteKeyW(key, subKey); }
    LSTATUS RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
    DWORD GetFileAttributesW(LPCWSTR path) override { return ::GetFileAttributesW(path); }
    BOOL DeleteFileW(LPCWSTR path) override { return ::DeleteFileW(path); }
    HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) override { return ::FindFirstFileW(pattern, data); }
    BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) override { return ::FindNextFileW(find, data); }
    BOOL FindClose(HANDLE find) override { return ::FindClose(find); }
    UINT GetDriveTypeW(LPCWSTR root) override { return ::GetDriveTypeW(root); }
    UINT SetErrorMode(UINT mode) override { return ::SetErrorMode(mode); }
    HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                         LPDWORD returned, LPOVERLAPPED overlapped) override {
        return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD capacity,
                                   LPCWSTR file) override {
        return ::GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity, file);
    }
    UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) override {
        return ::GetPrivateProfileIntW(section, key, defaultValue, file);
    }
    UINT GetSystemDirectoryW(LPWSTR buffer, UINT capacity) override { return ::GetSystemDirectoryW(buffer, capacity); }
    UINT GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) override {
        return ::GetWindowsDirectoryW(buffer, capacity);
    }
    DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) override {
        return ::ExpandEnvironmentStringsW(source, buffer, capacity);
    }
    DWORD GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) override {
        return ::GetFullPathNameW(path, capacity, buffer, filePart);
    }
    DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) override {
        return ::GetLongPathNameW(shortPath, buffer, capacity);
    }
    BOOL GetVersionExW(LPOSVERSIONINFOW info) override { return ::GetVersionExW(info); }
    DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) override {
        return ::GetModuleFileNameW(module, buffer, capacity);
    }
    int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer, int capacity) override {
        return ::MultiByteToWideChar(codePage, flags, text, size, buffer, capacity);
    }
    void OutputDebugStringW(LPCWSTR text) override { ::OutputDebugStringW(text); }
    DWORD GetLastError() override { return ::GetLastError(); }
    void SetLastError(DWORD error) override { ::SetLastError(error); }
    BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) override {
        return ::SHGetSpecialFolderPathW(owner, buffer, csidl, create);
    }
    HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override {
        return ::CoCreateInstance(clsid, outer, context, iid, object);
    }
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                 SOLE_AUTHENTICATION_SERVICE* services, void* reserved1, DWORD authnLevel,
                                 DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) override {
        return ::CoInitializeSecurity(security, authServices, services, reserved1, authnLevel, impLevel, authList,
                                      capabilities, reserved3);
    }
    void CoTaskMemFree(LPVOID memory) override { ::CoTaskMemFree(memory); }
    BSTR SysAllocString(const OLECHAR* text) override { return ::SysAllocString(text); }
    void SysFreeString(BSTR text) override { ::SysFreeString(text); }
};

}  // namespace

Backend& Win32() {
    static Win32Backend backend;
    return backend;
}

}  // namespace platform
