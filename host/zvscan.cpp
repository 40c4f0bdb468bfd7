// zvscan: scans through zvatrun.dll exactly as a host application does, prints every item, and
// repairs the items a selection names.
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli_options.h"
#include "repair_report.h"
#include "scanner_library.h"
#include "text.h"

using namespace zvscan;

namespace {

// What goes to stderr comes after what stdout holds so far: a terminal shows both in order.
void Write(std::FILE* stream, const std::string& text) {
    if (stream == stderr) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stream);
    if (stream == stderr) std::fflush(stderr);
}

// Loads the library, creates a scanner, scans with the options' flags and hands every item to visit
// with its position in the scan. The summary (everything but the shown counts) is filled in. False,
// after saying why on stderr, when the library could not be loaded or the scan could not start.
bool Scan(const Options& options, ScannerLibrary& library, ScanSummary& summary,
          const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit) {
    std::wstring path = options.dllPath.empty() ? ScannerLibrary::DefaultPath() : options.dllPath;
    if (!library.Load(path)) {
        Write(stderr, "zvscan: " + library.Error() + "\n");
        return false;
    }
    summary.library = Utf8(library.Path()) + " (" + library.Architecture() + ")";
    ComRef<IZVAutorunScanner> scanner;
    HRESULT hr = library.CreateScanner(scanner);
    if (FAILED(hr)) {
        Write(stderr, "zvscan: cannot create the scanner (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
        return false;
    }
    auto start = std::chrono::steady_clock::now();
    ZV_SCAN_SETTINGS settings{sizeof(settings), options.scanFlags, {}};
    hr = scanner->StartScan(&settings);
    if (FAILED(hr)) {
        Write(stderr, "zvscan: the scan failed to start (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
        return false;
    }
    ComRef<IZVAutorunItemEx> item;
    while (scanner->NextItem(item.Put())) {
        ItemRecord record = ReadItemRecord(item.Get(), ++summary.scanned);
        visit(std::move(item), std::move(record));
    }
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ComRef<IZVAutorunPerformView> view;
    if (SUCCEEDED(scanner->QueryInterface(IID_IZVAutorunPerformView, reinterpret_cast<void**>(view.Put())))) {
        for (ULONG kind = ZV_COUNT_FILE_PROBES; kind <= ZV_COUNT_EXTENSION_SEARCHES; ++kind)
            summary.counters[kind - 1] = view->GetCount(kind);
    }
    return true;
}

// Counts a shown item into the summary; items of one row come out one after another.
void CountShown(ScanSummary& summary, const ItemRecord& record, unsigned long& previousId) {
    if (summary.shown == 0 || record.id != previousId) ++summary.rows;
    previousId = record.id;
    ++summary.shown;
    if (record.repairable) ++summary.repairable;
}

int RunScan(const Options& options) {
    ScannerLibrary library;
    ScanSummary summary;
    unsigned long previousId = 0;
    Write(stdout, Header(options.format));
    bool scanned = Scan(options, library, summary, [&](ComRef<IZVAutorunItemEx>&&, ItemRecord&& record) {
        if (!options.selection.Matches(record)) return;
        CountShown(summary, record, previousId);
        Write(stdout, Item(options.format, record));
    });
    if (!scanned) return kExitFailure;
    if (options.counters) Write(stdout, CountersText(options.format, summary.counters));
    Write(stderr, SummaryText(summary));
    return kExitSuccess;
}

bool Confirmed(size_t count) {
    Write(stderr, "Repair " + std::to_string(count) + (count == 1 ? " item" : " items") + "? [y/N] ");
    char answer[16] = {};
    if (!std::fgets(answer, sizeof(answer), stdin)) return false;
    std::string text = answer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text == "y" || text == "Y" || text == "yes" || text == "YES" || text == "Yes";
}

int RunRepair(const Options& options) {
    ScannerLibrary library;
    ScanSummary summary;
    unsigned long previousId = 0;
    std::vector<std::pair<ComRef<IZVAutorunItemEx>, ItemRecord>> selected;
    bool scanned = Scan(options, library, summary, [&](ComRef<IZVAutorunItemEx>&& item, ItemRecord&& record) {
        if (!options.selection.Matches(record)) return;
        CountShown(summary, record, previousId);
        selected.emplace_back(std::move(item), std::move(record));
    });
    if (!scanned) return kExitFailure;
    Write(stderr, SummaryText(summary));
    if (selected.empty()) {
        Write(stderr, "zvscan: no item matches the selection; nothing repaired\n");
        return kExitFailure;
    }

    auto requestFile = [&](const ItemRecord& record) {
        if (options.requestFile) return *options.requestFile;
        return record.files.empty() ? std::wstring() : record.files.front();
    };
    Write(stdout, options.dryRun ? "Would repair:\n" : "Selected for repair:\n");
    Write(stdout, TableHeader());
    for (const auto& [item, record] : selected) {
        Write(stdout, TableItem(record));
        std::wstring file = requestFile(record);
        Write(stdout, std::string(45, ' ') + "request names: " + (file.empty() ? "no file" : Utf8(file)) +
                          (record.repairable ? "" : " (this location has no repair: E_NOTIMPL)") + "\n");
    }
    if (options.dryRun) {
        Write(stdout, "Dry run: nothing was changed.\n");
        return kExitSuccess;
    }
    if (!options.yes && !Confirmed(selected.size())) {
        Write(stderr, "zvscan: nothing repaired\n");
        return kExitFailure;
    }

    int result = kExitSuccess;
    for (const auto& [item, record] : selected) {
        std::wstring file = requestFile(record);
        ZV_REPAIR_REQUEST request{sizeof(request), file.empty() ? nullptr : file.c_str()};
        HRESULT hr = item->Repair(&request);
        if (hr != S_OK) result = kExitFailure;
        Write(stdout, "#" + std::to_string(record.index) + " " + Hex32(record.id) + " " + Utf8(record.location) + ": " +
                          DescribeRepairResult(hr, record.kind, file) + "\n");
    }
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // UTF-8 bytes exactly as written: no newline translation, and a console told to expect UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) SetConsoleOutputCP(CP_UTF8);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
    Options options;
    ParseOutcome outcome = ParseCommandLine(args, options);
    if (!outcome.run) {
        Write(outcome.exitCode == kExitSuccess ? stdout : stderr, outcome.text);
        return outcome.exitCode;
    }

    // The host initialises COM on its thread: shortcut targets and scheduled tasks are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result;
    try {
        result = options.command == Command::Repair ? RunRepair(options) : RunScan(options);
    } catch (const std::exception& error) {
        Write(stderr, std::string("zvscan: ") + error.what() + "\n");
        result = kExitFailure;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
