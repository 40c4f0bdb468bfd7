#include "scanner/com_object.h"
#include "scanner/scanner.h"
#include "winhelpers/hresult.h"

extern "C" HRESULT WINAPI ZVAtrunCreateObject(const IID* riid, void** ppv, DWORD) {
    if (!ppv) return E_POINTER;
    if (!riid || !IsEqualIID(*riid, IID_IZVAutorunScanner)) return E_NOTIMPL;
    auto* scanner = Tessel::QComObject<Tessel::CZVAutorunScanner>::Create();
    if (!scanner) return E_OUTOFMEMORY;
    return scanner->QueryInterface(*riid, ppv);
}
