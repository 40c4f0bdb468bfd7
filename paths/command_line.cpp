#include "paths/command_line.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

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

const std::wstring& FirstFile(const FileList& files) {
    static const std::wstring kNone;
    return files.empty() ? kNone : files.front();
}

int RunDll32Rule(CAutorunContext& context, std::wstring arguments, FileList& files,
                 const DirectoryList* extraDirs) {
    TrimWhiteSpace(arguments);
    for (size_t comma = arguments.find(L','); comma != std::wstring::npos; comma = arguments.find(L',', comma + 1)) {
        std::wstring library = arguments.substr(0, comma);
        TrimAndUnquote(library);
        if (ResolveCandidate(context, library, files, extraDirs)) return 1;
    }
    return 0;
}

int RegSvr32Rule(CAutorunContext& context, const std::wstring& arguments, FileList& files,
                 const DirectoryList* extraDirs) {
    size_t i = 0;
    while (i < arguments.size() && arguments[i] == L'/') {
        bool quoted = false;
        for (; i < arguments.size() && (arguments[i] != L' ' || quoted); ++i)
            if (arguments[i] == L'"') quoted = !quoted;
        while (i < arguments.size() && arguments[i] == L' ') ++i;
    }
    if (i >= arguments.size()) return 0;
    return ResolveCommandLineCore(context, arguments.substr(i), files, extraDirs);
}

int CmdRule(CAutorunContext& context, const std::wstring& arguments, FileList& files,
            const DirectoryList* extraDirs) {
    size_t at = FindNoCase(arguments, L"/k");
    if (at == std::wstring::npos) at = FindNoCase(arguments, L"/c");
    if (at == std::wstring::npos) return 0;
    std::wstring rest = arguments.substr(at + 2);
    TrimAndUnquote(rest);
    if (rest.empty()) return 0;
    return ResolveCandidate(context, rest, files, extraDirs) ? 1 : 0;
}

}  // namespace

bool FileExists(CAutorunContext& context, const std::wstring& path) {
    if (context.SkipProbe()) return true;
    context.Count(ZV_COUNT_FILE_PROBES);
    DWORD attributes = platform::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_DIRECTORY;
}

