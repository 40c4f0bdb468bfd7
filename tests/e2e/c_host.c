/* A host written in C: loads the DLL as a host application does and walks a scan to its end; then
 * asks zvoffline.dll for a scanner of an image, reading what it says about the image. */
#include <stdio.h>

#define INITGUID
#include "zvatrun.h"
#include "zvoffline.h"

static int fail(const char *what, HRESULT hr) {
    printf("c_host: %s failed (0x%08lX)\n", what, (unsigned long)hr);
    return 1;
}

int main(void) {
    HMODULE dll;
    PFN_ZVAtrunCreateObject create;
    IZVAutorunScanner *scanner = NULL;
    IZVAutorunPerformView *view = NULL;
    IZVAutorunItemEx *item = NULL;
    ZV_SCAN_SETTINGS settings = {sizeof(ZV_SCAN_SETTINGS), ZV_SCAN_SKIP_PROBE, {0}};
    unsigned long items = 0;
    HRESULT hr;

    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    dll = LoadLibraryW(L"zvatrun.dll");
    if (!dll) return fail("LoadLibraryW", HRESULT_FROM_WIN32(GetLastError()));
    create = (PFN_ZVAtrunCreateObject)(void *)GetProcAddress(dll, "ZVAtrunCreateObject");
    if (!create) return fail("GetProcAddress", E_FAIL);

    hr = create(&IID_IZVAutorunScanner, (void **)&scanner, 0);
    if (FAILED(hr)) return fail("ZVAtrunCreateObject", hr);
    hr = scanner->lpVtbl->QueryInterface(scanner, &IID_IZVAutorunPerformView, (void **)&view);
    if (FAILED(hr)) return fail("QueryInterface", hr);
    hr = scanner->lpVtbl->StartScan(scanner, &settings);
    if (FAILED(hr)) return fail("StartScan", hr);
    while (scanner->lpVtbl->NextItem(scanner, &item)) {
        if (item->lpVtbl->GetCategory(item) != (item->lpVtbl->GetId(item) & 0xFFF00000u)) return fail("GetCategory", E_FAIL);
        ++items;
        item->lpVtbl->Release(item);
    }
    printf("c_host: %lu items, %lu command lines, %lu file probes\n", items,
           view->lpVtbl->GetCount(view, ZV_COUNT_COMMAND_LINES), view->lpVtbl->GetCount(view, ZV_COUNT_FILE_PROBES));
    if (view->lpVtbl->GetCount(view, ZV_COUNT_FILE_PROBES) != 0) return fail("skip-probe", E_FAIL);
    view->lpVtbl->Release(view);
    if (scanner->lpVtbl->Release(scanner) != 0) return fail("Release", E_FAIL);
    FreeLibrary(dll);

    {
        /* The folder this program runs in is an image without hives: a scanner, with notes naming them missing. */
        PFN_ZVAtrunCreateOfflineObject createOffline;
        IZVOfflineImage *image = NULL;
        ZV_OFFLINE_SETTINGS offline = {sizeof(ZV_OFFLINE_SETTINGS), 0, L".", NULL};
        dll = LoadLibraryW(L"zvoffline.dll");
        if (!dll) return fail("LoadLibraryW zvoffline.dll", HRESULT_FROM_WIN32(GetLastError()));
        createOffline = (PFN_ZVAtrunCreateOfflineObject)(void *)GetProcAddress(dll, "ZVAtrunCreateOfflineObject");
        if (!createOffline) return fail("GetProcAddress ZVAtrunCreateOfflineObject", E_FAIL);
        hr = createOffline(&offline, &IID_IZVAutorunScanner, (void **)&scanner);
        if (FAILED(hr)) return fail("ZVAtrunCreateOfflineObject", hr);
        hr = scanner->lpVtbl->QueryInterface(scanner, &IID_IZVOfflineImage, (void **)&image);
        if (FAILED(hr)) return fail("QueryInterface IZVOfflineImage", hr);
        if (image->lpVtbl->GetNoteCount(image) < 3) return fail("GetNoteCount", E_FAIL);
        printf("c_host: offline: %ls\n", image->lpVtbl->GetNote(image, 0));
        image->lpVtbl->Release(image);
        if (scanner->lpVtbl->Release(scanner) != 0) return fail("Release offline", E_FAIL);
        FreeLibrary(dll);
    }
    CoUninitialize();
    return 0;
}
