#include "paths/command_line.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "diag/debug_log.h"
#include "paths/path_primitives.h"
#include "platform/handles.h"

namespace Tessel {

namespace {

// Both cut candidates from the right and step through command lines from the left.
const wchar_t kDelimiters[] = L" ;,\"@";

const wchar_t* const kHostProgramNames[] = {L"rundll32.exe", L"rundll32", L"regsvr32.exe", L"regsvr32",
                                            L"cmd.exe",      L"cmd",      L"runassvr.exe", L"runassvr"};

// SLR_NO_UI | SLR_NOUPDATE | SLR_NOSEARCH | SLR_NOTRACK, with a zero time-out word.
constexpr DWORD kResolveFlags = 0x39;
constexpr int kShortcutTargetCapacity = 0x8000;
// Enough of a cut text to recognise its entry by.
constexpr int kLoggedTextChars = 260;

const std::wstring& FirstFile(const FileList& files) {
    static const std::wstring kNone;
    return files.empty() ? kNone : files.front();
}

// How much of a text the log shows.
int LoggedLength(std::wstring_view text) { return static_cast<int>(std::min<size_t>(text.size(), kLoggedTextChars)); }

// One resolution of a text, with the host rules it runs, under its budget: every file test, the
// nesting of host rules and the files listed are counted, and the first step past a limit cuts the
// resolution. What was listed before stays; nothing more is tested, searched or counted.
// The texts it steps through are views into the text it was given; what it tests is built in the
// context's buffers.
class Resolution {
public:
    Resolution(CAutorunContext& context, std::wstring_view text, std::wstring_view entry, FileList& files,
               const DirectoryList* extraDirs)
        : context_(context), buffers_(context.Buffers()), text_(text), entry_(entry), files_(files),
          extraDirs_(extraDirs) {}

    int CommandLine(std::wstring_view text);
    int CommandLineCore(std::wstring_view text);
    int CommaList(std::wstring_view text);
    bool Candidate(std::wstring_view text);
    int HostArguments(std::wstring_view arguments, std::wstring_view hostPath);
    bool SearchDirectories(std::wstring& candidate);
    bool SearchExtensions(std::wstring& candidate);
    bool FileExists(const std::wstring& path);

private:
    const std::wstring* FindFile(const std::wstring& candidate);
    int RunDll32Rule(std::wstring_view arguments);
    int RegSvr32Rule(std::wstring_view arguments);
    int CmdRule(std::wstring_view arguments);
    int HostRule(std::wstring_view host, std::wstring_view arguments);
    void AddFile(const std::wstring& path);
    void Cut();

