// One scan through the loaded library, shared by the commands that scan.
#pragma once

#include <functional>
#include <string>

#include "commands/cli_options.h"
#include "loader/scanner_library.h"
#include "report/item_record.h"
#include "report/output.h"
#include "views/view_plan.h"

namespace zvscan {

// Loads the library and creates a scanner. False, after saying why on stderr (and nothing on stdout),
// when either fails.
bool OpenScanner(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner);

enum class ScanEnd { Done, Failed, Interrupted };

// Decides the registry views to scan and starts the other view's helper (see PlanViews), saying on
// stderr why a view asked for is not scanned. False when none is left.
bool PlanScanViews(const Options& options, ViewPlan& plan);

// OpenScanner, then PlanScanViews: false when either fails.
bool OpenScanning(const Options& options, ScannerLibrary& library, ComRef<IZVAutorunScanner>& scanner,
                  ViewPlan& plan);

// Scans with the options' flags and hands every item to visit with its position in the scan: the
// library's item with its record, or for an item of the other view (from the helper) no item. With
// two views the items come row by row as both scans move past them, an entry both see alike once. The summary
// (everything but the shown counts) is filled in. Stops early when Ctrl-C is pressed.
ScanEnd Scan(const Options& options, const ScannerLibrary& library, IZVAutorunScanner* scanner, ViewPlan& plan,
             ScanSummary& summary, const std::function<void(ComRef<IZVAutorunItemEx>&&, ItemRecord&&)>& visit);

// The exit code of a scan that did not end as Done.
int ExitCode(ScanEnd end);

// Counts a shown item into the summary; items of one row come out one after another.
void CountShown(ScanSummary& summary, const ItemRecord& record, unsigned long& previousId);

// One line for a selection that kept nothing, naming what narrowed it.
std::string NoMatchText(const Options& options, unsigned long scanned);

}  // namespace zvscan
