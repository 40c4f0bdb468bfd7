#include "commands/scan_session.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "commands/console.h"
#include "report/progress.h"
#include "views/merge.h"
#include "views/record_json.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {

bool OpenScanner(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner) {
    bool offline = !options.imageRoot.empty();
    std::wstring path = !options.dllPath.empty() ? options.dllPath
                        : offline                ? ScannerLibrary::DefaultPath(L"zvoffline.dll")
                                                 : ScannerLibrary::DefaultPath();
    if (!(offline ? library.LoadOffline(path) : library.Load(path))) {
        Write(stderr, "zvscan: " + library.Error() + "\n");
        return false;
    }
    if (offline) {
        HRESULT hr = library.CreateOfflineScanner(options.imageRoot, options.imageUser, scanner);
        if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
            Write(stderr, "zvscan: --image " + Utf8(options.imageRoot) + " is not a folder\n");
            return false;
        }
        if (hr == HRESULT_FROM_WIN32(ERROR_NO_SUCH_USER)) {
            Write(stderr, "zvscan: the image has no profile " + Utf8(options.imageUser) +
                              " (--user takes a profile folder name or a SID of its ProfileList)\n");
            return false;
        }
        if (FAILED(hr)) {
            Write(stderr, "zvscan: cannot open the image (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
            return false;
        }
        for (const std::wstring& note : library.ImageNotes()) Write(stderr, "zvscan: image: " + Utf8(note) + "\n");
        return true;
    }
    HRESULT hr = library.CreateScanner(scanner);
    if (FAILED(hr)) {
        Write(stderr, "zvscan: cannot create the scanner (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
        return false;
    }
    return true;
}

bool PlanScanViews(const Options& options, ViewPlan& plan) {
    std::string notice;
    bool any = PlanViews(options, plan, notice);
    if (!notice.empty()) Write(stderr, "zvscan: " + notice + "\n");
    return any;
}

bool OpenScanning(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner,
                  ViewPlan& plan) {
    return OpenScanner(options, library, scanner) && PlanScanViews(options, plan);
}

ScanEnd Scan(const Options& options, const ScannerLibrary& library, IZVAutorunScanner* scanner, ViewPlan& plan,
             ScanSummary& summary, const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit) {
    summary.library = Utf8(library.Path()) + " (" + library.Architecture() + ")";
    auto start = std::chrono::steady_clock::now();
    std::vector<ViewItem> own;
    bool collect = plan.other != nullptr;
    if (plan.own) {
        ZV_SCAN_SETTINGS settings{sizeof(settings), options.scanFlags, {}};
        HRESULT hr = scanner->StartScan(&settings);
        if (FAILED(hr)) {
            Write(stderr, "zvscan: the scan failed to start (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
            return ScanEnd::Failed;
        }
        ComRef<IZVAutorunItemEx> item;
        bool offline = !options.imageRoot.empty();
        ItemReader reader(offline);
        EvidenceCache evidence(options.imageRoot);
        // An image's catalogs are no catalogs of this system.
        SignatureCache signatures(offline ? SignatureCache::Kinds::EmbeddedOnly : SignatureCache::Kinds::All,
                                  options.imageRoot);
        if (offline && options.signatures)
            Write(stderr, "zvscan: the image's files are checked for embedded signatures only: its catalogs are not "
                          "this system's\n");
        std::string view = SystemHasTwoViews() && !offline ? RegistryView() : "";
        Progress progress(Progress::StderrIsTerminal(), [](const std::string& text) {
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        });
        unsigned long rows = 0, previousId = 0;
        while (!Interrupted() && !OutputFailed() && scanner->NextItem(item.Put())) {
            ItemRecord record = reader.Read(item.Get());
            record.view = view;
            if (view == "wow64") UseWowFiles(record);
            summary.scanned = record.index;
            if (rows == 0 || record.id != previousId) ++rows;
            previousId = record.id;
            if (options.evidence) record.evidence = evidence.Of(record.files);
            if (options.signatures) record.signatures = signatures.Of(record.files);
            std::string row = Hex32(record.id) + " " + Utf8(record.location);
            if (collect) {
                own.push_back({std::move(item), std::move(record)});
            } else {
                visit(std::move(item), std::move(record));
            }
            ShowProgress(&progress);
            progress.Update(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                            summary.scanned, rows, row);
        }
        ShowProgress(nullptr);
        progress.End();
    }
    if (Interrupted()) {
        Write(stderr, "zvscan: interrupted; the scan stopped after " + std::to_string(summary.scanned) + " items\n");
        return ScanEnd::Interrupted;
    }
    if (OutputFailed()) return ScanEnd::Failed;
    if (collect) {
        std::vector<std::string> lines;
        std::string problem;
        std::vector<ItemRecord> other;
        if (plan.other->Finish(lines, problem)) {
            for (const std::string& line : lines)
                if (std::optional<ItemRecord> record = RecordFromJson(line)) other.push_back(std::move(*record));
        } else {
            Write(stderr, "zvscan: the " + plan.otherView + " view is not scanned: " + problem + "\n");
            plan.views.pop_back();
        }
        std::vector<ViewItem> merged = MergeViews(std::move(own), std::move(other));
        summary.scanned = static_cast<unsigned long>(merged.size());
        for (ViewItem& entry : merged) {
            if (Interrupted() || OutputFailed()) break;
            visit(std::move(entry.item), std::move(entry.record));
        }
    }
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ComRef<IZVAutorunPerformView> counters;
    if (plan.own &&
        SUCCEEDED(scanner->QueryInterface(IID_IZVAutorunPerformView, reinterpret_cast<void**>(counters.Put())))) {
        for (ULONG kind = ZV_COUNT_FILE_PROBES; kind <= ZV_COUNT_EXTENSION_SEARCHES; ++kind)
            summary.counters[kind - 1] = counters->GetCount(kind);
    }
    return OutputFailed() ? ScanEnd::Failed : ScanEnd::Done;
}

int ExitCode(ScanEnd end) { return end == ScanEnd::Interrupted ? kExitInterrupted : kExitFailure; }

void CountShown(ScanSummary& summary, const ItemRecord& record, unsigned long& previousId) {
    if (summary.shown == 0 || record.id != previousId) ++summary.rows;
    previousId = record.id;
    ++summary.shown;
    if (record.repairable) ++summary.repairable;
}

std::string NoMatchText(const Options& options, unsigned long scanned) {
    std::string narrowing = DescribeNarrowing(options);
    if (narrowing.empty()) return "zvscan: the scan found no item\n";
    std::string text = "zvscan: no item of the " + std::to_string(scanned) + " scanned matched " + narrowing;
    if (!options.selection.indexes.empty())
        text += " (positions shift as entries come and go: list again, or select by --key)";
    return text + "\n";
}

}  // namespace zvscan
