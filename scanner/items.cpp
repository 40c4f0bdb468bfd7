#include "scanner/items.h"

#include "paths/path_primitives.h"
#include "winhelpers/hresult.h"

namespace Tessel {

void* CAtrunItem::InterfaceFor(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZVAutorunItem) ||
        IsEqualIID(riid, IID_IZVAutorunItemEx))
        return static_cast<IZVAutorunItemEx*>(this);
    return KindInterfaceFor(riid);
}

HRESULT STDMETHODCALLTYPE CAtrunItem::Repair(const ZV_REPAIR_REQUEST* request) {
    if (!row_.repair) return E_NOTIMPL;
    if (!request) return E_POINTER;
    platform::BackendScope scope(backend_.get());
    try {
        if (request->pszFilePath && *request->pszFilePath &&
            IsKnownHostProgram(request->pszFilePath, nullptr) == S_OK)
            return S_FALSE;
        if (!HasRepairRoutine()) return S_OK;
        return row_.repair(this, request);
    } catch (...) {
        return Basalt::HResultFromCaughtException();
    }
}

void STDMETHODCALLTYPE CAtrunItem::SetOwner(IZVAutorunScanner* owner) {
    if (owner == owner_.Get()) return;
    owner_ = platform::ComPtr<IZVAutorunScanner>(owner);
}

void* CAtrunItem_Reg::KindInterfaceFor(REFIID riid) {
    return IsEqualIID(riid, IID_IZVAutorunItem_Reg) ? static_cast<IZVAutorunItem_Reg*>(this) : nullptr;
}

void* CAtrunItem_StartupIni::KindInterfaceFor(REFIID riid) {
    return IsEqualIID(riid, IID_IZVAutorunItem_Ini) ? static_cast<IZVAutorunItem_Ini*>(this) : nullptr;
}

void* CAtrunItem_StartupFolder::KindInterfaceFor(REFIID riid) {
    return IsEqualIID(riid, IID_IZVAutorunItem_ShortCut) ? static_cast<IZVAutorunItem_ShortCut*>(this) : nullptr;
}

void* CAtrunItem_Ime::KindInterfaceFor(REFIID riid) {
    return IsEqualIID(riid, IID_IZVAutorunItem_Ime) ? static_cast<IZVAutorunItem_Ime*>(this) : nullptr;
}

void* CAtrunItem_ShlCmd::KindInterfaceFor(REFIID riid) {
    return IsEqualIID(riid, IID_IZVAutorunItem_ShlCmd) ? static_cast<IZVAutorunItem_ShlCmd*>(this) : nullptr;
}

ULONG STDMETHODCALLTYPE CAtrunItem_Ime::GetFileCount() {
    return (imeFile.empty() ? 0 : 1) + (layoutFile.empty() ? 0 : 1);
}

LPCWSTR STDMETHODCALLTYPE CAtrunItem_Ime::GetFile(ULONG index) {
    // Without an input-method file the layout file moves up to index 0.
    if (imeFile.empty()) {
        if (index == 0xFFFFFFFFu) return nullptr;
        ++index;
    }
    if (index == 0) return imeFile.c_str();
    if (index == 1) return layoutFile.c_str();
    return nullptr;
}

LPCWSTR STDMETHODCALLTYPE CAtrunItem_Service::GetFile(ULONG index) {
    switch (index) {
        case 0: return imageFile.c_str();
        case 1: return applicationFile.c_str();
        case 2: return serviceDllFile.c_str();
        default: return nullptr;
    }
}

}  // namespace Tessel
