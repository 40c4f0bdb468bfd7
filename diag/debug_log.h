// A leveled log to the debugger output. The level comes from "zv.local.ini" beside the host
// program (section "debug", key = this library's file name), read once when the library loads.
#pragma once

#include <windows.h>

#include <string>

namespace Tessel {

enum DebugLevel : DWORD {
    kLogAlways = 0,
    kLogCrit = 10,
    kLogError = 20,
    kLogWarn = 30,
    kLogInfo = 40,
    kLogDebug = 50,
    kLogTrace = 60,
};

DWORD CurrentDebugLevel();

// Reads the settings file, sets the level and announces it at kLogInfo; returns the level.
// Runs once among the library's static initialisers.
DWORD InitDebugLevel();

// The name a level is reported by: "always", "crit", ..., "default" for -1, else the number.
std::wstring DebugLevelName(DWORD level);

// printf-style; nothing is formatted unless level passes the debug level.
void LogDebug(DWORD level, const wchar_t* format, ...);

}  // namespace Tessel
