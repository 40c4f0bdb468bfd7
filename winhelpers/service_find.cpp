#include "winhelpers/service_find.h"

#include "platform/handles.h"
#include "winhelpers/reg_values.h"

namespace Basalt {

namespace {

// The number a REG_DWORD value holds, or kUnknown when it cannot be read as one.
DWORD ReadDwordOrUnknown(HKEY key, const wchar_t* name) {
    DWORD type = 0, value = 0, size = sizeof(value);
    LSTATUS status = platform::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return status == ERROR_SUCCESS && type == REG_DWORD ? value : CWinServiceFind::kUnknown;
}

// A failed read leaves the field empty.
void ReadStringOrEmpty(HKEY key, const wchar_t* name, std::wstring& field) {
    if (ReadStringValue(key, name, field) != ERROR_SUCCESS) field.clear();
}

}  // namespace

void CWinServiceFind::Reset() {
    keys_.emplace();
    root_ = nullptr;
    ClearRecord();
}

bool CWinServiceFind::FindFirstKey(HKEY root, const std::wstring& path) {
    ClearRecord();
    root_ = root;
    return keys_->FindFirstKey(root, path);
}

void CWinServiceFind::ClearRecord() {
    imagePath_.clear();
    serviceDll_.clear();
    application_.clear();
    type_ = kUnknown;
    start_ = kUnknown;
}

void CWinServiceFind::ReadServiceInfo() {
    ClearRecord();
    if (!keys_->IsOpen()) return;

    std::wstring path = keys_->GetFullPath();
    platform::UniqueHKey service;
    if (platform::RegOpenKeyExW(root_, path.c_str(), 0, KEY_QUERY_VALUE, service.put()) != ERROR_SUCCESS) return;
    ReadStringOrEmpty(service.get(), L"ImagePath", imagePath_);
    type_ = ReadDwordOrUnknown(service.get(), L"Type");
    start_ = ReadDwordOrUnknown(service.get(), L"Start");

    // Only a service that shares its process loads a library; a type with further bits is not one.
    if (type_ != SERVICE_WIN32_SHARE_PROCESS) return;
    platform::UniqueHKey parameters;
    path += L"\\Parameters";
    if (platform::RegOpenKeyExW(root_, path.c_str(), 0, KEY_QUERY_VALUE, parameters.put()) == ERROR_SUCCESS) {
        ReadStringOrEmpty(parameters.get(), L"ServiceDll", serviceDll_);
        ReadStringOrEmpty(parameters.get(), L"Application", application_);
    }
    if (serviceDll_.empty()) ReadStringOrEmpty(service.get(), L"ServiceDll", serviceDll_);
}

}  // namespace Basalt
