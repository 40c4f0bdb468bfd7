#include "platform/offline/shell_link.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/offline/offline_backend.h"
#include "platform/offline/registry/hive.h"
#include "scanner/com_object.h"

namespace platform {
namespace offline {

namespace {

constexpr size_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasRelativePath = 0x8, kHasWorkingDir = 0x10,
                   kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80, kForceNoLinkInfo = 0x100,
                   kHasExpString = 0x200;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kEnvironmentBlock = 0xA0000001;
constexpr size_t kEnvironmentBlockSize = 0x314;
constexpr unsigned kMaxItems = 512, kMaxBlocks = 64;
constexpr size_t kMaxLinkFile = 16 * 1024 * 1024;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// A terminated string inside [begin, end): ANSI in the system's code page, or UTF-16.
bool AnsiAt(const uint8_t* begin, const uint8_t* end, std::wstring& text) {
    const uint8_t* stop = begin;
    while (stop < end && *stop) ++stop;
    if (stop == end) return false;
    text.clear();
    if (stop == begin) return true;
    int length = static_cast<int>(stop - begin);
    int wide = ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(begin), length, nullptr, 0);
    if (wide <= 0) return false;
    text.resize(static_cast<size_t>(wide));
    return ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(begin), length, &text[0], wide) == wide;
}
bool UnicodeAt(const uint8_t* begin, const uint8_t* end, std::wstring& text) {
    text.clear();
    for (const uint8_t* p = begin; p + 2 <= end; p += 2) {
        wchar_t c = static_cast<wchar_t>(U16(p));
        if (!c) return true;
        text += c;
    }
    return false;
}

// The path the file-system items of an ID list spell: a drive item, then folder and file items.
// Anything else after the drive (a virtual folder, a damaged item) makes it no file-system path.
std::wstring IdListPath(const uint8_t* begin, const uint8_t* end) {
    std::wstring path;
    const uint8_t* p = begin;
    for (unsigned count = 0; count < kMaxItems && p + 2 <= end; ++count) {
        size_t itemSize = U16(p);
        if (itemSize == 0) return path;
        if (itemSize < 3 || itemSize > static_cast<size_t>(end - p)) return {};
        const uint8_t* itemEnd = p + itemSize;
        uint8_t type = p[2];
        std::wstring name;
        if ((type & 0x70) == 0x20 && path.empty()) {
            if (!AnsiAt(p + 3, itemEnd, name) || name.size() < 2 || name[1] != L':') return {};
            path = name;
            if (path.back() != L'\\') path += L'\\';
        } else if ((type & 0x70) == 0x30 && !path.empty()) {
            if (itemSize <= 14) return {};
            bool read = (type & 0x04) ? UnicodeAt(p + 14, itemEnd, name) : AnsiAt(p + 14, itemEnd, name);
            if (!read || name.empty()) return {};
            if (path.back() != L'\\') path += L'\\';
            path += name;
        } else if (!path.empty()) {
            return {};
        }
        p = itemEnd;
    }
    return {};
}

// folder\relative with . and .. taken out, never above the folder's drive.
std::wstring Combine(const std::wstring& linkPath, const std::wstring& relative) {
    size_t slash = linkPath.find_last_of(L'\\');
    std::wstring joined = (slash == std::wstring::npos ? std::wstring() : linkPath.substr(0, slash + 1)) + relative;
    std::vector<std::wstring> parts;
    size_t at = 0;
    while (at <= joined.size()) {
        size_t next = joined.find_first_of(L"\\/", at);
        if (next == std::wstring::npos) next = joined.size();
        std::wstring part = joined.substr(at, next - at);
        if (part == L"..") {
            if (parts.size() > 1) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        at = next + 1;
    }
    std::wstring path;
    for (size_t i = 0; i < parts.size(); ++i) path += (i ? L"\\" : L"") + parts[i];
    return parts.size() == 1 ? path + L"\\" : path;
}

}  // namespace

bool ReadShellLinkTarget(const uint8_t* data, size_t size, const std::wstring& linkPath, std::wstring& target) {
    target.clear();
    if (!data || size < kHeaderSize || U32(data) != kHeaderSize || std::memcmp(data + 4, kLinkClsid, 16) != 0)
        return false;
    const uint8_t* end = data + size;
    uint32_t flags = U32(data + 0x14);
    const uint8_t* p = data + kHeaderSize;
    std::wstring fromIdList, fromLinkInfo, relative, environment;

    if (flags & kHasIdList) {
        if (end - p < 2 || U16(p) > static_cast<size_t>(end - p - 2)) return false;
        size_t listSize = U16(p);
        fromIdList = IdListPath(p + 2, p + 2 + listSize);
        p += 2 + listSize;
    }
    bool stringsReadable = true;
    if (flags & kHasLinkInfo) {
        uint32_t infoSize = end - p >= 4 ? U32(p) : 0;
        if (infoSize < 0x1C || infoSize > static_cast<size_t>(end - p)) {
            stringsReadable = false;
        } else {
            const uint8_t* infoEnd = p + infoSize;
            uint32_t headerSize = U32(p + 4), infoFlags = U32(p + 8);
            uint32_t baseOffset = U32(p + 16), suffixOffset = U32(p + 24);
            bool unicode = headerSize >= 0x24 && infoSize >= 0x24;
            uint32_t baseUnicode = unicode ? U32(p + 28) : 0, suffixUnicode = unicode ? U32(p + 32) : 0;
            std::wstring base, suffix;
            bool read = false;
            if ((infoFlags & kVolumeIdAndLocalBasePath) && !(flags & kForceNoLinkInfo)) {
                if (unicode && baseUnicode && baseUnicode < infoSize)
                    read = UnicodeAt(p + baseUnicode, infoEnd, base);
                else if (baseOffset && baseOffset < infoSize)
                    read = AnsiAt(p + baseOffset, infoEnd, base);
                if (read && unicode && suffixUnicode && suffixUnicode < infoSize)
                    read = UnicodeAt(p + suffixUnicode, infoEnd, suffix);
                else if (read && suffixOffset && suffixOffset < infoSize)
                    read = AnsiAt(p + suffixOffset, infoEnd, suffix);
            }
            if (read && !base.empty()) {
                if (!suffix.empty() && base.back() != L'\\') base += L'\\';
                fromLinkInfo = base + suffix;
            }
            p = infoEnd;
        }
    }
    if (stringsReadable) {
        const uint32_t kStrings[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments, kHasIconLocation};
        size_t unit = (flags & kIsUnicode) ? 2 : 1;
        for (uint32_t which : kStrings) {
            if (!(flags & which)) continue;
            if (end - p < 2 || U16(p) * unit > static_cast<size_t>(end - p - 2)) {
                stringsReadable = false;
                break;
            }
            size_t count = U16(p);
            const uint8_t* text = p + 2;
            p = text + count * unit;
            if (which != kHasRelativePath) continue;
            if (unit == 2) {
                for (size_t i = 0; i < count; ++i) relative += static_cast<wchar_t>(U16(text + 2 * i));
            } else {
                std::vector<uint8_t> copy(text, text + count);
                copy.push_back(0);
                AnsiAt(copy.data(), copy.data() + copy.size(), relative);
            }
        }
    }
    for (unsigned count = 0; stringsReadable && count < kMaxBlocks && end - p >= 4; ++count) {
        uint32_t blockSize = U32(p);
        if (blockSize < 8 || blockSize > static_cast<size_t>(end - p)) break;
        if (U32(p + 4) == kEnvironmentBlock && blockSize == kEnvironmentBlockSize) {
            if (!UnicodeAt(p + 8 + 260, p + blockSize, environment) || environment.empty())
                AnsiAt(p + 8, p + 8 + 260, environment);
        }
        p += blockSize;
    }

    if ((flags & kHasExpString) && !environment.empty())
        target = environment;
    else if (!fromLinkInfo.empty())
        target = fromLinkInfo;
    else if (!fromIdList.empty())
        target = fromIdList;
    else if (!relative.empty())
        target = Combine(linkPath, relative);
    return !target.empty();
}

namespace {

class ReadOnlyShellLink : public IShellLinkW, public IPersistFile {
public:
    ReadOnlyShellLink(ShortcutLoader load, std::function<void(int)> objectCount)
        : load_(std::move(load)), objectCount_(std::move(objectCount)) {
        if (objectCount_) objectCount_(+1);
    }
    virtual ~ReadOnlyShellLink() {
        if (objectCount_) objectCount_(-1);
    }

