// A backend that passes every call on to another and logs it, and a replay of such a log straight
// against the Windows functions. A benchmark records what a scan asks of the system and times the
// same calls without the scanner around them: the difference is the scanner's own work.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

enum class CallKind { RegOpen, RegEnum, RegQuery, RegClose, FileProbe, FileFind, File, System, Shell, Com, Write };
constexpr int kCallKinds = static_cast<int>(CallKind::Write) + 1;
const char* CallKindName(CallKind kind);

struct RecordedCall {
    int op = 0;
    // The handle the call was given: replayed as the result of call `handleFrom`, or as recorded
    // (a predefined key, a module) when that is -1. A call given no handle may keep a fourth
    // number here (the flags of CreateFileW, the service count of CoInitializeSecurity).
    int handleFrom = -1;
    UINT_PTR handle = 0;
    DWORD number[3] = {};
    unsigned present = 0;  // bit i: optional argument i was given (a name, a buffer, an output)
    std::wstring text[4];
    std::string bytes;
    GUID guid[2] = {};
};

class RecordingBackend : public Backend {
public:
    explicit RecordingBackend(Backend& inner) : inner_(inner) {}

    const std::vector<RecordedCall>& Calls() const { return calls_; }
    void Clear();
    size_t Count(CallKind kind) const;

    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override;
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                            REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                            LPDWORD disposition) override;
    LSTATUS RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) override;
    LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                          LPWSTR className, LPDWORD classCapacity, PFILETIME lastWrite) override;
    LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize) override;
    LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD reserved, LPDWORD subKeys,
                             LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                             LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) override;
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) override;
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) override;
    LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) override;
    LSTATUS SHDeleteKeyW(HKEY key, LPCWSTR subKey) override;
    LSTATUS RegCloseKey(HKEY key) override;
    DWORD GetFileAttributesW(LPCWSTR path) override;
    BOOL DeleteFileW(LPCWSTR path) override;
    HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) override;
    BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) override;
    BOOL FindClose(HANDLE find) override;
    UINT GetDriveTypeW(LPCWSTR root) override;
    UINT SetErrorMode(UINT mode) override;
    HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                         LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL CloseHandle(HANDLE handle) override;
    DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                   DWORD capacity, LPCWSTR file) override;
    UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) override;
    UINT GetSystemDirectoryW(LPWSTR buffer, UINT capacity) override;
    UINT GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) override;
    DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) override;
    DWORD GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) override;
    DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) override;
    BOOL GetVersionExW(LPOSVERSIONINFOW info) override;
    DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) override;
    int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer, int capacity) override;
    void OutputDebugStringW(LPCWSTR text) override;
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
    BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) override;
    HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override;
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                 SOLE_AUTHENTICATION_SERVICE* services, void* reserved1, DWORD authnLevel,
                                 DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) override;
    void CoTaskMemFree(LPVOID memory) override;
    BSTR SysAllocString(const OLECHAR* text) override;
    void SysFreeString(BSTR text) override;

private:
    RecordedCall& Add(int op, const void* handle = nullptr);
    // Remembers that the last call opened handle, so later calls given it replay with its replayed value.
    void Produced(const void* handle);
    void Released(const void* handle);

    Backend& inner_;
    std::vector<RecordedCall> calls_;
    std::vector<std::pair<UINT_PTR, int>> open_;  // open handles and the calls that produced them
};

// Makes every call of the log again, in order, straight against the Windows functions, with
// buffers of the recorded sizes. Writes are not made. COM objects it creates are released at the end.
void Replay(const std::vector<RecordedCall>& calls);

}  // namespace platform
