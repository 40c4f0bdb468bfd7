// Turns an autostart command line, or a comma-separated list of files, into the ordered list of
// existing files it starts, counting the work in the scan context's resolution counters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scanner/scan_context.h"

namespace Tessel {

using FileList = std::vector<std::wstring>;
using DirectoryList = std::vector<std::wstring>;

// The budget of one resolution (a command line, a file list or a candidate, with what its host
// rules add), so that a hostile text cannot stall a scan: the suffix and cut loops make work that
// grows with the square of a text's delimiters. Measured on realistic lines, the most file tests
// one needed was 872 (an unquoted path of fourteen delimiters to a missing program, with
// arguments), host rules nested 1 deep, and one line listed at most 4 files (with skip-probe). A
// resolution that would go past a limit stops where it is: the files listed so far stay, the
// counters show the work done, and the debug log names the text and its entry at its debug level.
constexpr ULONG kResolutionTestBudget = 7000;  // file tests: probes, or what skip-probe answers unprobed
constexpr ULONG kResolutionHostRuleDepth = 8;  // regsvr32 and runassvr resolve a command line again
constexpr ULONG kResolutionFileLimit = 64;

// 1 when at least one file was resolved from the text, else 0. extraDirs (may be null) are
// searched before the context's search directories. entry, the location of the item the text
// belongs to, names it in the debug log when its resolution is cut at its budget.
int ResolveCommandLine(CAutorunContext& context, std::wstring_view text, FileList& files,
                       const DirectoryList* extraDirs, std::wstring_view entry = {});
int ResolveCommandLineCore(CAutorunContext& context, std::wstring_view text, FileList& files,
                           const DirectoryList* extraDirs);
// For values that hold comma-separated file names; host rules do not apply to the elements.
int ResolveFileList(CAutorunContext& context, std::wstring_view text, FileList& files, std::wstring_view entry = {});
// Whether the text, or a prefix of it cut at delimiters, names an existing file (then listed).
bool ResolveCandidate(CAutorunContext& context, std::wstring_view text, FileList& files,
                      const DirectoryList* extraDirs);
// The argument rules of rundll32, regsvr32, cmd and runassvr; 0 when no rule applies.
int ResolveHostArguments(CAutorunContext& context, std::wstring_view arguments, std::wstring_view hostPath,
                         FileList& files, const DirectoryList* extraDirs);
bool SearchDirectories(CAutorunContext& context, std::wstring& candidate, const DirectoryList* extraDirs);
bool SearchExtensions(CAutorunContext& context, std::wstring& candidate);
// An existing file, or anything but a plain directory; always true with the skip-probe flag.
bool FileExists(CAutorunContext& context, const std::wstring& path);
// Appends the path (a shortcut as its target) unless the list holds it in any letter case.
void AddResolvedFile(FileList& files, std::wstring path);
// The raw target of a .lnk file through the shell link object; the target is empty on failure.
HRESULT GetShortcutTarget(const std::wstring& shortcutPath, std::wstring& target);
bool IsHostProgramName(std::wstring_view path);

}  // namespace Tessel
