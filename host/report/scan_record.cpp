#include "report/scan_record.h"

#include <vector>

#include "win/machine.h"
#include "zvatrun.h"

namespace zvscan {
namespace {

std::vector<std::string> Quoted(const std::vector<std::string>& texts) {
    std::vector<std::string> quoted;
    for (const std::string& text : texts) quoted.push_back(JsonString(text));
    return quoted;
}

}  // namespace

std::string ScanStartRecord(const ScanStart& start) {
    std::vector<std::string> flags;
    if (start.flags & ZV_SCAN_SKIP_PROBE) flags.push_back(JsonString(std::string("skip_probe")));
    if (start.flags & ZV_SCAN_REPAIRABLE_ONLY) flags.push_back(JsonString(std::string("repairable_only")));
    if (start.flags & ZV_SCAN_UNREPAIRABLE_ONLY) flags.push_back(JsonString(std::string("unrepairable_only")));
    WindowsVersion windows = RunningWindowsVersion();
    JsonObject record;
    record.Number("schema", kSavedScanSchema)
        .Member(
            "zvscan",
            JsonObject().Text("version", start.zvscanVersion).Text("architecture", std::string(ProgramArchitecture())))
        .Member("library", JsonObject()
                               .Text("path", start.libraryPath)
                               .Text("architecture", start.libraryArchitecture)
                               .Text("file_version", FileVersion(start.libraryPath)))
        .Text("view", std::string(RegistryView()))
        .Text("computer", ComputerName())
        .Member("windows", JsonObject()
                               .Text("version", std::to_string(windows.major) + "." + std::to_string(windows.minor))
                               .Number("build", windows.build))
        .Text("user", UserName())
        .Text("started", UtcNow())
        .Array("flags", flags)
        .Member("filters", start.filters)
        .Bool("evidence", start.evidence)
        .Bool("signatures", start.signatures);
    if (!start.views.empty()) record.Array("views", Quoted(start.views));
    if (!start.imageRoot.empty()) {
        std::vector<std::string> notes;
        for (const std::wstring& note : start.imageNotes) notes.push_back(JsonString(note));
        record.Member("image", JsonObject()
                                   .Text("root", start.imageRoot)
                                   .Text("current_user", start.imageUser)
                                   .Array("notes", notes));
    }
    return JsonObject().Member("scan_start", record).Line();
}

std::string ScanEndRecord(unsigned long items, double seconds, const std::vector<std::string>& views) {
    JsonObject end;
    end.Number("items", items).Seconds("seconds", seconds);
    if (!views.empty()) end.Array("views", Quoted(views));
    return JsonObject().Member("scan_end", end).Line();
}

}  // namespace zvscan
