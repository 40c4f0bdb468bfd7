// zvscan undo: the journal's entries, or one repair put back.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "repair/journal.h"
#include "win/text.h"

namespace zvscan {

namespace {

void WriteWarnings(const JournalReading& reading) {
    for (const std::string& warning : reading.warnings) Write(stderr, "zvscan: warning: " + warning + "\n");
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
    // Read once the journal is held: no repair can add an entry in between.
    JournalWriter journal(path, JournalOpen::Existing);
    WriteWarnings(journal.Reading());
    const std::vector<JournalEntry>& entries = journal.Reading().entries;
    unsigned long entry = options.undoLast ? LastUndoable(entries) : options.undoEntry;
    if (entry == 0) {
        Write(stderr, "zvscan: nothing to undo in the journal " + Utf8(path) + "\n");
        return kExitFailure;
    }
    if (options.undoLast) {
        std::string note = LastUndoableNote(entries, entry);
        if (!note.empty()) Write(stderr, "zvscan: " + note + "\n");
    }
    UndoOutcome outcome = Undo(entries, entry, journal, options.undoForce);
    Write(outcome.restored ? stdout : stderr, (outcome.restored ? "" : "zvscan: ") + outcome.message + "\n");
    return outcome.restored ? kExitSuccess : kExitFailure;
}

}  // namespace zvscan
