#include "scanner/scanner.h"

#include "winhelpers/hresult.h"

namespace Tessel {

CZVAutorunScanner::CZVAutorunScanner(const LocationRow* table, std::shared_ptr<platform::Backend> backend)
    : table_(table), context_(std::move(backend)) {}

CZVAutorunScanner::~CZVAutorunScanner() = default;

void* CZVAutorunScanner::InterfaceFor(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZVAutorunScanner))
        return static_cast<IZVAutorunScanner*>(this);
    if (IsEqualIID(riid, IID_IZVAutorunPerformView)) return static_cast<IZVAutorunPerformView*>(this);
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CZVAutorunScanner::StartScan(const ZV_SCAN_SETTINGS* settings) {
    platform::BackendScope scope(context_.Backend().get());
    try {
        context_.ResetForScan(settings);
        context_.EmptyQueue();
        current_ = table_;
        context_.RunRow(current_);
        return S_OK;
    } catch (...) {
        // Exhausted memory ends the scan; nothing unwinds into the host.
        context_.EmptyQueue();
        current_ = nullptr;
        return Basalt::HResultFromCaughtException();
    }
}

BOOL STDMETHODCALLTYPE CZVAutorunScanner::NextItem(IZVAutorunItemEx** out) {
    if (!out || !current_) return FALSE;
    platform::BackendScope scope(context_.Backend().get());
    try {
        return Advance(out);
    } catch (...) {
        context_.EmptyQueue();
        current_ = nullptr;
        return FALSE;
    }
}

BOOL CZVAutorunScanner::Advance(IZVAutorunItemEx** out) {
    if (HandOut(out)) return TRUE;
    for (;;) {
        ++current_;
        if (current_->id == 0) {
            current_ = nullptr;
            return FALSE;
        }
        if (context_.RunRow(current_) && HandOut(out)) return TRUE;
    }
}

BOOL CZVAutorunScanner::HandOut(IZVAutorunItemEx** out) {
    IZVAutorunItemEx* item = nullptr;
    if (!context_.PopItem(&item)) return FALSE;
    item->SetOwner(static_cast<IZVAutorunScanner*>(this));
    *out = item;
    return TRUE;
}

ULONG STDMETHODCALLTYPE CZVAutorunScanner::GetCount(ULONG kind) { return context_.Counter(kind); }

}  // namespace Tessel
