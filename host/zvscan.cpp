// zvscan: scans through zvatrun.dll exactly as a host application does and prints every item.
#include <initguid.h>

#include <cstdio>
#include <string>

#include "zvatrun.h"

namespace {

const char kUsage[] =
    "usage: zvscan [--skip-probe] [--repairable-only] [--unrepairable-only] [--dll PATH]\n"
    "  --skip-probe         count every candidate path as existing; touch no file\n"
    "  --repairable-only    scan only locations whose entries can be repaired\n"
    "  --unrepairable-only  scan only locations whose entries cannot be repaired\n"
    "  --dll PATH           the scanner library (default: zvatrun.dll beside zvscan.exe)\n"
    "exit codes: 0 success, 1 the library could not be loaded or the scan failed, 2 usage error\n";

std::string Utf8(const wchar_t* text) {
    if (!text || !*text) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring DefaultDllPath() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    size_t slash = dir.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1)) + L"zvatrun.dll";
}

void PrintItem(IZVAutorunItemEx* item) {
    std::printf("%08lX %08lX %s%s\n", item->GetId(), item->GetCategory(), Utf8(item->GetLocation()).c_str(),
                item->CanRepair() ? " [repairable]" : "");
    for (ULONG i = 0, count = item->GetFileCount(); i < count; ++i) {
        const wchar_t* file = item->GetFile(i);
        std::printf("    %s\n", Utf8(file).c_str());
    }
}

int Scan(const std::wstring& dllPath, DWORD flags) {
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) {
        std::fprintf(stderr, "zvscan: cannot load %s (error %lu)\n", Utf8(dllPath.c_str()).c_str(), GetLastError());
        return 1;
    }
    auto create = reinterpret_cast<PFN_ZVAtrunCreateObject>(
        reinterpret_cast<void*>(GetProcAddress(dll, "ZVAtrunCreateObject")));
    IZVAutorunScanner* scanner = nullptr;
    HRESULT hr = create ? create(&IID_IZVAutorunScanner, reinterpret_cast<void**>(&scanner), 0) : E_NOINTERFACE;
    if (FAILED(hr)) {
        std::fprintf(stderr, "zvscan: cannot create the scanner (0x%08lX)\n", static_cast<unsigned long>(hr));
        FreeLibrary(dll);
        return 1;
    }

    ZV_SCAN_SETTINGS settings{sizeof(settings), flags, {}};
    hr = scanner->StartScan(&settings);
    if (FAILED(hr)) {
        std::fprintf(stderr, "zvscan: the scan failed to start (0x%08lX)\n", static_cast<unsigned long>(hr));
        scanner->Release();
        FreeLibrary(dll);
        return 1;
    }
    unsigned long items = 0;
    IZVAutorunItemEx* item = nullptr;
    while (scanner->NextItem(&item)) {
        PrintItem(item);
        item->Release();
        ++items;
    }

    static const char* const kCounterNames[] = {"file probes", "command lines", "file lists",
                                                "candidates", "directory searches", "extension searches"};
    std::printf("items: %lu\n", items);
    IZVAutorunPerformView* view = nullptr;
    if (SUCCEEDED(scanner->QueryInterface(IID_IZVAutorunPerformView, reinterpret_cast<void**>(&view)))) {
        for (ULONG kind = ZV_COUNT_FILE_PROBES; kind <= ZV_COUNT_EXTENSION_SEARCHES; ++kind)
            std::printf("%s: %lu\n", kCounterNames[kind - 1], view->GetCount(kind));
        view->Release();
    }
    scanner->Release();
    FreeLibrary(dll);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD flags = 0;
    std::wstring dllPath = DefaultDllPath();
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--skip-probe") {
            flags |= ZV_SCAN_SKIP_PROBE;
        } else if (arg == L"--repairable-only") {
            flags |= ZV_SCAN_REPAIRABLE_ONLY;
        } else if (arg == L"--unrepairable-only") {
            flags |= ZV_SCAN_UNREPAIRABLE_ONLY;
        } else if (arg == L"--dll" && i + 1 < argc) {
            dllPath = argv[++i];
        } else if (arg == L"--help" || arg == L"-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zvscan: unknown option %s\n%s", Utf8(arg.c_str()).c_str(), kUsage);
            return 2;
        }
    }
    // The host initialises COM on its thread: shortcut targets and scheduled tasks are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = Scan(dllPath, flags);
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
