#include "paths/shell_path.h"

namespace Tessel {

void PathAppend(std::wstring& path, const std::wstring& more) {
    size_t skip = 0;
    while (skip < more.size() && more[skip] == L'\\') ++skip;
    if (!path.empty() && path.back() != L'\\' && skip < more.size()) path += L'\\';
    path.append(more, skip, std::wstring::npos);
}

void PathRemoveFileSpec(std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        path.clear();
        return;
    }
    bool keepRootSlash = (slash == 2 && path[1] == L':') || slash == 0;
    path.erase(keepRootSlash ? slash + 1 : slash);
}

void PathAddBackslash(std::wstring& path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
}

std::wstring PathFindFileName(const std::wstring& path) {
    size_t end = path.size();
    if (end > 0 && path[end - 1] == L'\\') --end;
    size_t start = path.find_last_of(L"\\:", end == 0 ? 0 : end - 1);
    start = start == std::wstring::npos ? 0 : start + 1;
    return path.substr(start);
}

}  // namespace Tessel
