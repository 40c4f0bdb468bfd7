#include "diag/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "paths/shell_path.h"
#include "platform/platform.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Tessel {

namespace {

DWORD g_debugLevel = kLogCrit;

std::wstring ModulePath(HMODULE module) {
    wchar_t buffer[MAX_PATH] = {};
    platform::GetModuleFileNameW(module, buffer, MAX_PATH);
    buffer[MAX_PATH - 1] = 0;
    return buffer;
}

// The level is known before any other operation of the library can run. Nothing may escape into
// the loader: a failure leaves the default level.
const DWORD g_initialLevel = []() noexcept {
    try {
        return InitDebugLevel();
    } catch (...) {
        return static_cast<DWORD>(kLogCrit);
    }
}();

}  // namespace

DWORD CurrentDebugLevel() { return g_debugLevel; }

std::wstring DebugLevelName(DWORD level) {
    switch (level) {
        case kLogAlways: return L"always";
        case kLogCrit: return L"crit";
        case kLogError: return L"error";
        case kLogWarn: return L"warn";
        case kLogInfo: return L"info";
        case kLogDebug: return L"debug";
        case kLogTrace: return L"trace";
        case 0xFFFFFFFFu: return L"default";
        default: return std::to_wstring(level);
    }
}

DWORD InitDebugLevel() {
    std::wstring settings = ModulePath(nullptr);
    PathRemoveFileSpec(settings);
    PathAddBackslash(settings);
    PathAppend(settings, L"zv.local.ini");

    std::wstring keyName = PathFindFileName(ModulePath(reinterpret_cast<HMODULE>(&__ImageBase)));
    if (keyName.size() > MAX_PATH) keyName.resize(MAX_PATH);

    UINT value = platform::GetPrivateProfileIntW(L"debug", keyName.c_str(), -1, settings.c_str());
    g_debugLevel = kLogCrit;
    if (value != 0xFFFFFFFFu) g_debugLevel = value;
    LogDebug(kLogInfo, L"[zavel][%s] %s DebugLevel %s\r\n", L"Release", keyName.c_str(),
             DebugLevelName(g_debugLevel).c_str());
    return g_debugLevel;
}

void LogDebug(DWORD level, const wchar_t* format, ...) {
    if (level > g_debugLevel) return;
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    // The Microsoft formatters read %s as a wide string, as the library's formats expect.
    int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length >= 0) {
        std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
        _vsnwprintf(text.data(), text.size(), format, args);
        text.back() = 0;
        if (level <= g_debugLevel) platform::OutputDebugStringW(text.data());
    }
    va_end(args);
}

}  // namespace Tessel
