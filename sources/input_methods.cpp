// Input methods: the keyboard layouts a user's "Keyboard Layout\Preload" list loads, each with the
// input-method and layout modules its "Keyboard Layouts" entry names, and the removal of one layout
// from that list.
#include <cwchar>
#include <string>

#include "locations/routines.h"
#include "paths/path_primitives.h"
#include "platform/handles.h"
#include "scanner/autorun_context.h"
#include "winhelpers/hresult.h"
#include "winhelpers/reg_values.h"

namespace Tessel {

namespace {

using Basalt::HResultFromWin32;
using Basalt::ReadStringValue;

const wchar_t kPreloadPath[] = L"Keyboard Layout\\Preload";
const wchar_t kLayoutsPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

// The value name of preload entry number n: decimal, no leading zeros.
std::wstring PreloadValueName(DWORD number) {
    wchar_t name[16];
    std::swprintf(name, 16, L"%lu", static_cast<unsigned long>(number));
    return name;
}

// A value of the layout's key, or empty when it cannot be read.
std::wstring ReadLayoutValue(HKEY layout, const wchar_t* name) {
    std::wstring text;
    if (ReadStringValue(layout, name, text) != ERROR_SUCCESS) text.clear();
    return text;
}

}  // namespace

HRESULT ScanInputMethods(IAutorunContext* context, const LocationRow* row) {
    platform::UniqueHKey preload;
    LONG status = platform::RegOpenKeyExW(row->root, kPreloadPath, 0, KEY_READ, preload.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    platform::UniqueHKey layouts;
    status = platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLayoutsPath, 0, KEY_READ, layouts.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);

    // The list ends at its first gap, whatever higher numbers hold.
    for (DWORD number = 1;; ++number) {
        std::wstring layoutId;
        if (ReadStringValue(preload.get(), PreloadValueName(number).c_str(), layoutId) != ERROR_SUCCESS) break;
        // An empty identifier names no layout: opening it would open the layouts key itself.
        if (layoutId.empty()) continue;
        platform::UniqueHKey layout;
        if (platform::RegOpenKeyExW(layouts.get(), layoutId.c_str(), 0, KEY_READ, layout.put()) != ERROR_SUCCESS)
            continue;
        std::wstring imeFile = ReadLayoutValue(layout.get(), L"Ime File");
        std::wstring layoutFile = ReadLayoutValue(layout.get(), L"Layout File");
        context->AddInputMethod(row, number, layoutId.c_str(), imeFile.c_str(), layoutFile.c_str());
    }
    return S_OK;
}

HRESULT RepairInputMethod(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    platform::ComPtr<IZVAutorunItem_Ime> ime;
    HRESULT hr = QueryItemKind(item, IID_IZVAutorunItem_Ime, ime);
    if (FAILED(hr)) return hr;

    platform::UniqueHKey preload;
    LONG status = platform::RegOpenKeyExW(ime->GetRootKey(), kPreloadPath, 0, KEY_ALL_ACCESS, preload.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    DWORD number = ime->GetPreloadIndex();
    std::wstring current;
    status = ReadStringValue(preload.get(), PreloadValueName(number).c_str(), current);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    const wchar_t* layoutId = ime->GetLayoutId();
    // The list changed since the scan: this entry is no longer the item's layout.
    if (!EqualsNoCase(current, layoutId ? layoutId : L"")) return S_FALSE;

    // Close the gap: every later entry moves down by one and the last number goes.
    for (DWORD at = number;; ++at) {
        std::wstring next;
        if (ReadStringValue(preload.get(), PreloadValueName(at + 1).c_str(), next) != ERROR_SUCCESS)
            return HResultFromWin32(platform::RegDeleteValueW(preload.get(), PreloadValueName(at).c_str()));
        DWORD size = static_cast<DWORD>((next.size() + 1) * sizeof(wchar_t));
        status = platform::RegSetValueExW(preload.get(), PreloadValueName(at).c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(next.c_str()), size);
        if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    }
}

}  // namespace Tessel
