// The export of zvoffline.dll.
#include "diag/debug_log.h"
#include "scanner/com_object.h"
#include "scanner/offline/offline_scanner.h"
#include "winhelpers/hresult.h"

extern "C" HRESULT WINAPI ZVAtrunCreateOfflineObject(const ZV_OFFLINE_SETTINGS* settings, const IID* riid,
                                                     void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!settings) return E_POINTER;
    if (settings->cbSize != sizeof(ZV_OFFLINE_SETTINGS) || !settings->pszImageRoot || !*settings->pszImageRoot)
        return E_INVALIDARG;
    if (!riid || !IsEqualIID(*riid, IID_IZVAutorunScanner)) return E_NOTIMPL;
    try {
        platform::offline::ImageOptions options;
        options.root = settings->pszImageRoot;
        options.user = settings->pszUser ? settings->pszUser : L"";
        options.readLogs = (settings->dwFlags & ZV_OFFLINE_NO_LOGS) == 0;
        DWORD error = ERROR_SUCCESS;
        std::shared_ptr<platform::offline::OfflineBackend> image = platform::offline::OfflineBackend::Open(options, error);
        if (!image) return HRESULT_FROM_WIN32(error);
        for (const std::wstring& note : image->Notes())
            Tessel::LogDebug(Tessel::kLogInfo, L"[zavel] offline image: %ls\r\n", note.c_str());
        auto* scanner = Tessel::QComObject<Tessel::COfflineScanner>::Create(std::move(image));
        if (!scanner) return E_OUTOFMEMORY;
        return scanner->QueryInterface(*riid, ppv);
    } catch (...) {
        return Basalt::HResultFromCaughtException();
    }
}
