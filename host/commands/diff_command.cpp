// zvscan diff: a saved scan against another or against a fresh scan.
#include <cstdio>
#include <string>

#include "commands/commands.h"
#include "commands/console.h"
#include "commands/scan_session.h"
#include "diff/diff.h"

namespace zvscan {

namespace {

bool Read(const std::wstring& path, SavedScan& scan) {
    std::string warning;
    try {
        scan = ReadSavedScan(path, &warning);
    } catch (const SavedScanError& error) {
        Write(stderr, std::string("zvscan: ") + error.what() + "; nothing compared\n");
        return false;
    }
    if (!warning.empty()) Write(stderr, "zvscan: warning: " + warning + "\n");
    return true;
}

}  // namespace

int RunDiff(const Options& options) {
    SavedScan baseline, current;
    if (!Read(options.baseline, baseline)) return kExitFailure;
    if (!options.current.empty() && !Read(options.current, current)) return kExitFailure;
    if (options.current.empty()) {
        // A baseline with evidence or signatures is compared with a scan that has them too.
        Options scanOptions = options;
        scanOptions.evidence = options.evidence || baseline.evidence();
        scanOptions.signatures = options.signatures || baseline.signatures();
        ScannerLibrary library;
        ComRef<IZVAutorunScanner> scanner;
        ViewPlan plan;
        if (!OpenScanning(scanOptions, library, scanner, plan)) return kExitFailure;
        ScanSummary summary;
        ScanEnd end = Scan(scanOptions, library, scanner.Get(), plan, summary,
                           [&](ComRef<IZVAutorunItemEx>&&, ItemRecord&& record) { current.Add(JsonItem(record)); });
        if (end != ScanEnd::Done) return ExitCode(end);
        if (scanOptions.evidence) current.set_evidence();
        if (scanOptions.signatures) current.set_signatures();
    }
    for (const std::string& note : NotCompared(baseline, current)) Write(stderr, "zvscan: " + note + "\n");
    switch (options.format) {
        case OutputFormat::Table:
            Write(stdout, DiffTableHeader());
            break;
        case OutputFormat::Json:
            break;
        case OutputFormat::Csv:
            Write(stdout, DiffCsvHeader());
            break;
    }
    DiffTally tally;
    CompareScans(baseline, current, [&](ItemChange&& change) {
        tally.Count(change);
        switch (options.format) {
            case OutputFormat::Table:
                Write(stdout, DiffTableChange(change));
                break;
            case OutputFormat::Json:
                Write(stdout, DiffJsonChange(change));
                break;
            case OutputFormat::Csv:
                Write(stdout, DiffCsvChange(change, options.csvCells));
                break;
        }
    });
    // zvscan says what could not be written when it finishes the output.
    if (OutputFailed()) return kExitFailure;
    Write(stderr, "zvscan: " + tally.Summary() + "\n");
    return tally.empty() ? kExitSuccess : kExitDifferences;
}

}  // namespace zvscan
