// A small Windows in memory for tests: registry, files, drives, ini files, environment, special
// folders, version, module paths, debug output and COM classes, with access refusals and accounting
// of open handles and writes. Behaviour follows what Windows (and Wine 8) give for the same calls.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

class SimulatedBackend;
// The simulated shell link object (sim_shell_link.cpp).
HRESULT CreateSimulatedShellLink(SimulatedBackend& backend, REFIID iid, void** object);

class SimulatedBackend final : public Backend {
public:
    // A fresh machine: HKEY_LOCAL_MACHINE with SOFTWARE\Classes (HKEY_CLASSES_ROOT shows it, as under
    // Wine), HKEY_USERS with .Default and S-1-5-21-0-0-0-1000 (HKEY_CURRENT_USER), drive C: holding
    // C:\windows and C:\windows\system32, version 6.1.7601, SystemRoot and windir set.
    SimulatedBackend();
    ~SimulatedBackend() override;

    static constexpr const wchar_t* kCurrentUserSid = L"S-1-5-21-0-0-0-1000";

    // Registry set-up; none of it counts as a write. root is a predefined key.
    void AddKey(HKEY root, const std::wstring& path);
    void SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                  const std::vector<BYTE>& bytes);
    void SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                   DWORD type = REG_SZ);  // stored with its terminator
    void SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
    void SetMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                        const std::vector<std::wstring>& items);
    void RemoveKey(HKEY root, const std::wstring& path);
    bool HasKey(HKEY root, const std::wstring& path) const;
    bool HasValue(HKEY root, const std::wstring& path, const std::wstring& name) const;
    // The stored bytes of a value; empty when it does not exist (check HasValue).
    std::vector<BYTE> ValueBytes(HKEY root, const std::wstring& path, const std::wstring& name) const;
    DWORD ValueType(HKEY root, const std::wstring& path, const std::wstring& name) const;
    // Opens of the key that ask for any of these access bits fail with ERROR_ACCESS_DENIED.
    void DenyAccess(HKEY root, const std::wstring& path, REGSAM refused);

    // Files. Parents are created as directories; the drive is created as a fixed drive with media.
    void AddFile(const std::wstring& path, const std::string& contents = {},
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    void AddDirectory(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_DIRECTORY);
    void SetShortName(const std::wstring& path, const std::wstring& shortName);
    void RemoveFile(const std::wstring& path);
    bool Exists(const std::wstring& path) const;
    void SetCurrentDirectory(const std::wstring& path);

    // Drives, by letter. A drive that was never set has no root directory.
    void SetDrive(wchar_t letter, UINT type, bool mediaPresent);
    UINT ErrorMode() const { return errorMode_; }

    // System information.
    void SetSystemDirectory(const std::wstring& path) { systemDirectory_ = path; }
    void SetWindowsDirectory(const std::wstring& path) { windowsDirectory_ = path; }
    void SetVersion(DWORD major, DWORD minor, DWORD build);
    void SetEnvironment(const std::wstring& name, const std::wstring& value);
    void SetSpecialFolder(int csidl, const std::wstring& path);
    void FailSpecialFolder(int csidl);
    // nullptr names the host program; any other module handle names the library itself.
    void SetModulePath(HMODULE module, const std::wstring& path);

    // Shell links (CLSID_ShellLink): a .lnk file whose raw target is target; a link whose Load fails
    // with the given result; COM left uninitialised (CoCreateInstance fails with CO_E_NOTINITIALIZED).
    void AddShortcut(const std::wstring& path, const std::wstring& target);
    void SetShortcutLoadFailure(const std::wstring& path, HRESULT result);
    void SetComInitialized(bool initialized) { comInitialized_ = initialized; }
    // What a shell link's Load of this path gives: S_OK with the target, or the failure.
    HRESULT LoadShortcut(const std::wstring& path, std::wstring& target) const;

    // COM classes that CoCreateInstance can create.
    using ComFactory = std::function<HRESULT(REFIID iid, void** object)>;
    void RegisterClass(REFCLSID clsid, ComFactory factory);
    void SetCoInitializeSecurityResult(HRESULT result) { coSecurityResult_ = result; }
    int CoInitializeSecurityCalls() const { return coSecurityCalls_; }

    // Accounting.
    size_t OpenHandles() const;  // registry keys, find and file handles, and COM objects still alive
    // Counts an object made elsewhere: +1 when it is made, -1 when it dies.
    std::function<void(int)> ComObjectCounter() {
        return [this](int change) { liveComObjects_ += change; };
    }
    size_t Writes() const { return writes_; }
    size_t InvalidCloses() const { return invalidCloses_; }  // closes of handles that were not open
    const std::vector<std::wstring>& DebugOutput() const { return debugOutput_; }

    // Backend.
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override;
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                            REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                            LPDWORD disposition) override;
    LSTATUS RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) override;
    LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                          LPWSTR className, LPDWORD classCapacity, PFILETIME lastWrite) override;
    LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize) override;
    LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                             LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                             PFILETIME lastWrite) override;
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
    int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer,
                            int capacity) override;
    void OutputDebugStringW(LPCWSTR text) override;
    DWORD GetLastError() override { return lastError_; }
    void SetLastError(DWORD error) override { lastError_ = error; }

    BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) override;
    HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override;
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                 SOLE_AUTHENTICATION_SERVICE* services, void* reserved1, DWORD authnLevel,
                                 DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) override;
    // COM memory is the process's own: the simulation frees and allocates it for real.
    void CoTaskMemFree(LPVOID memory) override { ::CoTaskMemFree(memory); }
    BSTR SysAllocString(const OLECHAR* text) override { return ::SysAllocString(text); }
    void SysFreeString(BSTR text) override { ::SysFreeString(text); }

    struct Key;
    struct Node;