    CAutorunContext& context_;
    ResolutionBuffers& buffers_;
    std::wstring_view text_;
    std::wstring_view entry_;
    FileList& files_;
    const DirectoryList* extraDirs_;
    ULONG tests_ = 0;
    ULONG hostRuleDepth_ = 0;
    ULONG filesListed_ = 0;
    bool cut_ = false;
};

void Resolution::Cut() {
    if (cut_) return;
    cut_ = true;
    LogDebug(kLogDebug,
             L"[zavel] resolution cut at its budget (%lu file tests, %lu files listed, host rules %lu deep)%s%.*s: "
             L"%.*s\r\n",
             tests_, filesListed_, hostRuleDepth_, entry_.empty() ? L"" : L" for ", LoggedLength(entry_),
             entry_.data(), LoggedLength(text_), text_.data());
}

bool Resolution::FileExists(const std::wstring& path) {
    if (cut_) return false;
    if (tests_ == kResolutionTestBudget) {
        Cut();
        return false;
    }
    ++tests_;
    return Tessel::FileExists(context_, path);
}

void Resolution::AddFile(const std::wstring& path) {
    if (filesListed_ == kResolutionFileLimit) return Cut();
    ++filesListed_;
    AddResolvedFile(files_, path);
}

int Resolution::RunDll32Rule(std::wstring_view arguments) {
    arguments = WithoutWhiteSpace(arguments);
    for (size_t comma = arguments.find(L','); comma != std::wstring_view::npos && !cut_;
         comma = arguments.find(L',', comma + 1)) {
        if (Candidate(WithoutWhiteSpaceAndQuotes(arguments.substr(0, comma)))) return 1;
    }
    return 0;
}

int Resolution::RegSvr32Rule(std::wstring_view arguments) {
    size_t i = 0;
    while (i < arguments.size() && arguments[i] == L'/') {
        bool quoted = false;
        for (; i < arguments.size() && (arguments[i] != L' ' || quoted); ++i)
            if (arguments[i] == L'"') quoted = !quoted;
        while (i < arguments.size() && arguments[i] == L' ') ++i;
    }
    if (i >= arguments.size()) return 0;
    return CommandLineCore(arguments.substr(i));
}

int Resolution::CmdRule(std::wstring_view arguments) {
    size_t at = FindNoCase(arguments, L"/k");
    if (at == std::wstring_view::npos) at = FindNoCase(arguments, L"/c");
    if (at == std::wstring_view::npos) return 0;
    std::wstring_view rest = WithoutWhiteSpaceAndQuotes(arguments.substr(at + 2));
    if (rest.empty()) return 0;
    return Candidate(rest) ? 1 : 0;
}

bool Resolution::SearchExtensions(std::wstring& candidate) {
    if (candidate.empty() || cut_) return false;
    context_.Count(ZV_COUNT_EXTENSION_SEARCHES);
    for (const auto& extension : context_.Extensions()) {
        candidate += extension;
        if (FileExists(candidate)) {
            MakeFullPath(candidate);
            return true;
        }
        size_t dot = FindExtension(candidate);
        if (dot < candidate.size()) {
            candidate.erase(dot);
            TrimTrailingWhiteSpace(candidate);
        }
    }
    return false;
}

bool Resolution::SearchDirectories(std::wstring& candidate) {
    if (candidate.empty() || cut_) return false;
    context_.Count(ZV_COUNT_DIRECTORY_SEARCHES);
    std::wstring& path = buffers_.path;
    auto tryDirectory = [&](const std::wstring& directory) {
        path = directory;
        CombinePath(path, candidate.c_str());
        if (FileExists(path) || SearchExtensions(path)) {
            candidate = path;
            return true;
        }
        return false;
    };
    if (extraDirs_)
        for (const auto& directory : *extraDirs_)
            if (tryDirectory(directory)) return true;
    for (const auto& directory : context_.SearchDirectories())
        if (tryDirectory(directory)) return true;
    return false;
}

// The file the candidate names as it stands, or null; the file is in the candidate or in the
// probe buffer.
const std::wstring* Resolution::FindFile(const std::wstring& candidate) {
    std::wstring& probe = buffers_.probe;
    bool absolute = candidate[0] == L'\\' || (candidate.size() > 1 && candidate[1] == L':');
    if (!absolute) {
        probe = candidate;
        return SearchDirectories(probe) ? &probe : nullptr;
    }
    // An unquoted path with arguments: the text up to the first space after a dot.
    size_t dot = candidate.find(L'.');
    size_t space = dot != std::wstring::npos && dot + 1 < candidate.size() ? candidate.find(L' ', dot + 1)
                                                                           : std::wstring::npos;
    if (space != std::wstring::npos) {
        probe.assign(WithoutWhiteSpaceAndQuotes(std::wstring_view(candidate).substr(0, space)));
        if (FileExists(probe)) return &probe;
    }
    if (FileExists(candidate)) return &candidate;
    probe = candidate;
    return SearchExtensions(probe) ? &probe : nullptr;
}

bool Resolution::Candidate(std::wstring_view text) {
    if (text.empty() || cut_) return false;
    context_.Count(ZV_COUNT_CANDIDATES);
    std::wstring& candidate = buffers_.candidate;
    candidate.assign(WithoutWhiteSpace(text));
    ExpandLeadingEnvironment(candidate);
    RewriteSystemPrefix(candidate);
    size_t previousLength = candidate.size();
    for (;;) {
        if (candidate.empty()) return false;
        if (const std::wstring* found = FindFile(candidate)) {
            AddFile(*found);
            return !cut_;
        }
        if (cut_) return false;
        TrimWhiteSpace(candidate);
        size_t delimiter = candidate.find_last_of(kDelimiters);
        if (delimiter != std::wstring::npos) {
            candidate.erase(delimiter);
            TrimTrailingWhiteSpace(candidate);
        }
        if (candidate.size() >= previousLength) return false;
        previousLength = candidate.size();
    }
}

int Resolution::HostArguments(std::wstring_view arguments, std::wstring_view hostPath) {
    if (arguments.empty() || hostPath.empty() || cut_) return 0;
    // A command line that regsvr32 or runassvr resolves again may start with a host again, and
    // every level takes stack.
    if (hostRuleDepth_ == kResolutionHostRuleDepth) {
        Cut();
        return 0;
    }
    ++hostRuleDepth_;
    int result = HostRule(hostPath.substr(FindFileName(hostPath)), arguments);
    --hostRuleDepth_;
    return result;
}

// The host's name is read before its rule lists a file, which may move the list's first entry.
int Resolution::HostRule(std::wstring_view host, std::wstring_view arguments) {
    if (EqualsNoCase(host, L"rundll32.exe")) return RunDll32Rule(arguments);
    if (EqualsNoCase(host, L"regsvr32.exe")) return RegSvr32Rule(arguments);
    if (EqualsNoCase(host, L"cmd.exe")) return CmdRule(arguments);
    if (EqualsNoCase(host, L"runassvr.exe")) return CommandLine(arguments);
    return 0;
}

int Resolution::CommandLineCore(std::wstring_view text) {
    if (text.empty() || cut_) return 0;
    context_.Count(ZV_COUNT_COMMAND_LINES);

    if (text[0] == L'"') {
        size_t close = text.find(L'"', 1);
        if (close == std::wstring_view::npos || close == 1) return 0;
        if (!Candidate(text.substr(1, close - 1))) return 0;
        HostArguments(text.substr(close + 1), FirstFile(files_));
        return 1;
    }

    size_t tokenStart = text.find_first_not_of(L' ');
    size_t tokenEnd = tokenStart == std::wstring_view::npos ? text.size() : text.find(L' ', tokenStart);
    if (tokenEnd == std::wstring_view::npos) tokenEnd = text.size();
    std::wstring_view token =
        tokenStart == std::wstring_view::npos ? std::wstring_view() : text.substr(tokenStart, tokenEnd - tokenStart);
    size_t argumentsStart = tokenEnd < text.size() ? tokenEnd + 1 : text.size();
    if (!token.empty() && IsHostProgramName(token) && Candidate(token)) {
        HostArguments(text.substr(argumentsStart), FirstFile(files_));
        return 1;
    }

    // Every suffix from each delimiter on, so an argument after an unrecognised host still counts.
    // A suffix of white space alone names nothing: it is counted without being copied and trimmed,
    // which would make a long run of blanks quadratic.
    size_t blankTail = text.size();
    while (blankTail > 0 && std::iswspace(text[blankTail - 1])) --blankTail;
    int result = 0;
    for (size_t cursor = 0; cursor < text.size() && !cut_;) {
        if (cursor >= blankTail) {
            context_.Count(ZV_COUNT_CANDIDATES);
        } else if (Candidate(text.substr(cursor))) {
            result = 1;
            if (!IsHostProgramName(FirstFile(files_))) break;
        }
        size_t delimiter = text.find_first_of(kDelimiters, cursor);
        if (delimiter == std::wstring_view::npos) break;
        cursor = delimiter + 1;
    }
    return result;
}

int Resolution::CommandLine(std::wstring_view text) {
    if (text.empty() || cut_) return 0;
    context_.Count(ZV_COUNT_COMMAND_LINES);
    return CommandLineCore(text);
}

int Resolution::CommaList(std::wstring_view text) {
    if (text.empty()) return 0;
    context_.Count(ZV_COUNT_FILE_LISTS);
    int result = 0;
    size_t start = 0;
    while (start <= text.size() && !cut_) {
        size_t comma = text.find(L',', start);
        size_t end = comma == std::wstring_view::npos ? text.size() : comma;
        if (end > start && Candidate(WithoutWhiteSpaceAndQuotes(text.substr(start, end - start)))) result = 1;
        if (comma == std::wstring_view::npos) break;
        start = comma + 1;
    }
    return result;
}

}  // namespace

bool FileExists(CAutorunContext& context, const std::wstring& path) {
    if (context.SkipProbe()) return true;
    context.Count(ZV_COUNT_FILE_PROBES);
    DWORD attributes = platform::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_DIRECTORY;
}

bool IsHostProgramName(std::wstring_view path) {
    if (path.empty()) return false;
    std::wstring_view name = path.substr(FindFileName(path));
    for (const wchar_t* host : kHostProgramNames)
        if (EqualsNoCase(name, host)) return true;
    return false;
}

HRESULT GetShortcutTarget(const std::wstring& shortcutPath, std::wstring& target) {
    target.clear();
    platform::ComPtr<IShellLinkW> link;
    HRESULT hr = platform::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                            link.PutVoid());
    if (FAILED(hr)) return hr;
    platform::ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.PutVoid());
    if (FAILED(hr)) return hr;
    hr = file->Load(shortcutPath.c_str(), STGM_READ);
    if (FAILED(hr)) return hr;
    hr = link->Resolve(nullptr, kResolveFlags);
    if (FAILED(hr)) return hr;
    std::vector<wchar_t> buffer(kShortcutTargetCapacity, L'\0');
    WIN32_FIND_DATAW data{};
    hr = link->GetPath(buffer.data(), kShortcutTargetCapacity, &data, SLGP_RAWPATH);
    if (FAILED(hr)) return hr;
    buffer.back() = 0;
    target = buffer.data();
    return S_OK;
}

