#include "platform/recording_backend.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

enum Op {
    kRegOpenKey, kRegEnumKey, kRegEnumKeyEx, kRegEnumValue, kRegQueryInfoKey, kRegQueryValue, kRegCloseKey,
    kGetFileAttributes, kFindFirstFile, kFindNextFile, kFindClose, kGetDriveType, kSetErrorMode, kCreateFile,
    kDeviceIoControl, kCloseHandle, kGetProfileString, kGetProfileInt, kGetSystemDirectory, kGetWindowsDirectory,
    kExpandEnvironment, kGetFullPathName, kGetLongPathName, kGetVersion, kGetModuleFileName, kMultiByteToWide,
    kOutputDebugString, kGetLastError, kSetLastError, kGetSpecialFolder, kCoCreateInstance, kCoInitializeSecurity,
    kCoTaskMemFree, kSysAllocString, kSysFreeString, kWrite
};

CallKind KindOf(int op) {
    switch (op) {
        case kRegOpenKey: return CallKind::RegOpen;
        case kRegEnumKey: case kRegEnumKeyEx: case kRegEnumValue: return CallKind::RegEnum;
        case kRegQueryInfoKey: case kRegQueryValue: return CallKind::RegQuery;
        case kRegCloseKey: return CallKind::RegClose;
        case kGetFileAttributes: return CallKind::FileProbe;
        case kFindFirstFile: case kFindNextFile: case kFindClose: return CallKind::FileFind;
        case kGetDriveType: case kCreateFile: case kDeviceIoControl: case kCloseHandle: case kGetProfileString:
        case kGetProfileInt: case kGetFullPathName: case kGetLongPathName: return CallKind::File;
        case kGetSpecialFolder: return CallKind::Shell;
        case kCoCreateInstance: case kCoInitializeSecurity: case kCoTaskMemFree: case kSysAllocString:
        case kSysFreeString: return CallKind::Com;
        case kWrite: return CallKind::Write;
        default: return CallKind::System;
    }
}

// Optional arguments, in the order they are tested in present.
void Mark(RecordedCall& call, int bit, const void* argument) {
    if (argument) call.present |= 1u << bit;
}
bool Has(const RecordedCall& call, int bit) { return (call.present >> bit) & 1u; }
void Text(RecordedCall& call, int at, LPCWSTR text) {
    Mark(call, 8 + at, text);
    if (text) call.text[at] = text;
}
LPCWSTR Text(const RecordedCall& call, int at) { return Has(call, 8 + at) ? call.text[at].c_str() : nullptr; }

}  // namespace

const char* CallKindName(CallKind kind) {
    static const char* const names[kCallKinds] = {"reg open", "reg enum", "reg query", "reg close", "file probe",
                                                  "file find", "file other", "system", "shell", "COM", "write"};
    return names[static_cast<int>(kind)];
}

void RecordingBackend::Clear() {
    calls_.clear();
    open_.clear();
}

size_t RecordingBackend::Count(CallKind kind) const {
    return std::count_if(calls_.begin(), calls_.end(), [&](const RecordedCall& c) { return KindOf(c.op) == kind; });
}

RecordedCall& RecordingBackend::Add(int op, const void* handle) {
    calls_.emplace_back();
    RecordedCall& call = calls_.back();
    call.op = op;
    call.handle = reinterpret_cast<UINT_PTR>(handle);
    auto it = std::find_if(open_.rbegin(), open_.rend(), [&](auto& entry) { return entry.first == call.handle; });
    if (handle && it != open_.rend()) call.handleFrom = it->second;
    return call;
}

void RecordingBackend::Produced(const void* handle) {
    open_.emplace_back(reinterpret_cast<UINT_PTR>(handle), static_cast<int>(calls_.size() - 1));
}

void RecordingBackend::Released(const void* handle) {
    auto it = std::find_if(open_.begin(), open_.end(),
                           [&](auto& entry) { return entry.first == reinterpret_cast<UINT_PTR>(handle); });
    if (it != open_.end()) open_.erase(it);
}

LSTATUS RecordingBackend::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    RecordedCall& call = Add(kRegOpenKey, key);
    Text(call, 0, subKey);
    call.number[0] = options;
    call.number[1] = access;
    LSTATUS status = inner_.RegOpenKeyExW(key, subKey, options, access, result);
    if (status == ERROR_SUCCESS) Produced(*result);
    return status;
}

