// Benchmark of zvscan diff on large saved scans. Not a test: run it by hand (see README.md).
//
//   zvdiffbench [--items N] [--current-items M] [--folder PATH]
//     Writes two saved scans into the folder (default the temporary folder): a baseline of N items
//     (default 600000, about 630 bytes a line) and a second of the first M of them (default N) with
//     1 % of those changed, 0.1 % removed and as many added; reads both and compares them as zvscan diff does, and prints the file sizes,
//     the times, the changes and the peak of the heap and of the working set. The files are removed.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "diff/diff.h"
#include "win/handles.h"
#include "win/text.h"

namespace {

size_t g_liveBytes = 0;
size_t g_peakBytes = 0;

// Heap blocks keep their size in a header as large as the strictest alignment.
constexpr size_t kHeader = alignof(std::max_align_t);

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Line(unsigned long i, bool changed) {
    std::string name = "ZvBenchValue" + std::to_string(i);
    zvscan::OrderedJson item = {
        {"index", i + 1},
        {"key", "0123456789ab"},
        {"id", "0x10101015"},
        {"category", "0x10100000"},
        {"category_name", "registry"},
        {"kind", "registry"},
        {"location", "HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[" + name + "]"},
        {"hive", "S-1-5-21-0-0-0-1000"},
        {"files", {"C:\\Program Files\\Zv Bench Vendor\\Product " + std::to_string(i % 97) + "\\" + name + ".exe"}},
        {"repairable", true},
        {"root", "HKEY_USERS\\S-1-5-21-0-0-0-1000"},
        {"key_path", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {"value", name},
        {"data", "\"C:\\Program Files\\Zv Bench Vendor\\Product " + std::to_string(i % 97) + "\\" + name +
                     ".exe\" /background /minimized --profile=default" + (changed ? " /changed" : "")}};
    return item.dump() + "\r\n";
}

bool WriteScan(const std::wstring& path, unsigned long items, bool second, unsigned long long& size) {
    zvscan::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string text = "{\"scan_start\":{\"schema\":2,\"evidence\":false}}\r\n";
    unsigned long written = 0;
    size = 0;
    auto flush = [&](bool always) {
        if (!always && text.size() < (1u << 20)) return true;
        DWORD done = 0;
        if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) || done != text.size())
            return false;
        size += text.size();
        text.clear();
        return true;
    };
    for (unsigned long i = 0; i < items; ++i) {
        if (second && i % 1000 == 5) continue;
        text += Line(i, second && i % 100 == 3);
        ++written;
        if (!flush(false)) return false;
    }
    for (unsigned long i = 0; second && i < items / 1000; ++i, ++written) text += Line(1000000000ul + i, false);
    text += "{\"scan_end\":{\"items\":" + std::to_string(written) + ",\"seconds\":1.0}}\r\n";
    return flush(true);
}

}  // namespace

void* operator new(size_t size) {
    char* block = static_cast<char*>(std::malloc(size + kHeader));
    if (!block) throw std::bad_alloc();
    *reinterpret_cast<size_t*>(block) = size;
    g_liveBytes += size;
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
    return block + kHeader;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    g_liveBytes -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

int wmain(int argc, wchar_t** argv) {
    unsigned long items = 600000, currentItems = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = temp;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring option = argv[i];
        if (option == L"--items") {
            items = std::wcstoul(argv[i + 1], nullptr, 10);
        } else if (option == L"--current-items") {
            currentItems = std::wcstoul(argv[i + 1], nullptr, 10);
        } else if (option == L"--folder") {
            folder = std::wstring(argv[i + 1]) + L"\\";
        } else {
            std::fprintf(stderr, "usage: zvdiffbench [--items N] [--current-items M] [--folder PATH]\n");
            return 2;
        }
    }
    std::wstring baselinePath = folder + L"zvdiffbench-baseline.jsonl", currentPath = folder + L"zvdiffbench-current.jsonl";
    unsigned long long baselineSize = 0, currentSize = 0;
    if (!WriteScan(baselinePath, items, false, baselineSize) || !WriteScan(currentPath, currentItems ? currentItems : items, true, currentSize)) {
        std::fprintf(stderr, "zvdiffbench: cannot write the scans (error %lu)\n", GetLastError());
        return 1;
    }
    size_t heapBefore = g_liveBytes;
    g_peakBytes = g_liveBytes;
    int status = 0;
    try {
        double start = Now();
        zvscan::SavedScan baseline = zvscan::ReadSavedScan(baselinePath);
        zvscan::SavedScan current = zvscan::ReadSavedScan(currentPath);
        double read = Now();
        size_t heapRead = g_liveBytes - heapBefore;
        zvscan::DiffTally tally;
        zvscan::CompareScans(baseline, current, [&](zvscan::ItemChange&& change) {
            tally.Count(change);
            (void)zvscan::DiffJsonChange(change);
        });
        double compared = Now();
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        std::printf("items %lu; files %.1f MB and %.1f MB\n", items, baselineSize / 1e6, currentSize / 1e6);
        std::printf("read %.1f s, compared %.1f s: %s\n", read - start, compared - read, tally.Summary().c_str());
        std::printf("heap held after reading %.1f MB; peak heap %.1f MB (%.2f x the larger file); peak working set %.1f MB\n",
                    heapRead / 1e6, (g_peakBytes - heapBefore) / 1e6,
                    static_cast<double>(g_peakBytes - heapBefore) / static_cast<double>(std::max(baselineSize, currentSize)),
                    counters.PeakWorkingSetSize / 1e6);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zvdiffbench: %s\n", error.what());
        status = 1;
    }
    DeleteFileW(baselinePath.c_str());
    DeleteFileW(currentPath.c_str());
    return status;
}
