// CZVAutorunScanner: walks the location table one row at a time and hands out what each row found.
#pragma once

#include "scanner/scan_context.h"

namespace Tessel {

class CZVAutorunScanner : public IZVAutorunScanner, public IZVAutorunPerformView {
public:
    // table: the rows to walk, ending with an all-zero row (tests pass their own). backend: the
    // platform its scans and items run on; null runs them on the current one.
    explicit CZVAutorunScanner(const LocationRow* table = kAutorunLocations,
                               std::shared_ptr<platform::Backend> backend = nullptr);

    HRESULT STDMETHODCALLTYPE StartScan(const ZV_SCAN_SETTINGS* settings) override;
    BOOL STDMETHODCALLTYPE NextItem(IZVAutorunItemEx** out) override;
    ULONG STDMETHODCALLTYPE GetCount(ULONG kind) override;
    virtual ~CZVAutorunScanner();

    void* InterfaceFor(REFIID riid);
    CAutorunContext& Context() { return context_; }

private:
    BOOL HandOut(IZVAutorunItemEx** out);
    BOOL Advance(IZVAutorunItemEx** out);

    const LocationRow* table_;
    const LocationRow* current_ = nullptr;  // none: never started, or finished
    CAutorunContext context_;
};

}  // namespace Tessel
