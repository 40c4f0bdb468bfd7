// Benchmark of a whole scan: time per scan and heap use, on a large simulated machine and on the
// real system of the Wine prefix. Not a test: run it by hand (see README.md).
//   zvbench [--scans N] [--real]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "platform/handles.h"
#include "platform/sim_backend.h"
#include "zvatrun.h"

namespace {

size_t g_allocations = 0;
size_t g_liveBytes = 0;
size_t g_peakBytes = 0;

struct Scanned {
    size_t items = 0;
    double seconds = 0;
};

Scanned ScanOnce(IZVAutorunScanner* scanner) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Scanned result;
    scanner->StartScan(nullptr);
    IZVAutorunItemEx* item = nullptr;
    while (scanner->NextItem(&item)) {
        ++result.items;
        item->Release();
    }
    QueryPerformanceCounter(&end);
    result.seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    return result;
}

// Run values, CLSID handlers, services and files in numbers a busy machine has.
void Populate(platform::SimulatedBackend& sim) {
    const std::wstring run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring bho = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
    for (int i = 0; i < 2000; ++i) {
        std::wstring n = std::to_wstring(i);
        sim.AddFile(L"C:\\Program Files\\Vendor " + n + L"\\app.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, run, L"App" + n, L"\"C:\\Program Files\\Vendor " + n + L"\\app.exe\" /s");
        sim.SetString(HKEY_CURRENT_USER, run, L"Tool" + n, L"rundll32.exe vendor" + n + L".dll,Start");
        std::wstring clsid = L"{00000000-0000-0000-0000-" + std::wstring(12 - n.size(), L'0') + n + L"}";
        sim.AddKey(HKEY_LOCAL_MACHINE, bho + clsid);
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"", L"C:\\ext\\x" + n + L".dll");
        std::wstring service = L"SYSTEM\\CurrentControlSet\\Services\\Svc" + n;
        sim.SetString(HKEY_LOCAL_MACHINE, service, L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k g" + n,
                      REG_EXPAND_SZ);
        sim.SetDword(HKEY_LOCAL_MACHINE, service, L"Type", 0x20);
        sim.SetString(HKEY_LOCAL_MACHINE, service + L"\\Parameters", L"ServiceDll", L"C:\\svc\\s" + n + L".dll");
    }
    sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
    sim.AddFile(L"C:\\windows\\system32\\svchost.exe");
}

}  // namespace

void* operator new(size_t size) {
    size_t* block = static_cast<size_t*>(std::malloc(size + sizeof(size_t)));
    if (!block) throw std::bad_alloc();
    *block = size;
    ++g_allocations;
    g_liveBytes += size;
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
    return block + 1;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    size_t* block = static_cast<size_t*>(p) - 1;
    g_liveBytes -= *block;
    std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

int wmain(int argc, wchar_t** argv) {
    int scans = 5;
    bool real = false;
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--scans") && i + 1 < argc) scans = _wtoi(argv[++i]);
        else if (!wcscmp(argv[i], L"--real")) real = true;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    platform::SimulatedBackend sim;
    if (!real) Populate(sim);
    platform::ScopedBackend scope(real ? platform::Win32() : static_cast<platform::Backend&>(sim));

    platform::ComPtr<IZVAutorunScanner> scanner;
    if (FAILED(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0))) return 1;
    size_t baseBytes = g_liveBytes;
    for (int i = 0; i < scans; ++i) {
        g_allocations = 0;
        g_peakBytes = g_liveBytes;
        size_t before = g_liveBytes;
        Scanned result = ScanOnce(scanner.Get());
        std::printf("%s scan %d: %zu items in %.3f s, %zu allocations, peak %zu KiB above the scanner, %ld bytes kept\n",
                    real ? "real" : "simulated", i + 1, result.items, result.seconds, g_allocations,
                    (g_peakBytes - baseBytes) / 1024, static_cast<long>(g_liveBytes) - static_cast<long>(before));
    }
    scanner.Reset();
    CoUninitialize();
    return 0;
}
