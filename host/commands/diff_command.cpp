// zvscan diff: a saved scan against another or against a fresh scan.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "commands/scan_session.h"
#include "diff/diff.h"

namespace zvscan {

int RunDiff(const Options& options) {
    std::vector<OrderedJson> baseline, current;
    try {
        baseline = ReadSavedScan(options.baseline);
        if (!options.current.empty()) current = ReadSavedScan(options.current);
    } catch (const SavedScanError& error) {
        Write(stderr, std::string("zvscan: ") + error.what() + "; nothing compared\n");
        return kExitFailure;
    }
    if (options.current.empty()) {
        ScannerLibrary library;
        ComRef<IZVAutorunScanner> scanner;
        if (!OpenScanner(options, library, scanner)) return kExitFailure;
        ScanSummary summary;
        ScanEnd end = Scan(options, library, scanner.Get(), summary, [&](ComRef<IZVAutorunItemEx>&&, ItemRecord&& record) {
            current.push_back(OrderedJson::parse(JsonItem(record)));
        });
        if (end != ScanEnd::Done) return ExitCode(end);
    }
    std::vector<ItemChange> changes = CompareScans(baseline, current);
    switch (options.format) {
        case OutputFormat::Table:
            Write(stdout, DiffTable(changes));
            break;
        case OutputFormat::Json:
            Write(stdout, DiffJsonLines(changes));
            break;
        case OutputFormat::Csv:
            Write(stdout, DiffCsv(changes, options.csvCells));
            break;
    }
    Write(stderr, "zvscan: " + DiffSummary(changes) + "\n");
    return changes.empty() ? kExitSuccess : kExitDifferences;
}

}  // namespace zvscan
