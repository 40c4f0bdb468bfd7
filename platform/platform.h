// The only door to the operating system. Library code calls the free functions of the platform
// namespace, which carry the Win32 names and signatures they stand for and forward to the current
// backend: the real system by default, a simulated one inside tests.
#pragma once

#include <windows.h>

namespace platform {

class Backend {
public:
    virtual ~Backend() = default;

    // Registry.
    virtual LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) = 0;
    virtual LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                                    REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                                    LPDWORD disposition) = 0;
    virtual LSTATUS RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) = 0;
    virtual LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                                  LPWSTR className, LPDWORD classCapacity, PFILETIME lastWrite) = 0;
    virtual LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                                  LPDWORD type, LPBYTE data, LPDWORD dataSize) = 0;
    virtual LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD reserved,
                                     LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                                     LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                                     PFILETIME lastWrite) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                     LPDWORD dataSize) = 0;
    virtual LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                   DWORD dataSize) = 0;
    virtual LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) = 0;
    virtual LSTATUS SHDeleteKeyW(HKEY key, LPCWSTR subKey) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;

    // Files, drives and devices.
    virtual DWORD GetFileAttributesW(LPCWSTR path) = 0;
    virtual BOOL DeleteFileW(LPCWSTR path) = 0;
    virtual HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) = 0;
    virtual BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) = 0;
    virtual BOOL FindClose(HANDLE find) = 0;
    virtual UINT GetDriveTypeW(LPCWSTR root) = 0;
    virtual UINT SetErrorMode(UINT mode) = 0;
    virtual HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
    virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                 LPDWORD returned, LPOVERLAPPED overlapped) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                           DWORD capacity, LPCWSTR file) = 0;
    virtual UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) = 0;

    // System information and text.
    virtual UINT GetSystemDirectoryW(LPWSTR buffer, UINT capacity) = 0;
    virtual UINT GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) = 0;
    virtual DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) = 0;
    virtual DWORD GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) = 0;
    virtual DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) = 0;
    virtual BOOL GetVersionExW(LPOSVERSIONINFOW info) = 0;
    virtual DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) = 0;
    virtual int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer,
                                    int capacity) = 0;
    virtual void OutputDebugStringW(LPCWSTR text) = 0;
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;

    // Shell and COM.
    virtual BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) = 0;
    virtual HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) = 0;
    virtual HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                         SOLE_AUTHENTICATION_SERVICE* services, void* reserved1, DWORD authnLevel,
                                         DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) = 0;
    virtual void CoTaskMemFree(LPVOID memory) = 0;
    virtual BSTR SysAllocString(const OLECHAR* text) = 0;
    virtual void SysFreeString(BSTR text) = 0;
};

// The backend every call of this thread goes to. The real system unless a ScopedBackend is alive.
Backend& Current();
Backend& Win32();

// Installs a backend for its own lifetime, then puts back the one it replaced.
class ScopedBackend {
public:
    explicit ScopedBackend(Backend& backend);
    ~ScopedBackend();
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;

private:
    Backend* previous_;
};

// Installs backend for its own lifetime when there is one; with null, the current one stays. For
// objects that carry the backend they were made under (an offline scanner and its items).
class BackendScope {
public:
    explicit BackendScope(Backend* backend);
    ~BackendScope();
    BackendScope(const BackendScope&) = delete;
    BackendScope& operator=(const BackendScope&) = delete;

private:
    Backend* previous_;
    bool installed_;
};

// The forwarding functions library code calls.
#define ZV_PLATFORM_FORWARD(ret, name, params, args) \
    inline ret name params { return Current().name args; }

ZV_PLATFORM_FORWARD(LSTATUS, RegOpenKeyExW, (HKEY k, LPCWSTR s, DWORD o, REGSAM a, PHKEY r), (k, s, o, a, r))
ZV_PLATFORM_FORWARD(LSTATUS, RegCreateKeyExW,
                    (HKEY k, LPCWSTR s, DWORD r, LPWSTR c, DWORD o, REGSAM a, const SECURITY_ATTRIBUTES* sa,
                     PHKEY res, LPDWORD d),
                    (k, s, r, c, o, a, sa, res, d))
ZV_PLATFORM_FORWARD(LSTATUS, RegEnumKeyW, (HKEY k, DWORD i, LPWSTR n, DWORD c), (k, i, n, c))
ZV_PLATFORM_FORWARD(LSTATUS, RegEnumKeyExW,
                    (HKEY k, DWORD i, LPWSTR n, LPDWORD c, LPDWORD r, LPWSTR cl, LPDWORD cc, PFILETIME t),
                    (k, i, n, c, r, cl, cc, t))
ZV_PLATFORM_FORWARD(LSTATUS, RegEnumValueW,
                    (HKEY k, DWORD i, LPWSTR n, LPDWORD c, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD ds),
                    (k, i, n, c, r, t, d, ds))
ZV_PLATFORM_FORWARD(LSTATUS, RegQueryInfoKeyW,
                    (HKEY k, LPWSTR cl, LPDWORD cc, LPDWORD r, LPDWORD sk, LPDWORD msk, LPDWORD mc, LPDWORD v,
                     LPDWORD mvn, LPDWORD mv, LPDWORD sd, PFILETIME t),
                    (k, cl, cc, r, sk, msk, mc, v, mvn, mv, sd, t))