void AddResolvedFile(FileList& files, std::wstring path) {
    if (path.empty()) return;
    if (EqualsNoCase(std::wstring_view(path).substr(FindExtension(path)), L".lnk")) {
        std::wstring target;
        if (SUCCEEDED(GetShortcutTarget(path, target))) path = std::move(target);
    }
    for (const auto& existing : files)
        if (_wcsicmp(existing.c_str(), path.c_str()) == 0) return;
    files.push_back(std::move(path));
}

// The searches change the candidate they are given: a cut logs it as it was.
bool SearchExtensions(CAutorunContext& context, std::wstring& candidate) {
    FileList unused;
    const std::wstring text = candidate;
    return Resolution(context, text, {}, unused, nullptr).SearchExtensions(candidate);
}

bool SearchDirectories(CAutorunContext& context, std::wstring& candidate, const DirectoryList* extraDirs) {
    FileList unused;
    const std::wstring text = candidate;
    return Resolution(context, text, {}, unused, extraDirs).SearchDirectories(candidate);
}

bool ResolveCandidate(CAutorunContext& context, std::wstring_view text, FileList& files,
                      const DirectoryList* extraDirs) {
    return Resolution(context, text, {}, files, extraDirs).Candidate(text);
}

int ResolveHostArguments(CAutorunContext& context, std::wstring_view arguments, std::wstring_view hostPath,
                         FileList& files, const DirectoryList* extraDirs) {
    return Resolution(context, arguments, {}, files, extraDirs).HostArguments(arguments, hostPath);
}

int ResolveCommandLineCore(CAutorunContext& context, std::wstring_view text, FileList& files,
                           const DirectoryList* extraDirs) {
    return Resolution(context, text, {}, files, extraDirs).CommandLineCore(text);
}

int ResolveCommandLine(CAutorunContext& context, std::wstring_view text, FileList& files,
                       const DirectoryList* extraDirs, std::wstring_view entry) {
    return Resolution(context, text, entry, files, extraDirs).CommandLine(text);
}

int ResolveFileList(CAutorunContext& context, std::wstring_view text, FileList& files, std::wstring_view entry) {
    return Resolution(context, text, entry, files, nullptr).CommaList(text);
}

}  // namespace Tessel