LSTATUS RecordingBackend::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                                          REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                                          LPDWORD disposition) {
    Add(kWrite);
    return inner_.RegCreateKeyExW(key, subKey, reserved, className, options, access, security, result, disposition);
}

LSTATUS RecordingBackend::RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) {
    RecordedCall& call = Add(kRegEnumKey, key);
    call.number[0] = index;
    call.number[1] = capacity;
    return inner_.RegEnumKeyW(key, index, name, capacity);
}

LSTATUS RecordingBackend::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                                        LPWSTR className, LPDWORD classCapacity, PFILETIME lastWrite) {
    RecordedCall& call = Add(kRegEnumKeyEx, key);
    call.number[0] = index;
    call.number[1] = capacity ? *capacity : 0;
    call.number[2] = classCapacity ? *classCapacity : 0;
    Mark(call, 0, className);
    Mark(call, 1, classCapacity);
    Mark(call, 2, lastWrite);
    return inner_.RegEnumKeyExW(key, index, name, capacity, reserved, className, classCapacity, lastWrite);
}

LSTATUS RecordingBackend::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved,
                                        LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    RecordedCall& call = Add(kRegEnumValue, key);
    call.number[0] = index;
    call.number[1] = capacity ? *capacity : 0;
    call.number[2] = dataSize ? *dataSize : 0;
    Mark(call, 0, type);
    Mark(call, 1, data);
    Mark(call, 2, dataSize);
    return inner_.RegEnumValueW(key, index, name, capacity, reserved, type, data, dataSize);
}

LSTATUS RecordingBackend::RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD reserved,
                                           LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                                           LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                                           PFILETIME lastWrite) {
    RecordedCall& call = Add(kRegQueryInfoKey, key);
    call.number[0] = classCapacity ? *classCapacity : 0;
    const void* outputs[] = {className, classCapacity, subKeys,     maxSubKeyLen,       maxClassLen, values,
                             maxValueNameLen, maxValueLen, securityDescriptor, lastWrite};
    for (int i = 0; i < 10; ++i) Mark(call, i < 8 ? i : i + 8, outputs[i]);
    return inner_.RegQueryInfoKeyW(key, className, classCapacity, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                                   maxValueNameLen, maxValueLen, securityDescriptor, lastWrite);
}

LSTATUS RecordingBackend::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD dataSize) {
    RecordedCall& call = Add(kRegQueryValue, key);
    Text(call, 0, name);
    call.number[0] = dataSize ? *dataSize : 0;
    Mark(call, 0, type);
    Mark(call, 1, data);
    Mark(call, 2, dataSize);
    return inner_.RegQueryValueExW(key, name, reserved, type, data, dataSize);
}

LSTATUS RecordingBackend::RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                         DWORD dataSize) {
    Add(kWrite);
    return inner_.RegSetValueExW(key, name, reserved, type, data, dataSize);
}

LSTATUS RecordingBackend::RegDeleteValueW(HKEY key, LPCWSTR name) {
    Add(kWrite);
    return inner_.RegDeleteValueW(key, name);
}

LSTATUS RecordingBackend::SHDeleteKeyW(HKEY key, LPCWSTR subKey) {
    Add(kWrite);
    return inner_.SHDeleteKeyW(key, subKey);
}

LSTATUS RecordingBackend::RegCloseKey(HKEY key) {
    Add(kRegCloseKey, key);
    Released(key);
    return inner_.RegCloseKey(key);
}

DWORD RecordingBackend::GetFileAttributesW(LPCWSTR path) {
    Text(Add(kGetFileAttributes), 0, path);
    return inner_.GetFileAttributesW(path);
}

BOOL RecordingBackend::DeleteFileW(LPCWSTR path) {
    Add(kWrite);
    return inner_.DeleteFileW(path);
}

HANDLE RecordingBackend::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    Text(Add(kFindFirstFile), 0, pattern);
    HANDLE find = inner_.FindFirstFileW(pattern, data);
    if (find != INVALID_HANDLE_VALUE) Produced(find);
    return find;
}

BOOL RecordingBackend::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    Add(kFindNextFile, find);
    return inner_.FindNextFileW(find, data);
}

BOOL RecordingBackend::FindClose(HANDLE find) {
    Add(kFindClose, find);
    Released(find);
    return inner_.FindClose(find);
}

UINT RecordingBackend::GetDriveTypeW(LPCWSTR root) {
    Text(Add(kGetDriveType), 0, root);
    return inner_.GetDriveTypeW(root);
}

