// Cost of zvscan --signatures, by hand and not as a test (see README.md).
//
//   zvsigbench FOLDER
//     Checks the signature of every file of the folder as a scan does, in one run: prints the time of
//     the first check (which loads the system's roots), the time per file of the others by status,
//     and the time of all of them.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "evidence/signature.h"
#include "win/text.h"

namespace {

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zvsigbench FOLDER\n");
        return 2;
    }
    std::wstring folder = argv[1];
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + L"\\" + data.cFileName);
        while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (files.empty()) {
        std::fprintf(stderr, "zvsigbench: no file in %s\n", zvscan::Utf8(folder).c_str());
        return 1;
    }
    zvscan::SignatureCache cache;
    struct Tally {
        unsigned long files = 0;
        double seconds = 0;
    };
    std::map<std::string, Tally> byStatus;
    double start = Now(), first = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        double before = Now();
        const zvscan::FileSignature& signature = cache.Of(files[i]);
        double took = Now() - before;
        if (i == 0) {
            first = took;
            continue;
        }
        Tally& tally = byStatus[signature.status];
        ++tally.files;
        tally.seconds += took;
    }
    double all = Now() - start;
    std::printf("files %zu, first check %.1f ms, all %.3f s\n", files.size(), first * 1000, all);
    for (const auto& [status, tally] : byStatus)
        std::printf("  %-10s %5lu files, %.2f ms each\n", status.c_str(), tally.files,
                    tally.seconds * 1000 / static_cast<double>(tally.files));
    return 0;
}
