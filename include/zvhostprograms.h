// The system's host programs: programs that run code named on their command line. Repair refuses a
// request that names one of them in its system folder; a host predicts that refusal from this list.
#pragma once

namespace Tessel {

struct KnownHostProgram {
    const wchar_t* directory;  // "\SystemRoot\..." names a folder of the Windows directory
    const wchar_t* fileName;
};

// Ends with a row of nulls.
inline constexpr KnownHostProgram kKnownHostPrograms[] = {
    {L"\\SystemRoot\\System32", L"cmd.exe"},      {L"\\SystemRoot\\System32", L"dllhost.exe"},
    {L"\\SystemRoot\\System32", L"svchost.exe"},  {L"\\SystemRoot\\System32", L"regsvr32.exe"},
    {L"\\SystemRoot\\System32", L"rundll32.exe"}, {nullptr, nullptr},
};

}  // namespace Tessel
