// The journal of repairs, which makes them reversible: JSON Lines, one object a line, appended only.
//   {"type":"repair","entry":N,...}  written and flushed before the item's Repair runs: the zvscan
//                                    build, registry view and computer that made it, the item, the
//                                    file the request named and the state of everything the repair
//                                    can change ("before"), with each part's fingerprint;
//   {"type":"result","entry":N,...}  after Repair: its HRESULT in hex and in words, and the state
//                                    of each part as the repair left it ("after") with its fingerprint;
//   {"type":"undo","entry":N,...}    after an undo put the state back;
//   {"type":"torn","line":N,...}     line N before it was cut short by a write that did not finish.
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
    // Who made the repair: "x86-64", "native", the computer's name; empty in records written before
    // the journal held them.
    std::string architecture, view, computer;
    OrderedJson item;  // as the scan showed it
    std::string requestFile;
    std::vector<TargetState> before;
    std::vector<std::string> fingerprintsBefore;
    bool completed = false;
    std::string hresult;  // "0x00000000"
    std::string result;   // the HRESULT in words
    std::vector<std::string> fingerprintsAfter;
    std::vector<TargetState> after;  // empty when the state after the repair could not be read
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

struct JournalReading {
    bool exists = false;
    std::vector<JournalEntry> entries;  // in the order written
    // One line per line passed over: a last line cut short by a write that did not finish (what a
    // crash leaves), or such a line that a later writer marked.
    std::vector<std::string> warnings;
    size_t tornLine = 0;        // the last line, cut short and not marked yet; 0 for none
    bool unterminated = false;  // the last line is whole but lacks its line end
};
// Throws JournalError naming the line for any other line that cannot be read.
JournalReading ReadJournalFile(const std::wstring& path);
// Every entry, in the order written; none for a journal that does not exist yet.
std::vector<JournalEntry> ReadJournal(const std::wstring& path);

enum class JournalOpen { CreateIfMissing, Existing };
// How long a writer waits for another zvscan to let go of the journal.
constexpr DWORD kJournalWaitMilliseconds = 30000;

// Holds the journal open for appending for its whole life: no other writer can interleave lines.
class JournalWriter {
public:
    // Waits up to waitMilliseconds while another writer holds the journal, then reads it; creates it
    // and its folders when asked to. A journal whose last line was cut short gets that line ended and
    // marked, so the next record starts on a line of its own. Throws JournalError when it cannot.
    explicit JournalWriter(const std::wstring& path, JournalOpen open = JournalOpen::CreateIfMissing,
                           DWORD waitMilliseconds = kJournalWaitMilliseconds);

    // The journal as it was read once held.
    const JournalReading& Reading() const { return reading_; }
    // The number the next Begin gives.
    unsigned long NextEntry() const { return next_; }
    // Where the copies of the next entry's files go.
    std::wstring QuarantineFolder() const;
    void Begin(const OrderedJson& item, const std::wstring& requestFile, const std::vector<TargetState>& before);
    // afterStates: the state of each part as the repair left it; empty when it could not be read.
    void Complete(unsigned long entry, HRESULT hr, const std::string& result, const std::vector<std::string>& after,
                  const std::vector<TargetState>& afterStates = {});
    void Undone(unsigned long entry);

private:
    void Append(const OrderedJson& line);
    void AppendText(const std::string& text);

    std::wstring path_;
    FileHandle file_;
    JournalReading reading_;
    unsigned long next_ = 1;
};

std::string NowIsoUtc();

// One item repaired with its journal record around it. Repair is not called when the record cannot
// be written or zvscan cannot tell what the item's repair changes: then recorded is false and hr E_ABORT.
struct JournaledRepair {
    HRESULT hr = E_ABORT;
    bool recorded = false;
    unsigned long entry = 0;
    bool changed = false;  // the state after the repair differs from the state before
    std::string problem;   // why Repair was not called, or why the state after it could not be read
};
// The name a quarantined copy of the file is kept under: the file's own name made one that does not
// run ("zvdemo-agent.exe.quarantined"); the journal keeps the original path.
std::wstring QuarantineName(const std::wstring& path);
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
// What undo --last chose when later entries cannot be undone: which entry, made when, and why the
// later ones were passed over; empty when it is the last entry.
std::string LastUndoableNote(const std::vector<JournalEntry>& entries, unsigned long chosen);
// Puts back what the entry's repair changed, only when those parts (and the keys holding them) are as
// the repair left it, whatever else changed since; otherwise changes nothing and shows the
// difference. force puts them back over later changes, saying what it overwrites. An entry made by
// another registry view or on another computer is refused, naming the zvscan that can undo it.
UndoOutcome Undo(const std::vector<JournalEntry>& entries, unsigned long entry, JournalWriter& journal,
                 bool force = false);

}  // namespace zvscan
