// The platform of a Windows system that is not running: its registry assembled from the hive files
// of its volume (the image), as Windows would assemble it at logon; its C: drive is the image folder,
// its environment, directories, version and special folders come from its own registry. Read-only:
// every write fails with ERROR_ACCESS_DENIED. One backend per image; nothing is shared between
// backends.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/offline/registry/hive_log.h"
#include "platform/platform.h"

namespace platform {
namespace offline {

struct ImageOptions {
    std::wstring root;  // the folder holding the image's volume (its Windows, Users, ... folders)
    std::wstring user;  // the profile standing for HKEY_CURRENT_USER: a SID or a profile folder name; empty
                        // chooses (see ChooseUser)
    bool readLogs = true;
};

// One hive of the image and how it was found.
struct ImageHive {
    std::wstring mount;  // where it shows: "HKEY_LOCAL_MACHINE\SYSTEM", "HKEY_USERS\S-1-5-21-...", ...
    std::wstring path;   // its file, relative to the image root
    HiveFileReport report;
    std::unique_ptr<Hive> hive;
};

class OfflineBackend final : public Backend {
public:
    // Opens the image's hives (base blocks only, logs applied to dirty ones). Fails with
    // ERROR_PATH_NOT_FOUND when root is not a folder, ERROR_NO_SUCH_USER when the user asked for
    // has no profile in the image.
    static std::unique_ptr<OfflineBackend> Open(const ImageOptions& options, DWORD& error);
    ~OfflineBackend() override;

    // What a reader of the scan must know: hives missing, damaged, dirty (and how recovered), and
    // the user chosen; one line each.
    const std::vector<std::wstring>& Notes() const { return notes_; }
    const std::wstring& CurrentUserSid() const { return currentUser_; }
    const std::vector<ImageHive>& Hives() const { return hives_; }
    size_t OpenHandles() const { return handles_.size(); }
    // The Task Scheduler objects handed out and not yet released.
    size_t LiveTaskObjects() const { return liveTaskObjects_; }

    // The file on the scanning machine that an image path (C:\...) names, each component matched
    // without regard to case as NTFS compares names (a name the image lacks stays as written). False,
    // with the error a missing path gives, for paths off the image's C: (other drives, shares,
    // relative paths).
    bool HostPath(LPCWSTR imagePath, std::wstring& hostPath, DWORD& error) const;
    // The image's Windows directory, on its C:.
    const std::wstring& WindowsDirectory() const { return systemRoot_; }
    // A variable of the image's environment as its system builds it for the current user.
    bool Variable(const std::wstring& name, std::wstring& value) const;

    // Registry.
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override;
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM access,
                            const SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition) override;
    LSTATUS RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) override;
    LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPWSTR className,
                          LPDWORD classCapacity, PFILETIME lastWrite) override;
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

    // Files, drives and devices.
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
    DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD capacity,
                                   LPCWSTR file) override;
    UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) override;

    // System information and text.
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

    // Shell and COM.
    BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) override;
    HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override;
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                 SOLE_AUTHENTICATION_SERVICE* services, void* reserved1, DWORD authnLevel,
                                 DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) override;
    void CoTaskMemFree(LPVOID memory) override;
    BSTR SysAllocString(const OLECHAR* text) override;
    void SysFreeString(BSTR text) override;

    // A key of the image: up to two hive keys, the first one's values winning (the merged classes
    // view); none for the two roots that only hold mounted hives.
    struct Layer {
        int hive = -1;
        uint32_t cell = kNoCell;
    };
    struct Place {
        enum class Kind { Machine, Users, Keys } kind = Kind::Keys;
        Layer layers[2];
        int layerCount = 0;
        unsigned depth = 0;
    };

private:
    OfflineBackend() = default;
    // A subkey as enumeration shows it, with the hive key that answers for it.
    struct Listed {
        std::wstring name;
        Layer key;
    };
    // Lists are made on the first enumeration of a handle and hold only what can be read, so a
    // damaged entry leaves a gap, never an end.
    struct OpenKey {
        Place place;
        bool subkeysListed = false;
        std::vector<Listed> subkeys;
        bool valuesListed = false;
        std::vector<uint32_t> values;  // indexes of the readable values of the first layer
    };

    int AddHive(const std::wstring& mount, const std::wstring& relativePath, bool required);
    void LoadProfiles(const std::wstring& requestedUser, DWORD& error);
    bool PlaceOf(HKEY key, Place& place) const;
    bool Child(const Place& parent, const wchar_t* name, size_t length, Place& child) const;
    bool Walk(Place place, LPCWSTR path, Place& result) const;
    bool KeyOf(const Layer& layer, KeyNode& key) const;
    const std::vector<Listed>& Subkeys(OpenKey& open) const;
    const std::vector<uint32_t>& Values(OpenKey& open) const;
    bool ValueOf(OpenKey& open, LPCWSTR name, ValueNode& value) const;
    bool HiveRoot(const std::wstring& mount, Place& place) const;
    void ReportDamage(size_t hive, const std::wstring& what) const;
    OpenKey* Opened(HKEY key);
    bool ReadText(HKEY root, const wchar_t* path, const wchar_t* name, std::wstring& text, DWORD* type = nullptr);
    void SetVariable(const std::wstring& name, const std::wstring& value);
    void AddEnvironmentKey(HKEY root, const wchar_t* path);
    void LoadEnvironment();
    std::wstring Expand(const std::wstring& text) const;
    bool ShellFolder(int csidl, std::wstring& path);
    void LearnRootCase();

    std::wstring root_;
    std::wstring systemRoot_ = L"C:\\Windows";                        // the image's Windows directory, on its C:
    std::vector<std::pair<std::wstring, std::wstring>> environment_;  // in the order it was built
    std::wstring userProfile_;                                        // the current user's profile folder, C:\...
    mutable std::set<wchar_t> otherDrivesReported_;
    bool rootFoldsCase_ = false;
    bool readLogs_ = true;
    std::vector<ImageHive> hives_;
    std::vector<std::wstring> notes_;
    std::wstring currentUser_;
    int software_ = -1, system_ = -1;
    uint32_t currentControlSet_ = kNoCell;  // the SYSTEM hive's control set that Select names current
    // A user hive's Software key, whose Classes subkey is the link Windows makes to the profile's
    // classes hive.
    struct ClassesLink {
        int userHive;
        uint32_t softwareCell;
        int classesHive;
    };
    std::vector<ClassesLink> classesLinks_;
    std::unordered_map<ULONG_PTR, OpenKey> handles_;
    std::unordered_map<ULONG_PTR, OpenKey> predefined_;  // the roots, listed once
    mutable std::set<std::wstring> damageReported_;
    size_t liveTaskObjects_ = 0;
};

}  // namespace offline
}  // namespace platform