UINT RecordingBackend::SetErrorMode(UINT mode) {
    Add(kSetErrorMode).number[0] = mode;
    return inner_.SetErrorMode(mode);
}

HANDLE RecordingBackend::CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE templateFile) {
    RecordedCall& call = Add(kCreateFile);
    Text(call, 0, path);
    call.number[0] = access;
    call.number[1] = share;
    call.number[2] = disposition;
    call.handle = flags;
    HANDLE file = inner_.CreateFileW(path, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE) Produced(file);
    return file;
}

BOOL RecordingBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    RecordedCall& call = Add(kDeviceIoControl, device);
    call.number[0] = code;
    call.number[1] = outSize;
    if (in) call.bytes.assign(static_cast<const char*>(in), inSize);
    Mark(call, 0, in);
    Mark(call, 1, out);
    Mark(call, 2, returned);
    return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

BOOL RecordingBackend::CloseHandle(HANDLE handle) {
    Add(kCloseHandle, handle);
    Released(handle);
    return inner_.CloseHandle(handle);
}

DWORD RecordingBackend::GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                                 DWORD capacity, LPCWSTR file) {
    RecordedCall& call = Add(kGetProfileString);
    Text(call, 0, section);
    Text(call, 1, key);
    Text(call, 2, defaultValue);
    Text(call, 3, file);
    call.number[0] = capacity;
    return inner_.GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity, file);
}

UINT RecordingBackend::GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) {
    RecordedCall& call = Add(kGetProfileInt);
    Text(call, 0, section);
    Text(call, 1, key);
    Text(call, 3, file);
    call.number[0] = static_cast<DWORD>(defaultValue);
    return inner_.GetPrivateProfileIntW(section, key, defaultValue, file);
}

UINT RecordingBackend::GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
    Add(kGetSystemDirectory).number[0] = capacity;
    return inner_.GetSystemDirectoryW(buffer, capacity);
}

UINT RecordingBackend::GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    Add(kGetWindowsDirectory).number[0] = capacity;
    return inner_.GetWindowsDirectoryW(buffer, capacity);
}

DWORD RecordingBackend::ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) {
    RecordedCall& call = Add(kExpandEnvironment);
    Text(call, 0, source);
    Mark(call, 0, buffer);
    call.number[0] = capacity;
    return inner_.ExpandEnvironmentStringsW(source, buffer, capacity);
}

DWORD RecordingBackend::GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
    RecordedCall& call = Add(kGetFullPathName);
    Text(call, 0, path);
    Mark(call, 0, buffer);
    Mark(call, 1, filePart);
    call.number[0] = capacity;
    return inner_.GetFullPathNameW(path, capacity, buffer, filePart);
}

DWORD RecordingBackend::GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) {
    RecordedCall& call = Add(kGetLongPathName);
    Text(call, 0, shortPath);
    Mark(call, 0, buffer);
    call.number[0] = capacity;
    return inner_.GetLongPathNameW(shortPath, buffer, capacity);
}

BOOL RecordingBackend::GetVersionExW(LPOSVERSIONINFOW info) {
    Add(kGetVersion).number[0] = info ? info->dwOSVersionInfoSize : 0;
    return inner_.GetVersionExW(info);
}

DWORD RecordingBackend::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
    Add(kGetModuleFileName, module).number[0] = capacity;
    return inner_.GetModuleFileNameW(module, buffer, capacity);
}

int RecordingBackend::MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer,
                                          int capacity) {
    RecordedCall& call = Add(kMultiByteToWide);
    call.number[0] = codePage;
    call.number[1] = flags;
    call.number[2] = static_cast<DWORD>(capacity);
    Mark(call, 0, buffer);
    if (text) call.bytes.assign(text, size < 0 ? std::strlen(text) + 1 : static_cast<size_t>(size));
    return inner_.MultiByteToWideChar(codePage, flags, text, size, buffer, capacity);
}

void RecordingBackend::OutputDebugStringW(LPCWSTR text) {
    Text(Add(kOutputDebugString), 0, text);
    inner_.OutputDebugStringW(text);
}

DWORD RecordingBackend::GetLastError() {
    Add(kGetLastError);
    return inner_.GetLastError();
}

void RecordingBackend::SetLastError(DWORD error) {
    Add(kSetLastError).number[0] = error;
    inner_.SetLastError(error);
}