bool IsHostProgramName(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring name = FileNameOf(path);
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

void AddResolvedFile(FileList& files, const std::wstring& path) {
    if (path.empty()) return;
    std::wstring entry = path;
    if (EqualsNoCase(ExtensionOf(path), L".lnk")) {
        std::wstring target;
        if (SUCCEEDED(GetShortcutTarget(path, target))) entry = target;
    }
    for (const auto& existing : files)
        if (_wcsicmp(existing.c_str(), entry.c_str()) == 0) return;
    files.push_back(entry);
}

bool SearchExtensions(CAutorunContext& context, std::wstring& candidate) {
    if (candidate.empty()) return false;
    context.Count(ZV_COUNT_EXTENSION_SEARCHES);
    for (const auto& extension : context.Extensions()) {
        candidate += extension;
        if (FileExists(context, candidate)) {
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

bool SearchDirectories(CAutorunContext& context, std::wstring& candidate, const DirectoryList* extraDirs) {
    if (candidate.empty()) return false;
    context.Count(ZV_COUNT_DIRECTORY_SEARCHES);
    auto tryDirectory = [&](const std::wstring& directory) {
        std::wstring path = directory;
        CombinePath(path, candidate.c_str());
        if (FileExists(context, path) || SearchExtensions(context, path)) {
            candidate = path;
            return true;
        }
        return false;
    };
    if (extraDirs)
        for (const auto& directory : *extraDirs)
            if (tryDirectory(directory)) return true;
    for (const auto& directory : context.SearchDirectories())
        if (tryDirectory(directory)) return true;
    return false;
}

bool ResolveCandidate(CAutorunContext& context, const std::wstring& text, FileList& files,
                      const DirectoryList* extraDirs) {
    if (text.empty()) return false;
    context.Count(ZV_COUNT_CANDIDATES);
    std::wstring candidate = text;
    TrimWhiteSpace(candidate);
    ExpandLeadingEnvironment(candidate);
    RewriteSystemPrefix(candidate);
    size_t previousLength = candidate.size();
    for (;;) {
        if (candidate.empty()) return false;
        std::wstring found;
        bool absolute = candidate[0] == L'\\' || (candidate.size() > 1 && candidate[1] == L':');
        if (absolute) {
            // An unquoted path with arguments: the text up to the first space after a dot.
            size_t dot = candidate.find(L'.');
            size_t space = dot != std::wstring::npos && dot + 1 < candidate.size() ? candidate.find(L' ', dot + 1)
                                                                                   : std::wstring::npos;
            if (space != std::wstring::npos) {
                std::wstring prefix = candidate.substr(0, space);
                TrimAndUnquote(prefix);
                if (FileExists(context, prefix)) found = prefix;
            }
            if (found.empty() && FileExists(context, candidate)) found = candidate;
            if (found.empty()) {
                std::wstring extended = candidate;
                if (SearchExtensions(context, extended)) found = extended;
            }
        } else {
            std::wstring searched = candidate;
            if (SearchDirectories(context, searched, extraDirs)) found = searched;
        }
        if (!found.empty()) {
            AddResolvedFile(files, found);
            return true;
        }
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

int ResolveHostArguments(CAutorunContext& context, const std::wstring& arguments, const std::wstring& hostPath,
                         FileList& files, const DirectoryList* extraDirs) {
    if (arguments.empty() || hostPath.empty()) return 0;
    std::wstring host = FileNameOf(hostPath);
    if (EqualsNoCase(host, L"rundll32.exe")) return RunDll32Rule(context, arguments, files, extraDirs);
    if (EqualsNoCase(host, L"regsvr32.exe")) return RegSvr32Rule(context, arguments, files, extraDirs);
    if (EqualsNoCase(host, L"cmd.exe")) return CmdRule(context, arguments, files, extraDirs);
    if (EqualsNoCase(host, L"runassvr.exe")) return ResolveCommandLine(context, arguments, files, extraDirs);
    return 0;
}

int ResolveCommandLineCore(CAutorunContext& context, const std::wstring& text, FileList& files,
                           const DirectoryList* extraDirs) {
    if (text.empty()) return 0;
    context.Count(ZV_COUNT_COMMAND_LINES);

    if (text[0] == L'"') {
        size_t close = text.find(L'"', 1);
        if (close == std::wstring::npos || close == 1) return 0;
        if (!ResolveCandidate(context, text.substr(1, close - 1), files, extraDirs)) return 0;
        ResolveHostArguments(context, text.substr(close + 1), FirstFile(files), files, extraDirs);
        return 1;
    }

    size_t tokenStart = text.find_first_not_of(L' ');
    size_t tokenEnd = tokenStart == std::wstring::npos ? text.size() : text.find(L' ', tokenStart);
    if (tokenEnd == std::wstring::npos) tokenEnd = text.size();
    std::wstring token = tokenStart == std::wstring::npos ? std::wstring() : text.substr(tokenStart, tokenEnd - tokenStart);
    size_t argumentsStart = tokenEnd < text.size() ? tokenEnd + 1 : text.size();
    if (!token.empty() && IsHostProgramName(token) && ResolveCandidate(context, token, files, extraDirs)) {
        ResolveHostArguments(context, text.substr(argumentsStart), FirstFile(files), files, extraDirs);
        return 1;
    }

    // Every suffix from each delimiter on, so an argument after an unrecognised host still counts.
    int result = 0;
    for (size_t cursor = 0; cursor < text.size();) {
        if (ResolveCandidate(context, text.substr(cursor), files, extraDirs)) {
            result = 1;
            if (!IsHostProgramName(FirstFile(files))) break;
        }
        size_t delimiter = text.find_first_of(kDelimiters, cursor);
        if (delimiter == std::wstring::npos) break;
        cursor = delimiter + 1;
    }
    return result;
}

int ResolveCommandLine(CAutorunContext& context, const std::wstring& text, FileList& files,
                       const DirectoryList* extraDirs) {
    if (text.empty()) return 0;
    context.Count(ZV_COUNT_COMMAND_LINES);
    return ResolveCommandLineCore(context, text, files, extraDirs);
}

int ResolveFileList(CAutorunContext& context, const std::wstring& text, FileList& files) {
    if (text.empty()) return 0;
    context.Count(ZV_COUNT_FILE_LISTS);
    int result = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        size_t end = comma == std::wstring::npos ? text.size() : comma;
        if (end > start) {
            std::wstring piece = text.substr(start, end - start);
            TrimAndUnquote(piece);
            if (ResolveCandidate(context, piece, files, nullptr)) result = 1;
        }
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return result;
}

}  // namespace Tessel
