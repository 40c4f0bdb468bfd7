// zvscan scan and zvscan --version.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "commands/scan_session.h"
#include "report/scan_record.h"
#include "win/text.h"

namespace zvscan {
namespace {

// The filters as the start record gives them: one list per filter given.
JsonObject FiltersJson(const Selection& selection) {
    JsonObject filters;
    auto list = [&](const char* name, const auto& values, auto json) {
        if (values.empty()) return;
        std::vector<std::string> texts;
        for (const auto& value : values) texts.push_back(json(value));
        filters.Array(name, texts);
    };
    auto hex = [](unsigned long value) { return JsonString(Hex32(value)); };
    list("categories", selection.categories, hex);
    list("ids", selection.ids, hex);
    list("locations", selection.locations, [](const std::wstring& text) { return JsonString(text); });
    list("indexes", selection.indexes, [](unsigned long index) { return std::to_string(index); });
    list("keys", selection.keys, [](const std::string& key) { return JsonString(key); });
    if (selection.unsignedOnly) filters.Bool("unsigned", true);
    return filters;
}

}  // namespace

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
    ViewPlan plan;
    if (!OpenScanning(options, library, scanner, plan)) return kExitFailure;
    ScanSummary summary;
    unsigned long previousId = 0;
    bool json = options.format == OutputFormat::Json;
    // The other build scanning its view for this one says nothing but its records.
    bool helper = options.command == Command::ViewScan;
    if (json) {
        ScanStart start{kVersion,
                        library.Path(),
                        library.Architecture(),
                        options.scanFlags,
                        FiltersJson(options.selection),
                        options.evidence,
                        options.signatures,
                        plan.views,
                        options.imageRoot,
                        library.ImageUser(),
                        library.ImageNotes()};
        Write(stdout, ScanStartRecord(start));
    }
    Write(stdout, Header(options.format, options.evidence, options.signatures));
    size_t width = OutputWidth();
    ScanEnd end =
        Scan(options, library, scanner.Get(), plan, summary, [&](ComRef<IZVAutorunItemEx>&&, ItemRecord&& record) {
            if (!options.selection.Matches(record)) return;
            CountShown(summary, record, previousId);
            Write(stdout, Item(options.format, record, options.csvCells, width));
        });
    if (end != ScanEnd::Done) return ExitCode(end);
    // Counters after the records would make the CSV two tables in one file.
    if (options.counters)
        Write(options.format == OutputFormat::Csv ? stderr : stdout, CountersText(options.format, summary.counters));
    if (json) Write(stdout, ScanEndRecord(summary.shown, summary.seconds, plan.views));
    if (helper) return kExitSuccess;
    Write(stderr, SummaryText(summary));
    if (summary.shown == 0) Write(stderr, NoMatchText(options, summary.scanned));
    return kExitSuccess;
}

}  // namespace zvscan
