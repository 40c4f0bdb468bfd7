// zvscan's command line: what to scan, which items to show or repair, and how to print them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "report/item_record.h"
#include "report/output.h"

namespace zvscan {

constexpr char kVersion[] = "1.1.0";

// Exit codes, as --help documents them.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the library could not be loaded, the scan failed, or a repair did not happen
constexpr int kExitUsage = 2;
constexpr int kExitDifferences = 3;    // diff: the two scans differ
constexpr int kExitInterrupted = 130;  // Ctrl-C or Ctrl-Break

// Every filter given must hold; within one filter, any of its values may.
struct Selection {
    std::vector<unsigned long> categories;
    std::vector<unsigned long> ids;
    std::vector<std::wstring> locations;  // whole location texts, compared without regard to case
    std::vector<unsigned long> indexes;   // positions in the scan, from 1
    std::vector<std::string> keys;        // item keys, in lower case
    bool unsignedOnly = false;            // items with a file whose signature is not trusted (needs signatures)

    bool Matches(const ItemRecord& record) const;
    // A repair needs a key, or an identifier together with a location; a position only together with
    // the key or location the listing showed there.
    bool PinsItems() const {
        return indexes.empty() ? !keys.empty() || (!ids.empty() && !locations.empty())
                               : !keys.empty() || !locations.empty();
    }
    // The filters as they were given ("--category registry --location \"X \""); empty without any.
    std::string Describe() const;
};

enum class Command { Scan, Repair, Version, Diff, Undo, ViewScan };

// The registry views of 64-bit Windows a scan covers.
enum class ViewChoice { Both, Native, Wow64 };

struct Options {
    Command command = Command::Scan;
    std::wstring dllPath;     // empty: zvatrun.dll (zvoffline.dll with an image) beside zvscan.exe
    std::wstring imageRoot;   // --image: the folder holding the volume of a system that is not running
    std::wstring imageUser;   // --user: the image's profile for HKEY_CURRENT_USER (a name or a SID)
    std::wstring outputPath;  // scan, diff: the file the output goes to; empty for stdout
    ViewChoice view = ViewChoice::Both;
    std::wstring otherBuild;  // the other architecture's zvscan.exe; empty to look beside this one
    bool otherStandIn = false;  // otherBuild is of this architecture, standing in to time the two-view scan
    DWORD scanFlags = 0;   // ZV_SCAN_* bits
    OutputFormat format = OutputFormat::Table;
    CsvCells csvCells = CsvCells::SpreadsheetSafe;
    bool counters = false;
    Selection selection;
    bool yes = false;
    bool dryRun = false;
    std::optional<std::wstring> requestFile;  // repair: the file the request names instead of the item's first
    bool evidence = false;                    // every file's existence, size, last-write time and SHA-256
    bool signatures = false;                  // who signed every file
    std::wstring journalPath;                 // repair, undo: empty for the default journal
    std::wstring baseline, current;           // diff: saved scans; no current for a fresh scan
    unsigned long undoEntry = 0;              // undo: the entry to restore; 0 lists the journal
    bool undoLast = false;                    // undo: the most recent entry that can be undone
    bool undoForce = false;                   // undo: over changes made since the repair
};

struct ParseOutcome {
    bool run = false;  // false: exit with exitCode after printing text
    int exitCode = kExitSuccess;
    std::string text;  // the help (for stdout) or the usage error (for stderr)
};

// args: the arguments after the program name, in UTF-8.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, Options& options);

// What narrows the items: the scan flags and the filters, as options; empty for none.
std::string DescribeNarrowing(const Options& options);

}  // namespace zvscan
