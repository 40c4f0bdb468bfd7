// Enumerators of the subkeys and the values of one registry key. Every failed step closes the
// enumerator, which ends the enumeration quietly.
//
//   Basalt::CWinRegKeyFind find;
//   for (bool more = find.FindFirstKey(root, path); more; more = find.Advance()) { ... }
#pragma once

#include <string>

#include "platform/handles.h"

namespace Basalt {

class CWinRegKeyFind {
public:
    CWinRegKeyFind() = default;
    CWinRegKeyFind(const CWinRegKeyFind&) = delete;
    CWinRegKeyFind& operator=(const CWinRegKeyFind&) = delete;
    virtual ~CWinRegKeyFind() = default;

    // Opens path under root for enumeration and steps to the first subkey.
    bool FindFirstKey(HKEY root, const std::wstring& path);
    // Steps to the subkey at the current index; a name past 258 characters ends the enumeration.
    bool FindNextKey();
    // The next index, while the enumerator is open.
    bool Advance();
    // The current subkey's path relative to the root.
    std::wstring GetFullPath() const;

    const wchar_t* CurrentName() const { return name_; }
    bool IsOpen() const { return key_.valid(); }
    DWORD Index() const { return index_; }

private:
    void Close();

    platform::UniqueHKey key_;
    HKEY parentRoot_ = nullptr;
    std::wstring parentPath_;
    wchar_t name_[260] = {};
    DWORD index_ = 0;
};

class CWinRegValueFind {
public:
    CWinRegValueFind() = default;
    CWinRegValueFind(const CWinRegValueFind&) = delete;
    CWinRegValueFind& operator=(const CWinRegValueFind&) = delete;
    virtual ~CWinRegValueFind() = default;

    // Opens path under root for reading values and steps to the first value. With readData each
    // step also fetches the value's data when it fits a small buffer, for ReadString.
    bool FindFirstValue(HKEY root, const std::wstring& path, bool readData = false);
    // Steps to the value at the current index; names up to 16382 characters are read whole.
    bool FindNextValue();
    bool Advance();

    // The current value as ReadStringValue reads it by name: from the data the step fetched when
    // there is some and it passes the reader's checks, else by a read by name.
    LONG ReadString(std::wstring& text) const;

    const wchar_t* CurrentName() const { return name_; }
    DWORD CurrentType() const { return type_; }
    // The open key, for reading the current value's data.
    HKEY Key() const { return key_.get(); }
    bool IsOpen() const { return key_.valid(); }
    DWORD Index() const { return index_; }

private:
    void Close();

    platform::UniqueHKey key_;
    DWORD type_ = 0;
    const wchar_t* name_ = shortName_;
    std::wstring longName_;
    wchar_t shortName_[512] = {};
    DWORD index_ = 0;
    bool readData_ = false;
    bool hasData_ = false;  // data_ holds the current value's data
    DWORD dataSize_ = 0;
    wchar_t data_[512];
};

}  // namespace Basalt
