// Scan routines of the registry rows: all values of a key, a named value in every subkey, lists,
// COM classes reached through a CLSID, the Winsock catalog and the network providers. Each reports
// (key path, value name, text) through the context; an unreadable entry is skipped.
#include <iterator>
#include <new>
#include <vector>

#include "locations/routines.h"
#include "paths/path_primitives.h"
#include "platform/handles.h"
#include "scanner/autorun_context.h"
#include "winhelpers/hresult.h"
#include "winhelpers/reg_find.h"
#include "winhelpers/reg_values.h"

namespace Tessel {

namespace {

using Basalt::CWinRegKeyFind;
using Basalt::CWinRegValueFind;
using Basalt::HResultFromWin32;
using Basalt::ReadStringValue;

bool IsClsidCandidate(const std::wstring& text) { return !text.empty() && text[0] == L'{'; }

void Report(IAutorunContext* context, const LocationRow* row, const std::wstring& keyPath, const wchar_t* valueName,
            const std::wstring& text) {
    context->AddRegCommandValue(row, row->root, keyPath.c_str(), valueName, text.c_str());
}

// The text of one value of a key, or false when the key cannot be opened or the value not read.
bool ReadValueOfKey(HKEY root, const std::wstring& path, REGSAM access, const wchar_t* name, std::wstring& text) {
    platform::UniqueHKey key;
    if (platform::RegOpenKeyExW(root, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS) return false;
    return ReadStringValue(key.get(), name, text) == ERROR_SUCCESS;
}

// Opens the row's location and reads the row's value; the status is the Win32 error on failure.
LONG ReadRowValue(const LocationRow* row, platform::UniqueHKey& key, std::wstring& text) {
    LONG status = platform::RegOpenKeyExW(row->root, BuildLocationPath(*row).c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (status != ERROR_SUCCESS) return status;
    return ReadStringValue(key.get(), row->valueName, text);
}

// Reads the row's value at the row's location and hands (location path, text) to report; fails
// with the Win32 error when the key cannot be opened or the value not read.
template <typename Report>
HRESULT ScanRowValue(const LocationRow* row, Report report) {
    platform::UniqueHKey key;
    std::wstring text;
    LONG status = ReadRowValue(row, key, text);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    report(BuildLocationPath(*row), text);
    return S_OK;
}

// Every second-level subkey of the location, opened with read and write access; onlyCommand
// passes over all but "command" in any letter case.
HRESULT ScanSecondLevel(IAutorunContext* context, const LocationRow* row, bool onlyCommand) {
    CWinRegKeyFind outer;
    for (bool more = outer.FindFirstKey(row->root, BuildLocationPath(*row)); more; more = outer.Advance()) {
        CWinRegKeyFind inner;
        for (bool next = inner.FindFirstKey(row->root, outer.GetFullPath()); next; next = inner.Advance()) {
            if (onlyCommand && _wcsicmp(inner.CurrentName(), L"command") != 0) continue;
            std::wstring text;
            if (ReadValueOfKey(row->root, inner.GetFullPath(), KEY_READ | KEY_WRITE, row->valueName, text))
                Report(context, row, inner.GetFullPath(), row->valueName, text);
        }
    }
    return S_OK;
}

}  // namespace

// The default value of HKEY_CLASSES_ROOT\CLSID\<clsid>\InprocServer32, whatever root the row has.
bool ResolveInprocServer(const std::wstring& clsid, std::wstring& path) {
    constexpr wchar_t kPrefix[] = L"CLSID\\", kSuffix[] = L"\\InprocServer32";
    std::wstring key;
    key.reserve(std::size(kPrefix) + clsid.size() + std::size(kSuffix));
    key.append(kPrefix).append(clsid).append(kSuffix);
    return ReadValueOfKey(HKEY_CLASSES_ROOT, key, KEY_QUERY_VALUE, nullptr, path);
}

void ScanClsidSubkeys(IAutorunContext* context, const LocationRow* row) {
    CWinRegKeyFind find;
    std::wstring clsid, server, subkeyPath;
    for (bool more = find.FindFirstKey(row->root, BuildLocationPath(*row)); more; more = find.Advance()) {
        clsid = find.CurrentName();
        subkeyPath = find.GetFullPath();
        if (!IsClsidCandidate(clsid) &&
            !(ReadValueOfKey(row->root, subkeyPath, KEY_QUERY_VALUE, nullptr, clsid) && IsClsidCandidate(clsid)))
            continue;
        if (ResolveInprocServer(clsid, server)) Report(context, row, subkeyPath, row->valueName, server);
    }
}

void ScanClsidValueNames(IAutorunContext* context, const LocationRow* row) {
    std::wstring path = BuildLocationPath(*row);
    CWinRegValueFind find;
    for (bool more = find.FindFirstValue(row->root, path); more; more = find.Advance()) {
        std::wstring server;
        if (IsClsidCandidate(find.CurrentName()) && ResolveInprocServer(find.CurrentName(), server))
            Report(context, row, path, find.CurrentName(), server);
    }
}

HRESULT ScanKeyValues(IAutorunContext* context, const LocationRow* row) {
    std::wstring path = BuildLocationPath(*row);
    CWinRegValueFind find;
    std::wstring text;  // one buffer for every value
    for (bool more = find.FindFirstValue(row->root, path, true); more; more = find.Advance()) {
        if (find.IsOpen() && find.ReadString(text) == ERROR_SUCCESS)
            Report(context, row, path, find.CurrentName(), text);
    }
    return S_OK;
}

HRESULT ScanSubkeyValue(IAutorunContext* context, const LocationRow* row) {
    CWinRegKeyFind find;
    std::wstring text, subkeyPath;
    for (bool more = find.FindFirstKey(row->root, BuildLocationPath(*row)); more; more = find.Advance()) {
        subkeyPath = find.GetFullPath();
        if (ReadValueOfKey(row->root, subkeyPath, KEY_QUERY_VALUE, row->valueName, text))
            Report(context, row, subkeyPath, row->valueName, text);
    }
    return S_OK;
}

HRESULT ScanNestedSubkeyValue(IAutorunContext* context, const LocationRow* row) {
    return ScanSecondLevel(context, row, false);
}

HRESULT ScanShellVerbCommands(IAutorunContext* context, const LocationRow* row) {
    return ScanSecondLevel(context, row, true);
}

HRESULT ScanClsidHandlers(IAutorunContext* context, const LocationRow* row) {
    ScanClsidSubkeys(context, row);
    ScanClsidValueNames(context, row);
    return S_OK;
}

HRESULT ScanSubkeyClsidValue(IAutorunContext* context, const LocationRow* row) {
    CWinRegKeyFind find;
    for (bool more = find.FindFirstKey(row->root, BuildLocationPath(*row)); more; more = find.Advance()) {
        std::wstring clsid, server;
        if (ReadValueOfKey(row->root, find.GetFullPath(), KEY_QUERY_VALUE, row->valueName, clsid) &&
            IsClsidCandidate(clsid) && ResolveInprocServer(clsid, server))
            Report(context, row, find.GetFullPath(), row->valueName, server);
    }
    return S_OK;
}

HRESULT ScanClsidValueData(IAutorunContext* context, const LocationRow* row) {
    std::wstring path = BuildLocationPath(*row);
    CWinRegValueFind find;
    for (bool more = find.FindFirstValue(row->root, path, true); more; more = find.Advance()) {
        std::wstring clsid, server;
        if (find.ReadString(clsid) == ERROR_SUCCESS && IsClsidCandidate(clsid) &&
            ResolveInprocServer(clsid, server))
            Report(context, row, path, find.CurrentName(), server);
    }
    return S_OK;
}

HRESULT ScanSingleValue(IAutorunContext* context, const LocationRow* row) {
    return ScanRowValue(row, [&](const std::wstring& path, const std::wstring& text) {
        Report(context, row, path, row->valueName, text);
    });
}

HRESULT ScanSingleFileListValue(IAutorunContext* context, const LocationRow* row) {
    return ScanRowValue(row, [&](const std::wstring& path, const std::wstring& text) {
        context->AddRegFileListValue(row, row->root, path.c_str(), row->valueName, text.c_str());
    });
}

HRESULT ScanMultiStringValue(IAutorunContext* context, const LocationRow* row) {
    std::wstring path = BuildLocationPath(*row);
    platform::UniqueHKey key;
    LONG status = platform::RegOpenKeyExW(row->root, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    std::vector<std::wstring> items;
    status = Basalt::ReadMultiStringValue(key.get(), row->valueName, items);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    for (const auto& item : items) Report(context, row, path, row->valueName, item);
    return S_OK;
}

HRESULT ScanWinsockCatalog(IAutorunContext* context, const LocationRow* row) {
    CWinRegKeyFind find;
    for (bool more = find.FindFirstKey(row->root, BuildLocationPath(*row)); more; more = find.Advance()) {
        platform::UniqueHKey key;
        if (platform::RegOpenKeyExW(row->root, find.GetFullPath().c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS)
            continue;
        std::vector<BYTE> bytes;
        if (Basalt::ReadBytesValue(key.get(), row->valueName, bytes) != ERROR_SUCCESS) continue;
        // The catalog item begins with the provider's path in the ANSI code page.
        bytes.push_back(0);
        const char* ansi = reinterpret_cast<const char*>(bytes.data());
        int length = platform::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        if (length <= 0) throw std::bad_alloc();
        std::vector<wchar_t> wide(static_cast<size_t>(length));
        if (platform::MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length) <= 0) throw std::bad_alloc();
        Report(context, row, find.GetFullPath(), row->valueName, wide.data());
    }
    return S_OK;
}

HRESULT ScanNetworkProviders(IAutorunContext* context, const LocationRow* row) {
    platform::UniqueHKey orderKey;
    std::wstring order;
    LONG status = ReadRowValue(row, orderKey, order);
    if (status != ERROR_SUCCESS) return HResultFromWin32(status);
    size_t start = 0;
    while (start < order.size()) {
        size_t comma = order.find(L',', start);
        size_t end = comma == std::wstring::npos ? order.size() : comma;
        std::wstring name = order.substr(start, end - start);
        start = end + 1;
        TrimWhiteSpace(name);
        if (name.empty()) continue;
        std::wstring providerKey = L"System\\CurrentControlSet\\Services\\" + name + L"\\NetworkProvider";
        platform::UniqueHKey key;
        if (platform::RegOpenKeyExW(row->root, providerKey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            continue;
        std::wstring path;
        status = ReadStringValue(key.get(), L"ProviderPath", path);
        if (status != ERROR_SUCCESS) return HResultFromWin32(status);
        Report(context, row, providerKey, L"ProviderPath", path);
    }
    return S_OK;
}

}  // namespace Tessel
