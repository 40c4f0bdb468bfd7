// Which registry views a scan covers, and the helper process that scans the other one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "commands/cli_options.h"
#include "report/item_record.h"
#include "views/view_process.h"

namespace zvscan {

struct ViewPlan {
    bool own = true;                     // this process scans the view it sees
    std::unique_ptr<ViewProcess> other;  // the helper scanning the other view, when there is one
    std::string otherView;               // the view the helper scans
    std::wstring otherBuild;             // the helper's program
    std::vector<std::string> views;      // the views the scan covers, in the order listed
};

// Decides the views from --view and starts the helper for the other one. `notice` says, for stderr,
// why a view asked for cannot be scanned; false when no view is left to scan.
bool PlanViews(const Options& options, ViewPlan& plan, std::string& notice);

// The other build's command line for the same scan of its own view alone.
std::wstring HelperArguments(const Options& options);

// An item of the WOW64 view names its files as that view resolved them: System32 is SysWOW64 there.
void UseWowFiles(ItemRecord& record);

}  // namespace zvscan
