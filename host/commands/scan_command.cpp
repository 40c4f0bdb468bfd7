// zvscan scan and zvscan --version.
#include <cstdio>
#include <string>

#include "commands/commands.h"
#include "commands/console.h"
#include "commands/scan_session.h"
#include "win/text.h"

namespace zvscan {

int RunVersion(const Options& options) {
    Write(stdout, std::string("zvscan ") + kVersion + "\n");
    ScannerLibrary library;
    ComRef<IZVAutorunScanner> scanner;
    if (!OpenScanner(options, library, scanner)) return kExitFailure;
    Write(stdout, "library: " + Utf8(library.Path()) + " (" + library.Architecture() + ")\n");
    return kExitSuccess;
}

int RunScan(const Options& options) {
    ScannerLibrary library;
    ComRef<IZVAutorunScanner> scanner;
    if (!OpenScanner(options, library, scanner)) return kExitFailure;
    ScanSummary summary;
    unsigned long previousId = 0;
    Write(stdout, Header(options.format, options.evidence));
    ScanEnd end = Scan(options, library, scanner.Get(), summary, [&](ComRef<IZVAutorunItemEx>&&, ItemRecord&& record) {
        if (!options.selection.Matches(record)) return;
        CountShown(summary, record, previousId);
        Write(stdout, Item(options.format, record, options.csvCells));
    });
    if (end != ScanEnd::Done) return ExitCode(end);
    // Counters after the records would make the CSV two tables in one file.
    if (options.counters)
        Write(options.format == OutputFormat::Csv ? stderr : stdout, CountersText(options.format, summary.counters));
    Write(stderr, SummaryText(summary));
    if (summary.shown == 0) Write(stderr, NoMatchText(options, summary.scanned));
    return kExitSuccess;
}

}  // namespace zvscan
