#include "views/view_plan.h"

#include <windows.h>

#include "views/other_build.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {
namespace {

bool Wants(const Options& options, const std::string& view) {
    return options.view == ViewChoice::Both || (options.view == ViewChoice::Native) == (view == "native");
}

}  // namespace

bool PlanViews(const Options& options, ViewPlan& plan, std::string& notice) {
    // An image is read as it lies, without a view; a helper scans its own view alone.
    bool offline = !options.imageRoot.empty();
    if (!SystemHasTwoViews() || options.command == Command::ViewScan || offline) {
        plan.own = true;
        if (SystemHasTwoViews() && !offline) plan.views = {RegistryView()};
        return true;
    }
    std::string ownView = RegistryView(), otherView = OtherView();
    plan.own = Wants(options, ownView);
    if (plan.own) plan.views.push_back(ownView);
    if (!Wants(options, otherView)) return true;
    std::string problem;
    std::wstring program = FindOtherBuild(options.otherBuild, options.otherStandIn, problem);
    if (!program.empty()) {
        auto process = std::make_unique<ViewProcess>();
        if (process->Start(program, HelperArguments(options), problem)) {
            plan.other = std::move(process);
            plan.otherView = otherView;
            plan.otherBuild = program;
            plan.views.push_back(otherView);
            return true;
        }
    }
    notice = "the " + otherView + " view is not scanned: " + problem;
    return plan.own;
}

std::wstring HelperArguments(const Options& options) {
    std::wstring arguments = L"view-scan";
    if (options.scanFlags & ZV_SCAN_SKIP_PROBE) arguments += L" --skip-probe";
    if (options.scanFlags & ZV_SCAN_REPAIRABLE_ONLY) arguments += L" --repairable-only";
    if (options.scanFlags & ZV_SCAN_UNREPAIRABLE_ONLY) arguments += L" --unrepairable-only";
    if (options.evidence) arguments += L" --evidence";
    if (options.signatures) arguments += L" --signatures";
    return arguments;
}

void UseWowFiles(ItemRecord& record) {
    wchar_t system[MAX_PATH], wow[MAX_PATH];
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    UINT wowLength = GetSystemWow64DirectoryW(wow, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || wowLength == 0 || wowLength >= MAX_PATH) return;
    std::wstring from(system, systemLength), to(wow, wowLength);
    for (std::wstring& file : record.files)
        if (file.size() > from.size() && file[from.size()] == L'\\' &&
            EqualsIgnoreCase(file.substr(0, from.size()), from))
            file = to + file.substr(from.size());
}

}  // namespace zvscan
