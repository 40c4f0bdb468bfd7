#include "repair_report.h"

#include "text.h"

namespace zvscan {

namespace {

struct KnownResult {
    HRESULT hr;
    const char* name;
    const char* meaning;
};

const KnownResult kKnownResults[] = {
    {S_OK, "S_OK", "repaired"},
    {E_NOTIMPL, "E_NOTIMPL", "not repaired: this location has no repair"},
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

// The system's own text for a code, on one line.
std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return Utf8(text);
}

}  // namespace

std::string DescribeRepairResult(HRESULT hr, ItemKind kind, const std::wstring& requestFile) {
    std::string code = Hex32(static_cast<unsigned long>(hr));
    if (hr == S_FALSE) {
        // The library answers S_FALSE before any repair when the request names a known host program;
        // the input-method repair answers it when the preload list changed since the scan.
        if (kind == ItemKind::InputMethod)
            return "S_FALSE (" + code + "): not repaired: the preload list changed since the scan";
        if (requestFile.empty()) return "S_FALSE (" + code + "): not repaired: nothing to change";
        return "S_FALSE (" + code + "): not repaired: " + Utf8(requestFile) +
               " is a known system host program, which the library refuses to act on";
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
