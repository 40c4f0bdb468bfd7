// One scan through the loaded library, shared by the commands that scan.
#pragma once

#include <functional>
#include <string>

#include "commands/cli_options.h"
#include "loader/scanner_library.h"
#include "report/item_record.h"
#include "report/output.h"

namespace zvscan {

// Loads the library and creates a scanner. False, after saying why on stderr (and nothing on stdout),
// when either fails.
bool OpenScanner(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner);

enum class ScanEnd { Done, Failed, Interrupted };

// Scans with the options' flags and hands every item to visit with its position in the scan. The
// summary (everything but the shown counts) is filled in. Stops early when Ctrl-C is pressed.
ScanEnd Scan(const Options& options, const ScannerLibrary& library, IZVAutorunScanner* scanner, ScanSummary& summary,
             const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit);

// The exit code of a scan that did not end as Done.
int ExitCode(ScanEnd end);

// Counts a shown item into the summary; items of one row come out one after another.
void CountShown(ScanSummary& summary, const ItemRecord& record, unsigned long& previousId);

// One line for a selection that kept nothing, naming what narrowed it.
std::string NoMatchText(const Options& options, unsigned long scanned);

}  // namespace zvscan