    void* InterfaceFor(REFIID iid) {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellLinkW)) return static_cast<IShellLinkW*>(this);
        if (IsEqualIID(iid, IID_IPersistFile) || IsEqualIID(iid, IID_IPersist)) return static_cast<IPersistFile*>(this);
        return nullptr;
    }

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR path, DWORD) override {
        loaded_ = false;
        target_.clear();
        if (!path) return E_INVALIDARG;
        HRESULT hr;
        try {
            hr = load_(path, target_);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
        loaded_ = SUCCEEDED(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

    // IShellLinkW: what reading a shortcut's target needs; nothing is ever changed.
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR buffer, int capacity, WIN32_FIND_DATAW* data, DWORD) override {
        if (!buffer || capacity <= 0) return E_INVALIDARG;
        if (data) *data = WIN32_FIND_DATAW{};
        size_t copied = target_.size() < static_cast<size_t>(capacity) ? target_.size() : capacity - 1;
        target_.copy(buffer, copied);
        buffer[copied] = 0;
        return target_.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return loaded_ ? S_OK : E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR) override { return E_ACCESSDENIED; }

private:
    ShortcutLoader load_;
    std::function<void(int)> objectCount_;
    std::wstring target_;
    bool loaded_ = false;
};

}  // namespace

HRESULT CreateReadOnlyShellLink(ShortcutLoader load, std::function<void(int)> objectCount, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* link = Tessel::QComObject<ReadOnlyShellLink>::Create(std::move(load), std::move(objectCount));
    if (!link) return E_OUTOFMEMORY;
    link->AddRef();
    HRESULT hr = link->QueryInterface(iid, object);
    link->Release();
    return hr;
}

HRESULT CreateOfflineShellLink(OfflineBackend& backend, REFIID iid, void** object) {
    auto load = [&backend](LPCOLESTR path, std::wstring& target) {
        std::wstring host;
        DWORD error = ERROR_SUCCESS;
        if (!backend.HostPath(path, host, error)) return HRESULT_FROM_WIN32(error);
        std::unique_ptr<HiveBytes> bytes = MapHiveFile(host, error);
        if (!bytes) return HRESULT_FROM_WIN32(error);
        if (bytes->Size() > kMaxLinkFile) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        return ReadShellLinkTarget(bytes->Data(), bytes->Size(), path, target) ? S_OK : E_FAIL;
    };
    return CreateReadOnlyShellLink(load, {}, iid, object);
}

}  // namespace offline
}  // namespace platform