BOOL RecordingBackend::SHGetSpecialFolderPathW(HWND owner, LPWSTR buffer, int csidl, BOOL create) {
    RecordedCall& call = Add(kGetSpecialFolder);
    call.number[0] = static_cast<DWORD>(csidl);
    call.number[1] = static_cast<DWORD>(create);
    return inner_.SHGetSpecialFolderPathW(owner, buffer, csidl, create);
}

HRESULT RecordingBackend::CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                           LPVOID* object) {
    RecordedCall& call = Add(kCoCreateInstance);
    call.guid[0] = clsid;
    call.guid[1] = iid;
    call.number[0] = context;
    HRESULT hr = inner_.CoCreateInstance(clsid, outer, context, iid, object);
    if (SUCCEEDED(hr)) Produced(*object);
    return hr;
}

HRESULT RecordingBackend::CoInitializeSecurity(PSECURITY_DESCRIPTOR security, LONG authServices,
                                               SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                                               DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                                               void* reserved3) {
    RecordedCall& call = Add(kCoInitializeSecurity);
    call.handle = static_cast<UINT_PTR>(authServices);
    call.number[0] = authnLevel;
    call.number[1] = impLevel;
    call.number[2] = capabilities;
    return inner_.CoInitializeSecurity(security, authServices, services, reserved1, authnLevel, impLevel, authList,
                                       capabilities, reserved3);
}

void RecordingBackend::CoTaskMemFree(LPVOID memory) {
    Add(kCoTaskMemFree);
    inner_.CoTaskMemFree(memory);
}

BSTR RecordingBackend::SysAllocString(const OLECHAR* text) {
    Text(Add(kSysAllocString), 0, text);
    BSTR result = inner_.SysAllocString(text);
    if (result) Produced(result);
    return result;
}

void RecordingBackend::SysFreeString(BSTR text) {
    Add(kSysFreeString, text);
    Released(text);
    inner_.SysFreeString(text);
}

