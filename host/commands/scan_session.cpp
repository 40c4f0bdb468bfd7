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

namespace {

// The other view's items as its helper streams them, handed to the merge. Says once on stderr when
// its scan does not end whole: what was written by then stays as written, and the rest of the
// listing is this view alone.
class OtherStream {
public:
    OtherStream(ViewPlan& plan, ViewMerger& merger) : plan_(plan), merger_(merger) {}
    OtherStream(const OtherStream&) = delete;
    OtherStream& operator=(const OtherStream&) = delete;

    // Takes what has come, waiting up to `waitMs` for more; false once the stream is over.
    bool Pump(DWORD waitMs) {
        if (over_) return false;
        lines_.clear();
        ViewProcess::Stream stream = plan_.other->Read(lines_, waitMs);
        for (const std::string& line : lines_)
            if (std::optional<ItemRecord> record = RecordFromJson(line)) merger_.AddOther(std::move(*record));
        if (stream == ViewProcess::Stream::Open) return true;
        over_ = true;
        if (stream == ViewProcess::Stream::Whole) {
            whole_ = true;
            merger_.EndOther();
            return false;
        }
        std::string problem;
        plan_.other->Finish(problem);
        unsigned long written = merger_.Written();
        merger_.DropOther();
        std::string rest;
        if (written > 0)
            rest = "; the " + std::to_string(written) + " items listed before this " +
                   (plan_.own ? "include what it had given, the items after them are of the " + plan_.views.front() +
                                    " view alone"
                              : "are what it had given");
        Write(stderr, "zvscan: the " + plan_.otherView + " view is not scanned: " + problem + rest + "\n");
        plan_.views.pop_back();
        return false;
    }

    // Waits for the helper to exit after a whole scan.
    void Reap() {
        std::string ignored;
        if (whole_) plan_.other->Finish(ignored);
    }

private:
    ViewPlan& plan_;
    ViewMerger& merger_;
    std::vector<std::string> lines_;
    bool over_ = false, whole_ = false;
};

}  // namespace

ScanEnd Scan(const Options& options, const ScannerLibrary& library, IZVAutorunScanner* scanner, ViewPlan& plan,
             ScanSummary& summary, const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit) {
    summary.library = Utf8(library.Path()) + " (" + library.Architecture() + ")";
    auto start = std::chrono::steady_clock::now();
    bool merging = plan.other != nullptr;
    ViewMerger merger;
    OtherStream other(plan, merger);
    std::vector<ViewItem> ready;
    auto writeReady = [&] {
        ready.clear();
        merger.TakeReady(ready);
        for (ViewItem& entry : ready) {
            if (Interrupted() || OutputFailed()) return;
            visit(std::move(entry.item), std::move(entry.record));
        }
        if (!ready.empty()) FlushOutput();
    };
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
            if (rows > 0 && record.id != previousId && !merging) FlushOutput();
            if (rows == 0 || record.id != previousId) ++rows;
            previousId = record.id;
            if (options.evidence) record.evidence = evidence.Of(record.files);
            if (options.signatures) record.signatures = signatures.Of(record.files);
            std::string row = Hex32(record.id) + " " + Utf8(record.location);
            if (merging) {
                merger.AddOwn({std::move(item), std::move(record)});
                other.Pump(0);
                writeReady();
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
    if (merging && !Interrupted() && !OutputFailed()) {
        merger.EndOwn();
        writeReady();
        while (!Interrupted() && !OutputFailed() && other.Pump(100)) writeReady();
        writeReady();
        summary.scanned = merger.Written();
    }
    if (Interrupted()) {
        Write(stderr, "zvscan: interrupted; the scan stopped after " + std::to_string(summary.scanned) + " items\n");
        return ScanEnd::Interrupted;
    }
    if (OutputFailed()) return ScanEnd::Failed;
    if (merging) other.Reap();
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
