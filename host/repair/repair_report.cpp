#include "repair/repair_report.h"

#include <shlobj.h>

#include <vector>

#include "win/text.h"
#include "zvhostprograms.h"

namespace zvscan {

namespace {

const char kNoRepair[] = "not repaired: this location has no repair";

struct KnownResult {
    HRESULT hr;
    const char* name;
    const char* meaning;
};

const KnownResult kKnownResults[] = {
    {S_OK, "S_OK", "repaired"},
    {E_NOTIMPL, "E_NOTIMPL", kNoRepair},
    {E_POINTER, "E_POINTER", "not repaired: the library was handed a null pointer"},
    {E_INVALIDARG, "E_INVALIDARG", "not repaired: the item lacks what its repair needs"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "not repaired: out of memory"},
    {E_FAIL, "E_FAIL", "not repaired: unspecified failure"},
    {E_NOINTERFACE, "E_NOINTERFACE", "not repaired: the item is not of the kind its repair expects"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)",
     "not repaired: the entry is no longer there"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)",
     "not repaired: the entry's key or folder is no longer there"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "not repaired: access denied (run as an administrator)"},
};

std::string RefusedHostProgram(const std::wstring& requestFile) {
    return "not repaired: the request named " + Utf8(requestFile) +
           ", a known system host program, which the library refuses to act on; --file PATH names another file "
           "for the request (such as the item's own library or script)";
}

// The long form of a path that exists, else the path as given, without a "\\?\" prefix.
std::wstring LongForm(const std::wstring& path) {
    std::wstring text = path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
    DWORD needed = GetLongPathNameW(text.c_str(), nullptr, 0);
    if (needed == 0) return text;
    std::vector<wchar_t> buffer(needed);
    DWORD written = GetLongPathNameW(text.c_str(), buffer.data(), needed);
    return written == 0 || written >= needed ? text : std::wstring(buffer.data(), written);
}

}  // namespace

bool IsKnownHostProgram(const std::wstring& path) {
    if (path.empty()) return false;
    wchar_t windows[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE)) return false;
    const std::wstring systemRoot = L"\\SystemRoot\\";
    std::wstring candidate = LongForm(path);
    for (const Tessel::KnownHostProgram* known = Tessel::kKnownHostPrograms; known->fileName; ++known) {
        std::wstring directory = known->directory;
        if (directory.compare(0, systemRoot.size(), systemRoot) == 0)
            directory = std::wstring(windows) + L"\\" + directory.substr(systemRoot.size());
        if (EqualsIgnoreCase(candidate, LongForm(directory + L"\\" + known->fileName))) return true;
    }
    return false;
}

RepairVerdict PredictRepair(const ItemRecord& record, const std::wstring& requestFile) {
    // The library's own order: no repair first, then the host-program refusal.
    if (!record.repairable) return RepairVerdict::NoRepair;
    if (IsKnownHostProgram(requestFile)) return RepairVerdict::Refused;
    return RepairVerdict::WouldRepair;
}

std::string DescribeVerdict(RepairVerdict verdict, const std::wstring& requestFile) {
    switch (verdict) {
        case RepairVerdict::NoRepair:
            return std::string("E_NOTIMPL: ") + kNoRepair;
        case RepairVerdict::Refused:
            return "S_FALSE: " + RefusedHostProgram(requestFile);
        case RepairVerdict::WouldRepair:
            break;
    }
    return "would repair";
}

std::string DescribeRepairResult(HRESULT hr, ItemKind kind, const std::wstring& requestFile) {
    std::string code = Hex32(static_cast<unsigned long>(hr));
    if (hr == S_FALSE) {
        // The library answers S_FALSE before any repair when the request names a known host program;
        // the input-method repair answers it when the preload list changed since the scan.
        if (kind == ItemKind::InputMethod)
            return "S_FALSE (" + code + "): not repaired: the preload list changed since the scan";
        if (requestFile.empty()) return "S_FALSE (" + code + "): not repaired: nothing to change";
        return "S_FALSE (" + code + "): " + RefusedHostProgram(requestFile);
    }
    for (const KnownResult& known : kKnownResults)
        if (known.hr == hr) return std::string(known.name) + " (" + code + "): " + known.meaning;
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
        DWORD error = HRESULT_CODE(hr);
        return "HRESULT_FROM_WIN32(" + std::to_string(error) + ") (" + code +
               "): not repaired: " + SystemMessage(error);
    }
    std::string message = SystemMessage(static_cast<DWORD>(hr));
    return std::string(SUCCEEDED(hr) ? "success" : "failure") + " (" + code + ")" +
           (message.empty() ? "" : ": " + message);
}

}  // namespace zvscan
