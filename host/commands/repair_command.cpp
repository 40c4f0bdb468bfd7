// zvscan repair: the selected items, a dry run or a confirmation, then each repair with its journal entry.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "commands/scan_session.h"
#include "repair/journal.h"
#include "repair/repair_effect.h"
#include "repair/repair_report.h"
#include "views/view_process.h"
#include "win/text.h"

namespace zvscan {
namespace {

enum class Answer { Yes, No, Interrupted };

Answer Confirm(size_t count) {
    Write(stderr, "Repair " + std::to_string(count) + (count == 1 ? " item" : " items") + "? [y/N] ");
    char answer[16] = {};
    if (!std::fgets(answer, sizeof(answer), stdin)) return InterruptedWhileReading() ? Answer::Interrupted : Answer::No;
    if (Interrupted()) return Answer::Interrupted;
    std::string text = answer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text == "y" || text == "Y" || text == "yes" || text == "YES" || text == "Yes" ? Answer::Yes : Answer::No;
}

}  // namespace

int RunRepair(const Options& options) {
    ScannerLibrary library;
    ComRef<IZVAutorunScanner> scanner;
    ViewPlan plan;
    if (!OpenScanning(options, library, scanner, plan)) return kExitFailure;
    ScanSummary summary;
    unsigned long previousId = 0;
    std::vector<std::pair<ComRef<IZVAutorunItemEx>, ItemRecord>> selected;
    ScanEnd end =
        Scan(options, library, scanner.Get(), plan, summary, [&](ComRef<IZVAutorunItemEx>&& item, ItemRecord&& record) {
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
        std::string effect = verdict == RepairVerdict::WouldRepair ? DescribeRepairEffect(record, file) : std::string();
        if (options.dryRun || verdict != RepairVerdict::WouldRepair)
            Write(stdout, TableIndent() + (options.dryRun ? "dry run: " : "expected: ") +
                              DescribeVerdict(verdict, file) + (effect.empty() ? "" : ": " + effect) + "\n");
        else if (!effect.empty())
            Write(stdout, TableIndent() + "the repair " + effect + "\n");
        // An entry of the other view is repaired by the library that found it, in the other build.
        if (!item)
            Write(stdout, TableIndent() + "repaired in the " + plan.otherView + " view, through " +
                              Utf8(plan.otherBuild) + "\n");
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
    int result = kExitSuccess;
    size_t done = 0;
    {
        JournalWriter journal(journalPath);
        for (const std::string& warning : journal.Reading().warnings)
            Write(stderr, "zvscan: warning: " + warning + "\n");
        for (const auto& [item, record] : selected) {
            if (!item) continue;
            if (Interrupted()) {
                Write(stderr, "zvscan: interrupted; " + std::to_string(selected.size() - done) + " of " +
                                  std::to_string(selected.size()) + " items not repaired\n");
                return kExitInterrupted;
            }
            std::wstring file = requestFile(record);
            JournaledRepair repair = RepairWithJournal(journal, item.Get(), record, file);
            ++done;
            if (repair.hr != S_OK) result = kExitFailure;
            std::string line = "#" + std::to_string(record.index) + " " + ItemKey(record) + " " + Hex32(record.id) +
                               " " + Utf8(record.location) + ": ";
            if (!repair.recorded) {
                Write(stdout, line + "not repaired: " + repair.problem + "\n");
                continue;
            }
            // A repair can answer S_OK and leave everything as it was (a value that held the default already).
            std::string unchanged = repair.hr == S_OK && !repair.changed && repair.problem.empty()
                                        ? "; nothing changed: the state after the repair is the state before it"
                                        : "";
            Write(stdout, line + DescribeRepairResult(repair.hr, record.kind, file) + unchanged + " (journal entry " +
                              std::to_string(repair.entry) + ")\n");
            if (!repair.problem.empty()) Write(stderr, "zvscan: " + repair.problem + "\n");
        }
    }
    // The other view's entries, once this process has let go of the journal the other build writes too.
    for (const auto& [item, record] : selected) {
        if (item) continue;
        if (Interrupted()) return kExitInterrupted;
        std::wstring arguments = L"repair --yes --view " + Wide(plan.otherView) + L" --key " +
                                 Wide(ItemKey(record)) + L" --journal \"" + journalPath + L"\"";
        if (options.requestFile) arguments += L" --file \"" + *options.requestFile + L"\"";
        DWORD exitCode = 1;
        std::string problem;
        ++done;
        if (!RunProgram(plan.otherBuild, arguments, exitCode, problem)) {
            Write(stdout,
                  "#" + std::to_string(record.index) + " " + ItemKey(record) + ": not repaired: " + problem + "\n");
            result = kExitFailure;
        } else if (exitCode != 0) {
            result = exitCode == static_cast<DWORD>(kExitInterrupted) ? kExitInterrupted : kExitFailure;
        }
    }
    Write(stderr, "zvscan: journal " + Utf8(journalPath) + "\n");
    return result;
}

}  // namespace zvscan
