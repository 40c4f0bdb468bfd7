#include "scanner/offline/offline_scanner.h"

namespace Tessel {

COfflineScanner::COfflineScanner(std::shared_ptr<platform::offline::OfflineBackend> image)
    : CZVAutorunScanner(kAutorunLocations, image), image_(std::move(image)) {}

void* COfflineScanner::InterfaceFor(REFIID riid) {
    if (IsEqualIID(riid, IID_IZVOfflineImage)) return static_cast<IZVOfflineImage*>(this);
    return CZVAutorunScanner::InterfaceFor(riid);
}

ULONG STDMETHODCALLTYPE COfflineScanner::GetNoteCount() { return static_cast<ULONG>(image_->Notes().size()); }

LPCWSTR STDMETHODCALLTYPE COfflineScanner::GetNote(ULONG index) {
    return index < image_->Notes().size() ? image_->Notes()[index].c_str() : nullptr;
}

LPCWSTR STDMETHODCALLTYPE COfflineScanner::GetCurrentUser() { return image_->CurrentUserSid().c_str(); }

}  // namespace Tessel
