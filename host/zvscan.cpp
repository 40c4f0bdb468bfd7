// zvscan: scans through zvatrun.dll exactly as a host application does, prints every item, and
// repairs the items a selection names.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli_options.h"
#include "diff.h"
#include "journal.h"
#include "progress.h"
#include "repair_report.h"
#include "scanner_library.h"
#include "text.h"

using namespace zvscan;

namespace {

// The progress line of the scan under way, erased before anything else is written.
Progress* shownProgress = nullptr;

// What goes to stderr comes after what stdout holds so far: a terminal shows both in order.
void Write(std::FILE* stream, const std::string& text) {
    if (shownProgress) shownProgress->End();
    if (stream == stderr) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stream);
    if (stream == stderr) std::fflush(stderr);
}

// Set by Ctrl-C or Ctrl-Break; the scan and the repairs stop at the next item.
std::atomic<bool> interrupted{false};
HANDLE interruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = true;
    if (interruptEvent) SetEvent(interruptEvent);
    return TRUE;
}

// Loads the library and creates a scanner. False, after saying why on stderr (and nothing on stdout),
// when either fails.
bool OpenScanner(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner) {
    std::wstring path = options.dllPath.empty() ? ScannerLibrary::DefaultPath() : options.dllPath;
    if (!library.Load(path)) {
        Write(stderr, "zvscan: " + library.Error() + "\n");
        return false;
    }
    HRESULT hr = library.CreateScanner(scanner);
    if (FAILED(hr)) {
        Write(stderr, "zvscan: cannot create the scanner (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
        return false;
    }
    return true;
}

enum class ScanEnd { Done, Failed, Interrupted };

// Scans with the options' flags and hands every item to visit with its position in the scan. The
// summary (everything but the shown counts) is filled in. Stops early when Ctrl-C is pressed.
ScanEnd Scan(const Options& options, const ScannerLibrary& library, IZVAutorunScanner* scanner, ScanSummary& summary,
             const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit) {
    summary.library = Utf8(library.Path()) + " (" + library.Architecture() + ")";
    auto start = std::chrono::steady_clock::now();
    ZV_SCAN_SETTINGS settings{sizeof(settings), options.scanFlags, {}};
    HRESULT hr = scanner->StartScan(&settings);
    if (FAILED(hr)) {
        Write(stderr, "zvscan: the scan failed to start (" + Hex32(static_cast<unsigned long>(hr)) + ")\n");
        return ScanEnd::Failed;
    }
    ComRef<IZVAutorunItemEx> item;
    ItemReader reader;
    EvidenceCache evidence;
    Progress progress(Progress::StderrIsTerminal(), [](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    });
    unsigned long rows = 0, previousId = 0;
    while (!interrupted && scanner->NextItem(item.Put())) {
        ItemRecord record = reader.Read(item.Get());
        summary.scanned = record.index;
        if (rows == 0 || record.id != previousId) ++rows;
        previousId = record.id;
        if (options.evidence) record.evidence = evidence.Of(record.files);
        std::string row = Hex32(record.id) + " " + Utf8(record.location);
        visit(std::move(item), std::move(record));
        shownProgress = &progress;
        progress.Update(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                        summary.scanned, rows, row);
    }
    shownProgress = nullptr;
    progress.End();
    if (interrupted) {
        Write(stderr, "zvscan: interrupted; the scan stopped after " + std::to_string(summary.scanned) + " items\n");
        return ScanEnd::Interrupted;
    }
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ComRef<IZVAutorunPerformView> view;
    if (SUCCEEDED(scanner->QueryInterface(IID_IZVAutorunPerformView, reinterpret_cast<void**>(view.Put())))) {
        for (ULONG kind = ZV_COUNT_FILE_PROBES; kind <= ZV_COUNT_EXTENSION_SEARCHES; ++kind)
            summary.counters[kind - 1] = view->GetCount(kind);
    }
    return ScanEnd::Done;
}

int ExitCode(ScanEnd end) { return end == ScanEnd::Interrupted ? kExitInterrupted : kExitFailure; }

// Counts a shown item into the summary; items of one row come out one after another.
void CountShown(ScanSummary& summary, const ItemRecord& record, unsigned long& previousId) {
    if (summary.shown == 0 || record.id != previousId) ++summary.rows;
    previousId = record.id;
    ++summary.shown;
    if (record.repairable) ++summary.repairable;
}

// One line for a selection that kept nothing, naming what narrowed it.
std::string NoMatchText(const Options& options, unsigned long scanned) {
    std::string narrowing = DescribeNarrowing(options);
    if (narrowing.empty()) return "zvscan: the scan found no item\n";
    std::string text = "zvscan: no item of the " + std::to_string(scanned) + " scanned matched " + narrowing;
    if (!options.selection.indexes.empty())
        text += " (positions shift as entries come and go: list again, or select by --key)";
    return text + "\n";
}

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

// Ctrl-C at the prompt ends the read: whether it was Ctrl-C or the end of the input is known once
// the handler, which runs on a thread of its own, has had a moment to set the flag.
bool InterruptedWhileReading() {
    if (interruptEvent && !interrupted) WaitForSingleObject(interruptEvent, 200);
    return interrupted;
}

enum class Answer { Yes, No, Interrupted };

Answer Confirm(size_t count) {
    Write(stderr, "Repair " + std::to_string(count) + (count == 1 ? " item" : " items") + "? [y/N] ");
    char answer[16] = {};
    if (!std::fgets(answer, sizeof(answer), stdin)) return InterruptedWhileReading() ? Answer::Interrupted : Answer::No;
    if (interrupted) return Answer::Interrupted;
    std::string text = answer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text == "y" || text == "Y" || text == "yes" || text == "YES" || text == "Yes" ? Answer::Yes : Answer::No;
}

int RunRepair(const Options& options) {
    ScannerLibrary library;
    ComRef<IZVAutorunScanner> scanner;
    if (!OpenScanner(options, library, scanner)) return kExitFailure;
    ScanSummary summary;
    unsigned long previousId = 0;
    std::vector<std::pair<ComRef<IZVAutorunItemEx>, ItemRecord>> selected;
    ScanEnd end = Scan(options, library, scanner.Get(), summary, [&](ComRef<IZVAutorunItemEx>&& item, ItemRecord&& record) {
        if (!options.selection.Matches(record)) return;
        CountShown(summary, record, previousId);
        selected.emplace_back(std::move(item), std::move(record));
    });
    if (end != ScanEnd::Done) return ExitCode(end);
    Write(stderr, SummaryText(summary));
    if (selected.empty()) {
        Write(stderr, NoMatchText(options, summary.scanned));
        Write(stderr, "zvscan: nothing repaired\n");
        return kExitFailure;
    }

    auto requestFile = [&](const ItemRecord& record) {
        if (options.requestFile) return *options.requestFile;
        return record.files.empty() ? std::wstring() : record.files.front();
    };
    Write(stdout, options.dryRun ? "Dry run: what Repair would answer, as far as can be known beforehand:\n"
                                 : "Selected for repair:\n");
    Write(stdout, TableHeader());
    int predicted = kExitSuccess;
    for (const auto& [item, record] : selected) {
        Write(stdout, TableItem(record));
        std::wstring file = requestFile(record);
        Write(stdout, TableIndent() + "request names: " + (file.empty() ? "no file" : Utf8(file)) + "\n");
        RepairVerdict verdict = PredictRepair(record, file);
        if (verdict != RepairVerdict::WouldRepair) predicted = kExitFailure;
        if (options.dryRun || verdict != RepairVerdict::WouldRepair)
            Write(stdout, TableIndent() + (options.dryRun ? "dry run: " : "expected: ") + DescribeVerdict(verdict, file) +
                              "\n");
    }
    if (options.dryRun) {
        Write(stdout, "Dry run: nothing was changed.\n");
        return predicted;
    }
    if (!options.yes) {
        Answer answer = Confirm(selected.size());
        if (answer == Answer::Interrupted) {
            Write(stderr, "\nzvscan: interrupted; nothing repaired\n");
            return kExitInterrupted;
        }
        if (answer == Answer::No) {
            Write(stderr, "zvscan: nothing repaired\n");
            return kExitFailure;
        }
    }

    std::wstring journalPath = options.journalPath.empty() ? DefaultJournalPath() : options.journalPath;
    JournalWriter journal(journalPath);
    int result = kExitSuccess;
    size_t done = 0;
    for (const auto& [item, record] : selected) {
        if (interrupted) {
            Write(stderr, "zvscan: interrupted; " + std::to_string(selected.size() - done) + " of " +
                              std::to_string(selected.size()) + " items not repaired\n");
            return kExitInterrupted;
        }
        std::wstring file = requestFile(record);
        JournaledRepair repair = RepairWithJournal(journal, item.Get(), record, file);
        ++done;
        if (repair.hr != S_OK) result = kExitFailure;
        std::string line = "#" + std::to_string(record.index) + " " + ItemKey(record) + " " + Hex32(record.id) + " " +
                           Utf8(record.location) + ": ";
        if (!repair.recorded) {
            Write(stdout, line + "not repaired: " + repair.problem + "\n");
            continue;
        }
        Write(stdout, line + DescribeRepairResult(repair.hr, record.kind, file) + " (journal entry " +
                          std::to_string(repair.entry) + ")\n");
        if (!repair.problem.empty()) Write(stderr, "zvscan: " + repair.problem + "\n");
    }
    Write(stderr, "zvscan: journal " + Utf8(journalPath) + "\n");
    return result;
}

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

int RunUndo(const Options& options) {
    std::wstring path = options.journalPath.empty() ? DefaultJournalPath() : options.journalPath;
    if (options.undoEntry == 0 && !options.undoLast) {
        std::vector<JournalEntry> entries = ReadJournal(path);
        if (entries.empty()) {
            Write(stderr, "zvscan: the journal " + Utf8(path) + " holds no repairs\n");
            return kExitSuccess;
        }
        Write(stdout, JournalListing(entries));
        Write(stderr, "zvscan: journal " + Utf8(path) + "\n");
        return kExitSuccess;
    }
    // Read once the journal is held: no repair can add an entry in between.
    JournalWriter journal(path);
    std::vector<JournalEntry> entries = ReadJournal(path);
    unsigned long entry = options.undoLast ? LastUndoable(entries) : options.undoEntry;
    if (entry == 0) {
        Write(stderr, "zvscan: nothing to undo in the journal " + Utf8(path) + "\n");
        return kExitFailure;
    }
    UndoOutcome outcome = Undo(entries, entry, journal);
    Write(outcome.restored ? stdout : stderr, (outcome.restored ? "" : "zvscan: ") + outcome.message + "\n");
    return outcome.restored ? kExitSuccess : kExitFailure;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // UTF-8 bytes exactly as written: no newline translation, and a console told to expect UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
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

    interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // The host initialises COM on its thread: shortcut targets and scheduled tasks are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = kExitFailure;
    try {
        switch (options.command) {
            case Command::Repair:
                result = RunRepair(options);
                break;
            case Command::Version:
                result = RunVersion(options);
                break;
            case Command::Scan:
                result = RunScan(options);
                break;
            case Command::Diff:
                result = RunDiff(options);
                break;
            case Command::Undo:
                result = RunUndo(options);
                break;
        }
    } catch (const std::exception& error) {
        Write(stderr, std::string("zvscan: ") + error.what() + "\n");
        result = kExitFailure;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