private:
    struct OpenKey {
        std::shared_ptr<Key> key;
        REGSAM access;
    };
    struct Search {
        std::vector<WIN32_FIND_DATAW> entries;
        size_t next = 0;
    };
    struct OpenFile {
        std::wstring device;  // drive letter for a volume, empty for a file
        std::shared_ptr<Node> node;
    };

    std::shared_ptr<Key> RootKey(HKEY root) const;
    std::shared_ptr<Key> Walk(const std::shared_ptr<Key>& from, const std::wstring& path, bool create) const;
    // The key behind a handle with the access it was opened with; null for a bad handle.
    std::shared_ptr<Key> Resolve(HKEY key, REGSAM* access) const;
    HKEY NewKeyHandle(std::shared_ptr<Key> key, REGSAM access);

    std::shared_ptr<Node> Lookup(const std::wstring& path) const;
    std::shared_ptr<Node> MakePath(const std::wstring& path, DWORD leafAttributes);
    std::wstring LongPath(const std::wstring& path) const;

    std::shared_ptr<Key> machine_;
    std::shared_ptr<Key> users_;
    std::map<ULONG_PTR, OpenKey> openKeys_;
    std::map<ULONG_PTR, Search> searches_;
    std::map<ULONG_PTR, OpenFile> files_;
    ULONG_PTR nextHandle_ = 0x1000;

    std::shared_ptr<Node> fileRoot_;  // children are the drives, named "C:"
    std::wstring currentDirectory_ = L"C:\\";
    std::map<wchar_t, std::pair<UINT, bool>> drives_;
    UINT errorMode_ = 0;

    std::wstring systemDirectory_ = L"C:\\windows\\system32";
    std::wstring windowsDirectory_ = L"C:\\windows";
    OSVERSIONINFOW version_{};
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> environment_;  // upper name -> name, value
    std::map<int, std::wstring> specialFolders_;
    std::wstring hostPath_ = L"C:\\host\\host.exe";
    std::wstring libraryPath_ = L"C:\\host\\zvatrun.dll";
    std::vector<std::pair<CLSID, ComFactory>> classes_;
    struct Shortcut {
        std::wstring target;
        HRESULT loadResult = S_OK;
    };
    std::map<std::wstring, Shortcut> shortcuts_;  // by upper-case path
    bool comInitialized_ = true;
    size_t liveComObjects_ = 0;
    HRESULT coSecurityResult_ = S_OK;
    int coSecurityCalls_ = 0;

    size_t writes_ = 0;
    size_t invalidCloses_ = 0;
    DWORD lastError_ = 0;
    std::vector<std::wstring> debugOutput_;
};

}  // namespace platform
