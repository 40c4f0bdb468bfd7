// COfflineScanner: the scanner over an image's registry. Every scan and every item it hands out
// runs on the image's own backend, so scanners of different images never mix.
#pragma once

#include <memory>

#include "platform/offline/offline_backend.h"
#include "scanner/scanner.h"
#include "zvoffline.h"

namespace Tessel {

class COfflineScanner : public CZVAutorunScanner, public IZVOfflineImage {
public:
    explicit COfflineScanner(std::shared_ptr<platform::offline::OfflineBackend> image);

    ULONG STDMETHODCALLTYPE GetNoteCount() override;
    LPCWSTR STDMETHODCALLTYPE GetNote(ULONG index) override;
    LPCWSTR STDMETHODCALLTYPE GetCurrentUser() override;

    void* InterfaceFor(REFIID riid);

private:
    std::shared_ptr<platform::offline::OfflineBackend> image_;
};

}  // namespace Tessel
