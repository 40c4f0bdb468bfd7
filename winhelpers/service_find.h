// Walks the subkeys of the service database key and reads, for the current one, the values that
// say what a service or driver starts. Values are kept as stored, never expanded.
//
//   Basalt::CWinServiceFind find;
//   for (bool more = find.FindFirstKey(root, path); more; more = find.Advance()) {
//       find.ReadServiceInfo();
//       ...
//   }
#pragma once

#include <optional>
#include <string>

#include "winhelpers/reg_find.h"

namespace Basalt {

class CWinServiceFind {
public:
    // What Type and Start hold when they are absent or not a REG_DWORD.
    static constexpr DWORD kUnknown = 0xFFFFFFFFu;

    CWinServiceFind() { Reset(); }
    CWinServiceFind(const CWinServiceFind&) = delete;
    CWinServiceFind& operator=(const CWinServiceFind&) = delete;
    virtual ~CWinServiceFind() = default;

    // Closes the enumeration and empties the record.
    void Reset();

    // Opens path under root for enumeration and steps to the first service key.
    bool FindFirstKey(HKEY root, const std::wstring& path);
    // Steps to the service key at the current index.
    bool FindNextKey() { return keys_->FindNextKey(); }
    // The next index, while the enumeration is open.
    bool Advance() { return keys_->Advance(); }

    // Fills the record for the current service key. A key that cannot be opened leaves the record
    // empty; values that are absent or of the wrong type leave their field empty or kUnknown.
    void ReadServiceInfo();

    const wchar_t* ServiceName() const { return keys_->CurrentName(); }
    const std::wstring& ImagePath() const { return imagePath_; }
    const std::wstring& ServiceDll() const { return serviceDll_; }
    DWORD Type() const { return type_; }
    DWORD Start() const { return start_; }
    std::wstring Application() const { return application_; }

private:
    void ClearRecord();

    // Rebuilt by Reset: the key enumerator cannot be reset in place.
    std::optional<CWinRegKeyFind> keys_;
    HKEY root_ = nullptr;
    std::wstring imagePath_;
    std::wstring serviceDll_;
    DWORD type_ = kUnknown;
    DWORD start_ = kUnknown;
    std::wstring application_;
};

}  // namespace Basalt
