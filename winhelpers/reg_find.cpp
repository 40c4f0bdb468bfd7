#include "winhelpers/reg_find.h"

#include <cwchar>

#include "winhelpers/reg_values.h"

namespace Basalt {

namespace {
constexpr DWORD kKeyNameCapacity = 259;
constexpr DWORD kShortValueNameCapacity = 511;
constexpr DWORD kLongValueNameCapacity = 16383;
}  // namespace

bool CWinRegKeyFind::FindFirstKey(HKEY root, const std::wstring& path) {
    Close();
    if (platform::RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key_.put()) != ERROR_SUCCESS)
        return false;
    parentRoot_ = root;
    parentPath_ = path;
    return FindNextKey();
}

bool CWinRegKeyFind::FindNextKey() {
    if (!IsOpen()) return false;
    DWORD capacity = kKeyNameCapacity;
    LSTATUS status =
        platform::RegEnumKeyExW(key_.get(), index_, name_, &capacity, nullptr, nullptr, nullptr, nullptr);
    name_[259] = 0;
    if (status != ERROR_SUCCESS) {
        Close();
        return false;
    }
    return true;
}

bool CWinRegKeyFind::Advance() {
    if (!IsOpen()) return false;
    ++index_;
    return FindNextKey();
}

std::wstring CWinRegKeyFind::GetFullPath() const {
    if (parentPath_.empty()) return name_;
    if (!name_[0]) return parentPath_;
    std::wstring path;
    path.reserve(parentPath_.size() + 1 + std::wcslen(name_));
    path += parentPath_;
    if (path.back() != L'\\') path += L'\\';
    path += name_;
    return path;
}

void CWinRegKeyFind::Close() {
    key_.reset();
    parentRoot_ = nullptr;
    parentPath_.clear();
    name_[0] = 0;
    index_ = 0;
}

bool CWinRegValueFind::FindFirstValue(HKEY root, const std::wstring& path, bool readData) {
    Close();
    readData_ = readData;
    if (platform::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key_.put()) != ERROR_SUCCESS)
        return false;
    return FindNextValue();
}

bool CWinRegValueFind::FindNextValue() {
    if (!IsOpen()) return false;
    name_ = shortName_;
    shortName_[0] = 0;
    hasData_ = false;
    DWORD capacity = kShortValueNameCapacity;
    LSTATUS status = ERROR_MORE_DATA;
    if (readData_) {
        dataSize_ = sizeof(data_);
        status = platform::RegEnumValueW(key_.get(), index_, shortName_, &capacity, nullptr, &type_,
                                         reinterpret_cast<BYTE*>(data_), &dataSize_);
        // A name with a NUL inside reads back as a shorter name, so that value is read by name.
        hasData_ = status == ERROR_SUCCESS && std::wcslen(shortName_) == capacity;
    }
    if (status == ERROR_MORE_DATA) {
        capacity = kShortValueNameCapacity;
        status = platform::RegEnumValueW(key_.get(), index_, shortName_, &capacity, nullptr, &type_, nullptr,
                                         nullptr);
    }
    if (status == ERROR_MORE_DATA) {
        longName_.assign(kLongValueNameCapacity + 1, L'\0');
        capacity = kLongValueNameCapacity;
        status = platform::RegEnumValueW(key_.get(), index_, &longName_[0], &capacity, nullptr, &type_, nullptr,
                                         nullptr);
        name_ = longName_.c_str();
    }
    if (status != ERROR_SUCCESS) {
        Close();
        return false;
    }
    shortName_[511] = 0;
    return true;
}

LONG CWinRegValueFind::ReadString(std::wstring& text) const {
    if (hasData_ && StringFromData(type_, reinterpret_cast<const BYTE*>(data_), dataSize_, text) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return ReadStringValue(key_.get(), name_, text);
}

bool CWinRegValueFind::Advance() {
    if (!IsOpen()) return false;
    ++index_;
    return FindNextValue();
}

void CWinRegValueFind::Close() {
    key_.reset();
    type_ = 0;
    name_ = shortName_;
    shortName_[0] = 0;
    longName_.clear();
    index_ = 0;
    hasData_ = false;
}

}  // namespace Basalt
