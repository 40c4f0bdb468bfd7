// zvscan undo: the journal's entries, or one repair put back.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "repair/journal.h"
#include "views/other_build.h"
#include "views/view_process.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {

namespace {

void WriteWarnings(const JournalReading& reading) {
    for (const std::string& warning : reading.warnings) Write(stderr, "zvscan: warning: " + warning + "\n");
}

// An entry this machine's other build made in the view it sees: that build can undo it.
bool MadeInOtherView(const std::vector<JournalEntry>& entries, unsigned long number) {
    auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == number; });
    if (found == entries.end() || found->view.empty() || !SystemHasTwoViews()) return false;
    std::string computer = ComputerName();
    bool sameComputer =
        found->computer.empty() || computer.empty() || EqualsIgnoreCase(Wide(found->computer), Wide(computer));
    return sameComputer && found->view == OtherView() && found->completed && found->Undoable() && !found->undone;
}

}  // namespace

int RunUndo(const Options& options) {
    std::wstring path = options.journalPath.empty() ? DefaultJournalPath() : options.journalPath;
    if (options.undoEntry == 0 && !options.undoLast) {
        JournalReading reading = ReadJournalFile(path);
        if (!reading.exists) {
            Write(stderr, "zvscan: there is no journal " + Utf8(path) + "\n");
            return kExitFailure;
        }
        WriteWarnings(reading);
        if (reading.entries.empty()) {
            Write(stderr, "zvscan: the journal " + Utf8(path) + " holds no repairs\n");
            return kExitSuccess;
        }
        Write(stdout, JournalListing(reading.entries));
        Write(stderr, "zvscan: journal " + Utf8(path) + "\n");
        return kExitSuccess;
    }
    unsigned long entry = 0;
    {
        // Read once the journal is held: no repair can add an entry in between.
        JournalWriter journal(path, JournalOpen::Existing);
        WriteWarnings(journal.Reading());
        const std::vector<JournalEntry>& entries = journal.Reading().entries;
        entry = options.undoLast ? LastUndoable(entries) : options.undoEntry;
        if (entry == 0) {
            Write(stderr, "zvscan: nothing to undo in the journal " + Utf8(path) + "\n");
            return kExitFailure;
        }
        if (options.undoLast) {
            std::string note = LastUndoableNote(entries, entry);
            if (!note.empty()) Write(stderr, "zvscan: " + note + "\n");
        }
        if (!MadeInOtherView(entries, entry)) {
            UndoOutcome outcome = Undo(entries, entry, journal, options.undoForce);
            Write(outcome.restored ? stdout : stderr, (outcome.restored ? "" : "zvscan: ") + outcome.message + "\n");
            return outcome.restored ? kExitSuccess : kExitFailure;
        }
    }
    // A repair of the other view's entry is undone by the build that made it, once this process has
    // let go of the journal.
    std::string problem;
    std::wstring other = FindOtherBuild(options.otherBuild, false, problem);
    if (other.empty()) {
        Write(stderr, "zvscan: entry " + std::to_string(entry) + " was repaired in the " + OtherView() +
                          " view, and the build that undoes it cannot be run: " + problem + "\n");
        return kExitFailure;
    }
    std::wstring arguments = L"undo " + std::to_wstring(entry) + L" --journal \"" + path + L"\"" +
                             (options.undoForce ? L" --force" : L"");
    DWORD exitCode = 1;
    if (!RunProgram(other, arguments, exitCode, problem)) {
        Write(stderr, "zvscan: " + problem + "\n");
        return kExitFailure;
    }
    return static_cast<int>(exitCode);
}

}  // namespace zvscan