void Replay(const std::vector<RecordedCall>& calls) {
    // Room for the largest buffer any call asks for: a 64 Ki-character string and its terminator.
    static std::vector<BYTE> scratch(0x20000 + 16);
    static std::vector<wchar_t> name(0x4000 + 16);
    BYTE* data = scratch.data();
    auto* text = reinterpret_cast<LPWSTR>(data);
    std::vector<UINT_PTR> results(calls.size());
    std::vector<IUnknown*> objects;
    for (size_t i = 0; i < calls.size(); ++i) {
        const RecordedCall& c = calls[i];
        UINT_PTR handle = c.handleFrom >= 0 ? results[c.handleFrom] : c.handle;
        HKEY key = reinterpret_cast<HKEY>(handle);
        DWORD n0 = c.number[0], n1 = c.number[1], n2 = c.number[2], type = 0;
        FILETIME time;
        WIN32_FIND_DATAW find;
        switch (c.op) {
            case kRegOpenKey: {
                HKEY opened = nullptr;
                if (::RegOpenKeyExW(key, Text(c, 0), n0, n1, &opened) == ERROR_SUCCESS)
                    results[i] = reinterpret_cast<UINT_PTR>(opened);
                break;
            }
            case kRegEnumKey: ::RegEnumKeyW(key, n0, name.data(), n1); break;
            case kRegEnumKeyEx:
                ::RegEnumKeyExW(key, n0, name.data(), &n1, nullptr, Has(c, 0) ? text : nullptr, Has(c, 1) ? &n2 : nullptr,
                                Has(c, 2) ? &time : nullptr);
                break;
            case kRegEnumValue:
                ::RegEnumValueW(key, n0, name.data(), &n1, nullptr, Has(c, 0) ? &type : nullptr, Has(c, 1) ? data : nullptr,
                                Has(c, 2) ? &n2 : nullptr);
                break;
            case kRegQueryInfoKey: {
                DWORD out[8] = {};
                auto at = [&](int bit, int slot) { return Has(c, bit) ? &out[slot] : nullptr; };
                ::RegQueryInfoKeyW(key, Has(c, 0) ? text : nullptr, Has(c, 1) ? &n0 : nullptr, nullptr, at(2, 0),
                                   at(3, 1), at(4, 2), at(5, 3), at(6, 4), at(7, 5), at(16, 6),
                                   Has(c, 17) ? &time : nullptr);
                break;
            }
            case kRegQueryValue:
                ::RegQueryValueExW(key, Text(c, 0), nullptr, Has(c, 0) ? &type : nullptr, Has(c, 1) ? data : nullptr,
                                   Has(c, 2) ? &n0 : nullptr);
                break;
            case kRegCloseKey: ::RegCloseKey(key); break;
            case kGetFileAttributes: ::GetFileAttributesW(Text(c, 0)); break;
            case kFindFirstFile: {
                HANDLE found = ::FindFirstFileW(Text(c, 0), &find);
                if (found != INVALID_HANDLE_VALUE) results[i] = reinterpret_cast<UINT_PTR>(found);
                break;
            }
            case kFindNextFile: ::FindNextFileW(reinterpret_cast<HANDLE>(handle), &find); break;
            case kFindClose: ::FindClose(reinterpret_cast<HANDLE>(handle)); break;
            case kGetDriveType: ::GetDriveTypeW(Text(c, 0)); break;
            case kSetErrorMode: ::SetErrorMode(n0); break;
            case kCreateFile: {
                HANDLE file = ::CreateFileW(Text(c, 0), n0, n1, nullptr, n2, static_cast<DWORD>(c.handle), nullptr);
                if (file != INVALID_HANDLE_VALUE) results[i] = reinterpret_cast<UINT_PTR>(file);
                break;
            }
            case kDeviceIoControl:
                ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), n0,
                                  Has(c, 0) ? const_cast<char*>(c.bytes.data()) : nullptr,
                                  static_cast<DWORD>(c.bytes.size()), Has(c, 1) ? data : nullptr, n1,
                                  Has(c, 2) ? &n2 : nullptr, nullptr);
                break;
            case kCloseHandle: ::CloseHandle(reinterpret_cast<HANDLE>(handle)); break;
            case kGetProfileString:
                ::GetPrivateProfileStringW(Text(c, 0), Text(c, 1), Text(c, 2), text, n0, Text(c, 3));
                break;
            case kGetProfileInt: ::GetPrivateProfileIntW(Text(c, 0), Text(c, 1), static_cast<INT>(n0), Text(c, 3)); break;
            case kGetSystemDirectory: ::GetSystemDirectoryW(text, n0); break;
            case kGetWindowsDirectory: ::GetWindowsDirectoryW(text, n0); break;
            case kExpandEnvironment: ::ExpandEnvironmentStringsW(Text(c, 0), Has(c, 0) ? text : nullptr, n0); break;
            case kGetFullPathName: {
                LPWSTR part = nullptr;
                ::GetFullPathNameW(Text(c, 0), n0, Has(c, 0) ? text : nullptr, Has(c, 1) ? &part : nullptr);
                break;
            }
            case kGetLongPathName: ::GetLongPathNameW(Text(c, 0), Has(c, 0) ? text : nullptr, n0); break;
            case kGetVersion: {
                OSVERSIONINFOEXW info{};
                info.dwOSVersionInfoSize = n0;
                ::GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info));
                break;
            }
            case kGetModuleFileName: ::GetModuleFileNameW(reinterpret_cast<HMODULE>(handle), text, n0); break;
            case kMultiByteToWide:
                ::MultiByteToWideChar(n0, n1, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                      Has(c, 0) ? text : nullptr, static_cast<int>(n2));
                break;
            case kOutputDebugString: ::OutputDebugStringW(Text(c, 0)); break;
            case kGetLastError: ::GetLastError(); break;
            case kSetLastError: ::SetLastError(n0); break;
            case kGetSpecialFolder: ::SHGetSpecialFolderPathW(nullptr, text, static_cast<int>(n0), n1); break;
            case kCoCreateInstance: {
                void* object = nullptr;
                if (SUCCEEDED(::CoCreateInstance(c.guid[0], nullptr, n0, c.guid[1], &object))) {
                    results[i] = reinterpret_cast<UINT_PTR>(object);
                    objects.push_back(static_cast<IUnknown*>(object));
                }
                break;
            }
            case kCoInitializeSecurity:
                ::CoInitializeSecurity(nullptr, static_cast<LONG>(c.handle), nullptr, nullptr, n0, n1, nullptr, n2,
                                       nullptr);
                break;
            case kSysAllocString: results[i] = reinterpret_cast<UINT_PTR>(::SysAllocString(Text(c, 0))); break;
            case kSysFreeString: ::SysFreeString(reinterpret_cast<BSTR>(handle)); break;
            default: break;  // writes, and memory handed out by COM objects the replay does not call
        }
    }
    for (IUnknown* object : objects) object->Release();
}

}  // namespace platform
