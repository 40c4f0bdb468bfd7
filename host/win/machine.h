// Facts of the running program and the machine it runs on, for the records that say where a scan or
// a repair was made.
#pragma once

#include <string>

namespace zvscan {

// The architecture zvscan was built for: "x86" or "x86-64".
const char* ProgramArchitecture();

// The registry view this process sees: "wow64" for a 32-bit process on 64-bit Windows (its HKLM\SOFTWARE
// and classes redirected to Wow6432Node), "native" otherwise.
const char* RegistryView();
// True on 64-bit Windows, whose registry and system folder a 32-bit process sees through the WOW64
// view: there each view holds entries the other cannot see.
bool SystemHasTwoViews();

// The computer's NetBIOS name and the user the process runs as, in UTF-8; empty when unknown.
std::string ComputerName();
std::string UserName();

struct WindowsVersion {
    unsigned long major = 0, minor = 0, build = 0;
};
// The version Windows reports of itself, not the one a compatibility setting shows the program.
WindowsVersion RunningWindowsVersion();

// The file version of a module's version resource ("1.2.3.4"); empty when it has none.
std::string FileVersion(const std::wstring& path);

// Now in UTC as ISO 8601 with seconds ("2026-12-09T15:55:21Z").
std::string UtcNow();

}  // namespace zvscan
