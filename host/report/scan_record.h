// The records that open and close a scan saved as JSON Lines: what was scanned where, with what and
// how, and how many items followed. Their one key is no item field, so no reader takes them for an
// item; a saved scan without its end record was cut short.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "report/json_line.h"

namespace zvscan {

constexpr unsigned kSavedScanSchema = 2;

struct ScanStart {
    std::string zvscanVersion;
    std::wstring libraryPath;
    std::string libraryArchitecture;
    DWORD flags = 0;      // ZV_SCAN_* bits
    JsonObject filters;   // the selection, one member per filter given
    bool evidence = false;
    bool signatures = false;
    std::vector<std::string> views;  // on 64-bit Windows: the registry views the scan covers
    std::wstring imageRoot;                // an offline scan's image; empty for this system
    std::wstring imageUser;                // the image's hive standing for HKEY_CURRENT_USER
    std::vector<std::wstring> imageNotes;  // missing, damaged and dirty hives, the user chosen
};

// {"scan_start":{...}}, with the facts of this program and machine (view, computer, Windows, user, time).
std::string ScanStartRecord(const ScanStart& start);
// {"scan_end":{"items":N,"seconds":S}}: N item records stand between the two; on 64-bit Windows
// also the views the scan covered in the end.
std::string ScanEndRecord(unsigned long items, double seconds, const std::vector<std::string>& views = {});

}  // namespace zvscan