ZV_PLATFORM_FORWARD(LSTATUS, RegQueryValueExW, (HKEY k, LPCWSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD ds),
                    (k, n, r, t, d, ds))
ZV_PLATFORM_FORWARD(LSTATUS, RegSetValueExW, (HKEY k, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD ds),
                    (k, n, r, t, d, ds))
ZV_PLATFORM_FORWARD(LSTATUS, RegDeleteValueW, (HKEY k, LPCWSTR n), (k, n))
ZV_PLATFORM_FORWARD(LSTATUS, SHDeleteKeyW, (HKEY k, LPCWSTR s), (k, s))
ZV_PLATFORM_FORWARD(LSTATUS, RegCloseKey, (HKEY k), (k))
ZV_PLATFORM_FORWARD(DWORD, GetFileAttributesW, (LPCWSTR p), (p))
ZV_PLATFORM_FORWARD(BOOL, DeleteFileW, (LPCWSTR p), (p))
ZV_PLATFORM_FORWARD(HANDLE, FindFirstFileW, (LPCWSTR p, LPWIN32_FIND_DATAW d), (p, d))
ZV_PLATFORM_FORWARD(BOOL, FindNextFileW, (HANDLE f, LPWIN32_FIND_DATAW d), (f, d))
ZV_PLATFORM_FORWARD(BOOL, FindClose, (HANDLE f), (f))
ZV_PLATFORM_FORWARD(UINT, GetDriveTypeW, (LPCWSTR r), (r))
ZV_PLATFORM_FORWARD(UINT, SetErrorMode, (UINT m), (m))
ZV_PLATFORM_FORWARD(HANDLE, CreateFileW,
                    (LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t),
                    (p, a, s, sa, d, f, t))
ZV_PLATFORM_FORWARD(BOOL, DeviceIoControl,
                    (HANDLE h, DWORD c, LPVOID i, DWORD is, LPVOID o, DWORD os, LPDWORD r, LPOVERLAPPED ov),
                    (h, c, i, is, o, os, r, ov))
ZV_PLATFORM_FORWARD(BOOL, CloseHandle, (HANDLE h), (h))
ZV_PLATFORM_FORWARD(DWORD, GetPrivateProfileStringW,
                    (LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR b, DWORD c, LPCWSTR f), (s, k, d, b, c, f))
ZV_PLATFORM_FORWARD(UINT, GetPrivateProfileIntW, (LPCWSTR s, LPCWSTR k, INT d, LPCWSTR f), (s, k, d, f))
ZV_PLATFORM_FORWARD(UINT, GetSystemDirectoryW, (LPWSTR b, UINT c), (b, c))
ZV_PLATFORM_FORWARD(UINT, GetWindowsDirectoryW, (LPWSTR b, UINT c), (b, c))
ZV_PLATFORM_FORWARD(DWORD, ExpandEnvironmentStringsW, (LPCWSTR s, LPWSTR b, DWORD c), (s, b, c))
ZV_PLATFORM_FORWARD(DWORD, GetFullPathNameW, (LPCWSTR p, DWORD c, LPWSTR b, LPWSTR* f), (p, c, b, f))
ZV_PLATFORM_FORWARD(DWORD, GetLongPathNameW, (LPCWSTR s, LPWSTR b, DWORD c), (s, b, c))
ZV_PLATFORM_FORWARD(BOOL, GetVersionExW, (LPOSVERSIONINFOW i), (i))
ZV_PLATFORM_FORWARD(DWORD, GetModuleFileNameW, (HMODULE m, LPWSTR b, DWORD c), (m, b, c))
ZV_PLATFORM_FORWARD(int, MultiByteToWideChar, (UINT cp, DWORD f, LPCCH t, int s, LPWSTR b, int c),
                    (cp, f, t, s, b, c))
ZV_PLATFORM_FORWARD(void, OutputDebugStringW, (LPCWSTR t), (t))
ZV_PLATFORM_FORWARD(DWORD, GetLastError, (), ())
ZV_PLATFORM_FORWARD(void, SetLastError, (DWORD e), (e))
ZV_PLATFORM_FORWARD(BOOL, SHGetSpecialFolderPathW, (HWND o, LPWSTR b, int c, BOOL cr), (o, b, c, cr))
ZV_PLATFORM_FORWARD(HRESULT, CoCreateInstance, (REFCLSID c, LPUNKNOWN o, DWORD x, REFIID i, LPVOID* p),
                    (c, o, x, i, p))
ZV_PLATFORM_FORWARD(HRESULT, CoInitializeSecurity,
                    (PSECURITY_DESCRIPTOR s, LONG n, SOLE_AUTHENTICATION_SERVICE* a, void* r1, DWORD al, DWORD il,
                     void* l, DWORD c, void* r3),
                    (s, n, a, r1, al, il, l, c, r3))

ZV_PLATFORM_FORWARD(void, CoTaskMemFree, (LPVOID m), (m))
ZV_PLATFORM_FORWARD(BSTR, SysAllocString, (const OLECHAR* t), (t))
ZV_PLATFORM_FORWARD(void, SysFreeString, (BSTR t), (t))

#undef ZV_PLATFORM_FORWARD

}  // namespace platform
