// The journal of repairs, which makes them reversible: JSON Lines, one object a line, appended only.
//   {"type":"repair","entry":N,...}  written and flushed before the item's Repair runs: the item, the
//                                    file the request named and the state of everything the repair
//                                    can change ("before"), with each part's fingerprint;
//   {"type":"result","entry":N,...}  after Repair: its HRESULT in hex and in words, and the
//                                    fingerprint of each part as the repair left it;
//   {"type":"undo","entry":N,...}    after an undo put the state back.
// Copies of files a repair may delete lie in a quarantine folder beside the journal.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "repair/repair_state.h"
#include "win/handles.h"

namespace zvscan {

struct JournalEntry {
    unsigned long entry = 0;
    std::string time;  // UTC, ISO 8601
    OrderedJson item;  // as the scan showed it
    std::string requestFile;
    std::vector<TargetState> before;
    std::vector<std::string> fingerprintsBefore;
    bool completed = false;
    std::string hresult;  // "0x00000000"
    std::string result;   // the HRESULT in words
    std::vector<std::string> fingerprintsAfter;
    bool undone = false;
    std::string undoneTime;

    // The repair left a state other than the one before it, which undo can put back.
    bool Undoable() const { return completed && !undone && fingerprintsAfter != fingerprintsBefore; }
};

// A line of the journal that cannot be read; what() names the journal and the line.
class JournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// %LOCALAPPDATA%\zvscan\journal.jsonl
std::wstring DefaultJournalPath();
// Every entry, in the order written; none for a journal that does not exist yet.
std::vector<JournalEntry> ReadJournal(const std::wstring& path);

// Holds the journal open for appending for its whole life: no other writer can interleave lines.
class JournalWriter {
public:
    // Creates the journal and its folders as needed; throws JournalError when it cannot.
    explicit JournalWriter(const std::wstring& path);

    // The number the next Begin gives.
    unsigned long NextEntry() const { return next_; }
    // Where the copies of the next entry's files go.
    std::wstring QuarantineFolder() const;
    void Begin(const OrderedJson& item, const std::wstring& requestFile, const std::vector<TargetState>& before);
    void Complete(unsigned long entry, HRESULT hr, const std::string& result, const std::vector<std::string>& after);
    void Undone(unsigned long entry);

private:
    void Append(const OrderedJson& line);

    std::wstring path_;
    FileHandle file_;
    unsigned long next_ = 1;
};

std::string NowIsoUtc();

// One item repaired with its journal record around it. Repair is not called when the record cannot
// be written or zvscan cannot tell what the item's repair changes: then recorded is false and hr E_ABORT.
struct JournaledRepair {
    HRESULT hr = E_ABORT;
    bool recorded = false;
    unsigned long entry = 0;
    std::string problem;  // why Repair was not called, or why the state after it could not be read
};
JournaledRepair RepairWithJournal(JournalWriter& journal, IZVAutorunItemEx* item, const ItemRecord& record,
                                  const std::wstring& requestFile);


// The journal as a table: entry, time, what undo can do with it, the item, the repair's result.
std::string JournalListing(const std::vector<JournalEntry>& entries);

struct UndoOutcome {
    bool restored = false;
    std::string message;
};
// The most recent entry that can be undone, or 0.
unsigned long LastUndoable(const std::vector<JournalEntry>& entries);
// Puts back the state before the entry's repair, only when the current state is the one the repair
// left; otherwise changes nothing and says why.
UndoOutcome Undo(const std::vector<JournalEntry>& entries, unsigned long entry, JournalWriter& journal);

}  // namespace zvscan
