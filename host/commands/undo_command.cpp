// zvscan undo: the journal's entries, or one repair put back.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/console.h"
#include "repair/journal.h"
#include "win/text.h"

namespace zvscan {

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

}  // namespace zvscan
