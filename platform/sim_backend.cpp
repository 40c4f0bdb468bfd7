#include "platform/sim_backend.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <utility>

namespace platform {

namespace {

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// Whole names, as the registry counts them: a NUL inside a name is part of it.
bool SameText(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

// The order Wine enumerates keys and values in: case-insensitive alphabetical.
bool Before(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; }

std::vector<std::wstring> Split(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\' || c == L'/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::wstring Text(LPCWSTR text) { return text ? text : L""; }

// Copies text with its terminator when it fits capacity characters (terminator included).
bool CopyOut(const std::wstring& text, LPWSTR buffer, size_t capacity) {
    if (!buffer || text.size() + 1 > capacity) return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

bool WildcardMatch(const wchar_t* pattern, const wchar_t* name) {
    if (*pattern == 0) return *name == 0;
    if (*pattern == L'*') {
        for (const wchar_t* rest = name;; ++rest) {
            if (WildcardMatch(pattern + 1, rest)) return true;
            if (*rest == 0) return false;
        }
    }
    if (*name == 0) return false;
    if (*pattern == L'?' || std::towupper(*pattern) == std::towupper(*name)) return WildcardMatch(pattern + 1, name + 1);
    return false;
}

constexpr ULONG_PTR ToValue(HKEY key) { return reinterpret_cast<ULONG_PTR>(key); }

}  // namespace

struct SimulatedBackend::Key {
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::wstring name;
    std::vector<std::shared_ptr<Key>> subkeys;
    std::vector<Value> values;
    REGSAM refused = 0;
    bool deleted = false;

    std::shared_ptr<Key> Child(const std::wstring& childName) const {
        for (auto& k : subkeys)
            if (SameText(k->name, childName)) return k;
        return nullptr;
    }
    std::shared_ptr<Key> AddChild(const std::wstring& childName) {
        auto child = std::make_shared<Key>();
        child->name = childName;
        auto at = std::find_if(subkeys.begin(), subkeys.end(), [&](auto& k) { return Before(childName, k->name); });
        subkeys.insert(at, child);
        return child;
    }
    Value* Find(const std::wstring& valueName) {
        for (auto& v : values)
            if (SameText(v.name, valueName)) return &v;
        return nullptr;
    }
    void Set(const std::wstring& valueName, DWORD type, std::vector<BYTE> data) {
        if (Value* v = Find(valueName)) {
            v->type = type;
            v->data = std::move(data);
            return;
        }
        auto at = std::find_if(values.begin(), values.end(), [&](auto& v) { return Before(valueName, v.name); });
        values.insert(at, Value{valueName, type, std::move(data)});
    }
    void MarkDeleted() {
        deleted = true;
        for (auto& k : subkeys) k->MarkDeleted();
    }
};

struct SimulatedBackend::Node {
    std::wstring name;
    std::wstring shortName;
    DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
    std::string contents;
    std::vector<std::shared_ptr<Node>> children;
    Node* parent = nullptr;

    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    std::shared_ptr<Node> Child(const std::wstring& childName) const {
        for (auto& n : children)
            if (SameText(n->name, childName) || (!n->shortName.empty() && SameText(n->shortName, childName)))
                return n;
        return nullptr;
    }
};

SimulatedBackend::SimulatedBackend() : machine_(std::make_shared<Key>()), users_(std::make_shared<Key>()) {
    Walk(machine_, L"SOFTWARE\\Classes", true);
    Walk(machine_, L"SYSTEM\\CurrentControlSet", true);
    users_->AddChild(L".Default");
    users_->AddChild(kCurrentUserSid)->AddChild(L"Software");
    fileRoot_ = std::make_shared<Node>();
    AddDirectory(windowsDirectory_);
    AddDirectory(systemDirectory_);
    SetVersion(6, 1, 7601);
    SetEnvironment(L"SystemRoot", windowsDirectory_);
    SetEnvironment(L"windir", windowsDirectory_);
    SetEnvironment(L"SystemDrive", L"C:");
    SetSpecialFolder(CSIDL_SYSTEM, systemDirectory_);
    SetSpecialFolder(CSIDL_WINDOWS, windowsDirectory_);
}

SimulatedBackend::~SimulatedBackend() = default;

// ---- Registry -------------------------------------------------------------------------------

std::shared_ptr<SimulatedBackend::Key> SimulatedBackend::RootKey(HKEY root) const {
    if (root == HKEY_LOCAL_MACHINE) return machine_;
    if (root == HKEY_USERS) return users_;
    if (root == HKEY_CURRENT_USER) return users_->Child(kCurrentUserSid);
    if (root == HKEY_CLASSES_ROOT) return Walk(machine_, L"SOFTWARE\\Classes", false);
    return nullptr;
}

std::shared_ptr<SimulatedBackend::Key> SimulatedBackend::Walk(const std::shared_ptr<Key>& from,
                                                              const std::wstring& path, bool create) const {
    std::shared_ptr<Key> key = from;
    for (const auto& part : Split(path)) {
        if (!key) return nullptr;
        auto next = key->Child(part);
        if (!next && create) next = key->AddChild(part);
        key = next;
    }
    return key;
}

std::shared_ptr<SimulatedBackend::Key> SimulatedBackend::Resolve(HKEY key, REGSAM* access) const {
    if (auto root = RootKey(key)) {
        *access = KEY_ALL_ACCESS;
        return root;
    }
    auto it = openKeys_.find(ToValue(key));
    if (it == openKeys_.end()) return nullptr;
    *access = it->second.access;
    return it->second.key;
}

HKEY SimulatedBackend::NewKeyHandle(std::shared_ptr<Key> key, REGSAM access) {
    ULONG_PTR value = nextHandle_;
    nextHandle_ += 4;
    openKeys_[value] = OpenKey{std::move(key), access};
    return reinterpret_cast<HKEY>(value);
}

void SimulatedBackend::AddKey(HKEY root, const std::wstring& path) { Walk(RootKey(root), path, true); }

void SimulatedBackend::SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                                const std::vector<BYTE>& bytes) {
    Walk(RootKey(root), path, true)->Set(name, type, bytes);
}

void SimulatedBackend::SetString(HKEY root, const std::wstring& path, const std::wstring& name,
                                 const std::wstring& text, DWORD type) {
    auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
    SetValue(root, path, name, type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

void SimulatedBackend::SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    auto bytes = reinterpret_cast<const BYTE*>(&value);
    SetValue(root, path, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value)));
}

void SimulatedBackend::SetMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                                      const std::vector<std::wstring>& items) {
    std::wstring joined;
    for (const auto& item : items) joined += item + L'\0';
    joined += L'\0';
    auto bytes = reinterpret_cast<const BYTE*>(joined.data());
    SetValue(root, path, name, REG_MULTI_SZ, std::vector<BYTE>(bytes, bytes + joined.size() * sizeof(wchar_t)));
}

void SimulatedBackend::RemoveKey(HKEY root, const std::wstring& path) {
    auto parts = Split(path);
    if (parts.empty()) return;
    std::wstring last = parts.back();
    parts.pop_back();
    std::wstring parentPath;
    for (auto& p : parts) parentPath += p + L"\\";
    auto parent = Walk(RootKey(root), parentPath, false);
    if (!parent) return;
    auto& subs = parent->subkeys;
    for (auto it = subs.begin(); it != subs.end(); ++it) {
        if (SameText((*it)->name, last)) {
            (*it)->MarkDeleted();
            subs.erase(it);
            return;
        }
    }
}

bool SimulatedBackend::HasKey(HKEY root, const std::wstring& path) const {
    return Walk(RootKey(root), path, false) != nullptr;
}

bool SimulatedBackend::HasValue(HKEY root, const std::wstring& path, const std::wstring& name) const {
    auto key = Walk(RootKey(root), path, false);
    return key && key->Find(name);
}

std::vector<BYTE> SimulatedBackend::ValueBytes(HKEY root, const std::wstring& path, const std::wstring& name) const {
    auto key = Walk(RootKey(root), path, false);
    auto* value = key ? key->Find(name) : nullptr;
    return value ? value->data : std::vector<BYTE>{};
}

DWORD SimulatedBackend::ValueType(HKEY root, const std::wstring& path, const std::wstring& name) const {
    auto key = Walk(RootKey(root), path, false);
    auto* value = key ? key->Find(name) : nullptr;
    return value ? value->type : REG_NONE;
}

void SimulatedBackend::DenyAccess(HKEY root, const std::wstring& path, REGSAM refused) {
    Walk(RootKey(root), path, true)->refused = refused;
}

LSTATUS SimulatedBackend::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    REGSAM parentAccess = 0;
    auto parent = Resolve(key, &parentAccess);
    if (!parent) return ERROR_INVALID_HANDLE;
    if (parent->deleted) return ERROR_KEY_DELETED;
    auto target = Walk(parent, Text(subKey), false);
    if (!target) return ERROR_FILE_NOT_FOUND;
    // Only the bits the key's security can refuse matter; the view flags are not access rights.
    REGSAM rights = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (rights & target->refused) return ERROR_ACCESS_DENIED;
    *result = NewKeyHandle(target, rights);
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                                          const SECURITY_ATTRIBUTES*, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    REGSAM parentAccess = 0;
    auto parent = Resolve(key, &parentAccess);
    if (!parent) return ERROR_INVALID_HANDLE;
    if (parent->deleted) return ERROR_KEY_DELETED;
    auto existing = Walk(parent, Text(subKey), false);
    if (!existing) {
        if (!(parentAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        existing = Walk(parent, Text(subKey), true);
        ++writes_;
        if (disposition) *disposition = REG_CREATED_NEW_KEY;
    } else if (disposition) {
        *disposition = REG_OPENED_EXISTING_KEY;
    }
    REGSAM rights = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (rights & existing->refused) return ERROR_ACCESS_DENIED;
    *result = NewKeyHandle(existing, rights);
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) {
    DWORD size = capacity;
    return RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS SimulatedBackend::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD, LPWSTR,
                                        LPDWORD, PFILETIME) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (!capacity) return ERROR_INVALID_PARAMETER;
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const auto& subName = k->subkeys[index]->name;
    if (!CopyOut(subName, name, *capacity)) return ERROR_MORE_DATA;
    *capacity = static_cast<DWORD>(subName.size());
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD,
                                        LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!capacity) return ERROR_INVALID_PARAMETER;
    if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& value = k->values[index];
    if (!CopyOut(value.name, name, *capacity)) return ERROR_MORE_DATA;
    *capacity = static_cast<DWORD>(value.name.size());
    if (type) *type = value.type;
    if (dataSize) {
        DWORD needed = static_cast<DWORD>(value.data.size());
        if (data) {
            if (*dataSize < needed) {
                *dataSize = needed;
                return ERROR_MORE_DATA;
            }
            std::copy(value.data.begin(), value.data.end(), data);
        }
        *dataSize = needed;
    }
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegQueryInfoKeyW(HKEY key, LPWSTR, LPDWORD classCapacity, LPDWORD, LPDWORD subKeys,
                                           LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                                           LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                                           PFILETIME lastWrite) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (auto& s : k->subkeys) longestKey = std::max(longestKey, static_cast<DWORD>(s->name.size()));
    for (auto& v : k->values) {
        longestName = std::max(longestName, static_cast<DWORD>(v.name.size()));
        longestData = std::max(longestData, static_cast<DWORD>(v.data.size()));
    }
    if (classCapacity) *classCapacity = 0;
    if (subKeys) *subKeys = static_cast<DWORD>(k->subkeys.size());
    if (maxSubKeyLen) *maxSubKeyLen = longestKey;
    if (maxClassLen) *maxClassLen = 0;
    if (values) *values = static_cast<DWORD>(k->values.size());
    if (maxValueNameLen) *maxValueNameLen = longestName;
    if (maxValueLen) *maxValueLen = longestData;
    if (securityDescriptor) *securityDescriptor = 0;
    if (lastWrite) *lastWrite = FILETIME{};
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                           LPDWORD dataSize) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    auto* value = k->Find(Text(name));
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    if (!dataSize) return ERROR_SUCCESS;
    DWORD needed = static_cast<DWORD>(value->data.size());
    if (data) {
        if (*dataSize < needed) {
            *dataSize = needed;
            return ERROR_MORE_DATA;
        }
        std::copy(value->data.begin(), value->data.end(), data);
        // Like Windows, a string read into a larger buffer gets a terminator after the data.
        bool text = value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ;
        if (text && *dataSize >= needed + sizeof(wchar_t)) {
            data[needed] = 0;
            data[needed + 1] = 0;
        }
    }
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                                         DWORD dataSize) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!data && dataSize) return ERROR_NOACCESS;
    k->Set(Text(name), type, std::vector<BYTE>(data, data + dataSize));
    ++writes_;
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegDeleteValueW(HKEY key, LPCWSTR name) {
    REGSAM access = 0;
    auto k = Resolve(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::wstring valueName = Text(name);
    auto& values = k->values;
    auto it = std::find_if(values.begin(), values.end(), [&](auto& v) { return SameText(v.name, valueName); });
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(it);
    ++writes_;
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::SHDeleteKeyW(HKEY key, LPCWSTR subKey) {
    REGSAM access = 0;
    auto parent = Resolve(key, &access);
    if (!parent) return ERROR_INVALID_HANDLE;
    auto parts = Split(Text(subKey));
    if (parts.empty()) {
        // An empty path empties the key itself: every subkey and value under it goes.
        for (auto& s : parent->subkeys) s->MarkDeleted();
        parent->subkeys.clear();
        parent->values.clear();
        ++writes_;
        return ERROR_SUCCESS;
    }
    std::wstring last = parts.back();
    parts.pop_back();
    std::wstring parentPath;
    for (auto& p : parts) parentPath += p + L"\\";
    auto holder = Walk(parent, parentPath, false);
    auto target = holder ? holder->Child(last) : nullptr;
    if (!target) return ERROR_FILE_NOT_FOUND;
    target->MarkDeleted();
    holder->subkeys.erase(std::find(holder->subkeys.begin(), holder->subkeys.end(), target));
    ++writes_;
    return ERROR_SUCCESS;
}

LSTATUS SimulatedBackend::RegCloseKey(HKEY key) {
    if (RootKey(key)) return ERROR_SUCCESS;
    if (openKeys_.erase(ToValue(key)) == 0) {
        ++invalidCloses_;
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

// ---- Files, drives and devices -----------------------------------------------------------

std::shared_ptr<SimulatedBackend::Node> SimulatedBackend::Lookup(const std::wstring& rawPath) const {
    std::wstring path = rawPath;
    if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
    if (path.size() < 2 || path[1] != L':') return nullptr;
    std::vector<std::shared_ptr<Node>> trail{fileRoot_};
    for (const auto& part : Split(path)) {
        if (part == L".") continue;
        if (part == L"..") {
            if (trail.size() > 2) trail.pop_back();
            continue;
        }
        if (!trail.back()->IsDirectory()) return nullptr;
        auto next = trail.back()->Child(part);
        if (!next) return nullptr;
        trail.push_back(next);
    }
    return trail.size() > 1 ? trail.back() : nullptr;
}

std::shared_ptr<SimulatedBackend::Node> SimulatedBackend::MakePath(const std::wstring& path, DWORD leafAttributes) {
    auto parts = Split(path);
    if (parts.empty() || parts[0].size() != 2 || parts[0][1] != L':') return nullptr;
    wchar_t letter = static_cast<wchar_t>(std::towupper(parts[0][0]));
    if (!drives_.count(letter)) drives_[letter] = {DRIVE_FIXED, true};
    auto node = fileRoot_;
    for (size_t i = 0; i < parts.size(); ++i) {
        auto next = node->Child(parts[i]);
        if (!next) {
            next = std::make_shared<Node>();
            next->name = i == 0 ? std::wstring{letter, L':'} : parts[i];
            next->parent = node.get();
            node->children.push_back(next);
        }
        node = next;
    }
    node->attributes = leafAttributes;
    return node;
}

void SimulatedBackend::AddFile(const std::wstring& path, const std::string& contents, DWORD attributes) {
    MakePath(path, attributes & ~FILE_ATTRIBUTE_DIRECTORY)->contents = contents;
}

void SimulatedBackend::AddDirectory(const std::wstring& path, DWORD attributes) {
    MakePath(path, attributes | FILE_ATTRIBUTE_DIRECTORY);
}

void SimulatedBackend::SetShortName(const std::wstring& path, const std::wstring& shortName) {
    if (auto node = Lookup(path)) node->shortName = shortName;
}

void SimulatedBackend::RemoveFile(const std::wstring& path) {
    auto node = Lookup(path);
    if (!node || !node->parent) return;
    auto& siblings = node->parent->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node));
}

bool SimulatedBackend::Exists(const std::wstring& path) const { return Lookup(path) != nullptr; }

void SimulatedBackend::SetCurrentDirectory(const std::wstring& path) { currentDirectory_ = path; }

void SimulatedBackend::SetDrive(wchar_t letter, UINT type, bool mediaPresent) {
    letter = static_cast<wchar_t>(std::towupper(letter));
    drives_[letter] = {type, mediaPresent};
    std::wstring root{letter, L':'};
    if (!fileRoot_->Child(root)) MakePath(root, FILE_ATTRIBUTE_DIRECTORY);
}

DWORD SimulatedBackend::GetFileAttributesW(LPCWSTR path) {
    auto node = path ? Lookup(path) : nullptr;
    if (!node) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return node->attributes;
}

BOOL SimulatedBackend::DeleteFileW(LPCWSTR path) {
    auto node = path ? Lookup(path) : nullptr;
    if (!node || node->IsDirectory()) {
        lastError_ = node ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    RemoveFile(path);
    ++writes_;
    return TRUE;
}

HANDLE SimulatedBackend::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    std::wstring text = Text(pattern);
    size_t slash = text.find_last_of(L"\\/");
    std::wstring directory = slash == std::wstring::npos ? L"" : text.substr(0, slash + 1);
    std::wstring mask = slash == std::wstring::npos ? text : text.substr(slash + 1);
    auto dir = Lookup(directory);
    if (!dir || !dir->IsDirectory() || mask.empty()) {
        lastError_ = dir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Search search;
    auto add = [&](const std::wstring& name, const Node& node) {
        if (!WildcardMatch(mask.c_str(), name.c_str())) return;
        WIN32_FIND_DATAW entry{};
        entry.dwFileAttributes = node.attributes;
        entry.nFileSizeLow = static_cast<DWORD>(node.contents.size());
        wcsncpy(entry.cFileName, name.c_str(), MAX_PATH - 1);
        wcsncpy(entry.cAlternateFileName, node.shortName.c_str(), 13);
        search.entries.push_back(entry);
    };
    bool driveRoot = dir->parent == fileRoot_.get();
    if (!driveRoot) {
        add(L".", *dir);
        add(L"..", *dir->parent);
    }
    for (auto& child : dir->children) add(child->name, *child);
    if (search.entries.empty()) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    *data = search.entries[0];
    search.next = 1;
    ULONG_PTR value = nextHandle_;
    nextHandle_ += 4;
    searches_[value] = std::move(search);
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimulatedBackend::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    auto it = searches_.find(reinterpret_cast<ULONG_PTR>(find));
    if (it == searches_.end()) {
        lastError_ = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (it->second.next >= it->second.entries.size()) {
        lastError_ = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    *data = it->second.entries[it->second.next++];
    return TRUE;
}

BOOL SimulatedBackend::FindClose(HANDLE find) {
    if (searches_.erase(reinterpret_cast<ULONG_PTR>(find)) == 0) {
        ++invalidCloses_;
        lastError_ = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

UINT SimulatedBackend::GetDriveTypeW(LPCWSTR root) {
    std::wstring text = Text(root);
    if (text.size() < 2 || text[1] != L':') return DRIVE_NO_ROOT_DIR;
    auto it = drives_.find(static_cast<wchar_t>(std::towupper(text[0])));
    return it == drives_.end() ? DRIVE_NO_ROOT_DIR : it->second.first;
}

UINT SimulatedBackend::SetErrorMode(UINT mode) { return std::exchange(errorMode_, mode); }

HANDLE SimulatedBackend::CreateFileW(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    std::wstring text = Text(path);
    OpenFile file;
    bool volume = text.size() == 6 && (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) &&
                  text[5] == L':';
    if (volume) {
        wchar_t letter = static_cast<wchar_t>(std::towupper(text[4]));
        if (!drives_.count(letter)) {
            lastError_ = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        file.device = std::wstring(1, letter);
    } else {
        file.node = Lookup(text);
        if (!file.node) {
            lastError_ = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
    }
    ULONG_PTR value = nextHandle_;
    nextHandle_ += 4;
    files_[value] = std::move(file);
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimulatedBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID, DWORD, LPVOID, DWORD, LPDWORD returned,
                                       LPOVERLAPPED) {
    auto it = files_.find(reinterpret_cast<ULONG_PTR>(device));
    if (it == files_.end()) {
        lastError_ = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (returned) *returned = 0;
    if (code != IOCTL_DISK_CHECK_VERIFY || it->second.device.empty()) {
        lastError_ = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
    if (!drives_[it->second.device[0]].second) {
        lastError_ = ERROR_NOT_READY;
        return FALSE;
    }
    return TRUE;
}

BOOL SimulatedBackend::CloseHandle(HANDLE handle) {
    if (files_.erase(reinterpret_cast<ULONG_PTR>(handle)) == 0) {
        ++invalidCloses_;
        lastError_ = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

DWORD SimulatedBackend::GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                                 LPWSTR buffer, DWORD capacity, LPCWSTR file) {
    if (!buffer || capacity == 0) return 0;
    std::wstring result = Text(defaultValue);
    auto node = file ? Lookup(file) : nullptr;
    if (node && !node->IsDirectory() && section && key) {
        auto trim = [](std::wstring s) {
            size_t b = 0, e = s.size();
            while (b < e && std::iswspace(s[b])) ++b;
            while (e > b && std::iswspace(s[e - 1])) --e;
            return s.substr(b, e - b);
        };
        std::wstring text(node->contents.begin(), node->contents.end());
        bool inSection = false;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(L'\n', start);
            std::wstring line = trim(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
            start = end == std::wstring::npos ? text.size() + 1 : end + 1;
            if (line.empty() || line[0] == L';') continue;
            if (line[0] == L'[') {
                size_t close = line.find(L']');
                inSection = close != std::wstring::npos && SameText(trim(line.substr(1, close - 1)), section);
                continue;
            }
            size_t eq = line.find(L'=');
            if (!inSection || eq == std::wstring::npos || !SameText(trim(line.substr(0, eq)), key)) continue;
            result = trim(line.substr(eq + 1));
            if (result.size() >= 2 && (result.front() == L'"' || result.front() == L'\'') &&
                result.back() == result.front())
                result = result.substr(1, result.size() - 2);
            break;
        }
    }
    size_t copied = std::min<size_t>(result.size(), capacity - 1);
    std::copy(result.begin(), result.begin() + copied, buffer);
    buffer[copied] = 0;
    return static_cast<DWORD>(copied);
}

UINT SimulatedBackend::GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR file) {
    wchar_t text[64];
    if (GetPrivateProfileStringW(section, key, L"", text, 64, file) == 0) return static_cast<UINT>(defaultValue);
    // Like Wine: an optional sign and decimal digits; anything else reads as 0.
    const wchar_t* p = text;
    bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+') ++p;
    long long value = 0;
    while (*p >= L'0' && *p <= L'9') value = value * 10 + (*p++ - L'0');
    return static_cast<UINT>(negative ? -value : value);
}

// ---- System information and text ----------------------------------------------------------

UINT SimulatedBackend::GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
    if (!CopyOut(systemDirectory_, buffer, capacity)) return static_cast<UINT>(systemDirectory_.size() + 1);
    return static_cast<UINT>(systemDirectory_.size());
}

UINT SimulatedBackend::GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    if (!CopyOut(windowsDirectory_, buffer, capacity)) return static_cast<UINT>(windowsDirectory_.size() + 1);
    return static_cast<UINT>(windowsDirectory_.size());
}

void SimulatedBackend::SetVersion(DWORD major, DWORD minor, DWORD build) {
    version_ = OSVERSIONINFOW{};
    version_.dwOSVersionInfoSize = sizeof(version_);
    version_.dwMajorVersion = major;
    version_.dwMinorVersion = minor;
    version_.dwBuildNumber = build;
    version_.dwPlatformId = VER_PLATFORM_WIN32_NT;
}

void SimulatedBackend::SetEnvironment(const std::wstring& name, const std::wstring& value) {
    environment_[Upper(name)] = {name, value};
}

DWORD SimulatedBackend::ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) {
    std::wstring text = Text(source), result;
    for (size_t i = 0; i < text.size();) {
        size_t close = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring::npos;
        if (close != std::wstring::npos) {
            auto it = environment_.find(Upper(text.substr(i + 1, close - i - 1)));
            if (it != environment_.end()) {
                result += it->second.second;
                i = close + 1;
                continue;
            }
            // An unknown reference stays as written; its closing % may open the next one.
            result += text.substr(i, close - i);
            i = close;
            continue;
        }
        result += text[i++];
    }
    DWORD needed = static_cast<DWORD>(result.size() + 1);
    CopyOut(result, buffer, capacity);
    return needed;
}

DWORD SimulatedBackend::GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
    std::wstring text = Text(path);
    if (text.empty()) {
        lastError_ = ERROR_INVALID_NAME;
        return 0;
    }
    std::wstring prefix;
    std::wstring rest;
    if (text.rfind(L"\\\\", 0) == 0) {  // UNC and device paths keep their first two components
        prefix = L"\\\\";
        rest = text.substr(2);
    } else if (text.size() >= 2 && text[1] == L':') {
        prefix = std::wstring{static_cast<wchar_t>(std::towupper(text[0])), L':', L'\\'};
        rest = text.substr(2);
        if (rest.empty() || (rest[0] != L'\\' && rest[0] != L'/')) rest = currentDirectory_.substr(3) + L"\\" + rest;
    } else if (text[0] == L'\\' || text[0] == L'/') {
        prefix = currentDirectory_.substr(0, 3);
        rest = text;
    } else {
        prefix = currentDirectory_.substr(0, 3);
        rest = currentDirectory_.substr(3) + L"\\" + text;
    }
    std::vector<std::wstring> parts;
    for (auto& part : Split(rest)) {
        if (part == L".") continue;
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::wstring result = prefix;
    for (size_t i = 0; i < parts.size(); ++i) result += (i ? L"\\" : L"") + parts[i];
    wchar_t last = text.back();
    if ((last == L'\\' || last == L'/') && !parts.empty()) result += L'\\';
    if (!CopyOut(result, buffer, capacity)) return static_cast<DWORD>(result.size() + 1);
    if (filePart) {
        size_t slash = result.find_last_of(L'\\');
        *filePart = slash + 1 < result.size() ? buffer + slash + 1 : nullptr;
    }
    return static_cast<DWORD>(result.size());
}

std::wstring SimulatedBackend::LongPath(const std::wstring& path) const {
    auto node = Lookup(path);
    if (!node) return {};
    std::vector<std::wstring> names;
    for (const Node* n = node.get(); n && n != fileRoot_.get(); n = n->parent) names.push_back(n->name);
    std::wstring result;
    for (auto it = names.rbegin(); it != names.rend(); ++it) result += *it + L"\\";
    if (names.size() > 1) result.pop_back();
    return result;
}

DWORD SimulatedBackend::GetLongPathNameW(LPCWSTR shortPath, LPWSTR buffer, DWORD capacity) {
    std::wstring result = shortPath ? LongPath(shortPath) : std::wstring{};
    if (result.empty()) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    if (!CopyOut(result, buffer, capacity)) return static_cast<DWORD>(result.size() + 1);
    return static_cast<DWORD>(result.size());
}

BOOL SimulatedBackend::GetVersionExW(LPOSVERSIONINFOW info) {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
        lastError_ = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    *info = version_;
    info->dwOSVersionInfoSize = size;
    return TRUE;
}

void SimulatedBackend::SetModulePath(HMODULE module, const std::wstring& path) {
    (module ? libraryPath_ : hostPath_) = path;
}

DWORD SimulatedBackend::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
    const std::wstring& path = module ? libraryPath_ : hostPath_;
    if (!buffer || capacity == 0) return 0;
    if (path.size() + 1 > capacity) {
        std::copy(path.begin(), path.begin() + capacity - 1, buffer);
        buffer[capacity - 1] = 0;
        lastError_ = ERROR_INSUFFICIENT_BUFFER;
        return capacity;
    }
    CopyOut(path, buffer, capacity);
    return static_cast<DWORD>(path.size());
}

int SimulatedBackend::MultiByteToWideChar(UINT, DWORD, LPCCH text, int size, LPWSTR buffer, int capacity) {
    // The simulated ANSI code page is Latin-1: each byte is the character of that number.
    if (!text) return 0;
    size_t count = size < 0 ? std::strlen(text) + 1 : static_cast<size_t>(size);
    if (capacity == 0) return static_cast<int>(count);
    if (!buffer || count > static_cast<size_t>(capacity)) {
        lastError_ = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (size_t i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
    return static_cast<int>(count);
}

void SimulatedBackend::OutputDebugStringW(LPCWSTR text) { debugOutput_.push_back(Text(text)); }

// ---- Shell and COM ------------------------------------------------------------------------

void SimulatedBackend::SetSpecialFolder(int csidl, const std::wstring& path) { specialFolders_[csidl] = path; }

void SimulatedBackend::FailSpecialFolder(int csidl) { specialFolders_.erase(csidl); }

BOOL SimulatedBackend::SHGetSpecialFolderPathW(HWND, LPWSTR buffer, int csidl, BOOL) {
    auto it = specialFolders_.find(csidl & 0xFF);
    if (it == specialFolders_.end() || !CopyOut(it->second, buffer, MAX_PATH)) {
        lastError_ = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    return TRUE;
}

void SimulatedBackend::RegisterClass(REFCLSID clsid, ComFactory factory) {
    classes_.emplace_back(clsid, std::move(factory));
}

void SimulatedBackend::AddShortcut(const std::wstring& path, const std::wstring& target) {
    AddFile(path, "shortcut");
    shortcuts_[Upper(LongPath(path))] = Shortcut{target, S_OK};
}

void SimulatedBackend::SetShortcutLoadFailure(const std::wstring& path, HRESULT result) {
    if (!Exists(path)) AddFile(path, "damaged");
    shortcuts_[Upper(LongPath(path))].loadResult = result;
}

HRESULT SimulatedBackend::LoadShortcut(const std::wstring& path, std::wstring& target) const {
    target.clear();
    auto node = Lookup(path);
    if (!node || node->IsDirectory()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    auto it = shortcuts_.find(Upper(LongPath(path)));
    if (it == shortcuts_.end()) return E_FAIL;  // a file that is not a shortcut
    if (FAILED(it->second.loadResult)) return it->second.loadResult;
    target = it->second.target;
    return S_OK;
}

HRESULT SimulatedBackend::CoCreateInstance(REFCLSID clsid, LPUNKNOWN, DWORD, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!comInitialized_) return CO_E_NOTINITIALIZED;
    for (auto& entry : classes_)
        if (IsEqualCLSID(entry.first, clsid)) return entry.second(iid, object);
    if (IsEqualCLSID(clsid, CLSID_ShellLink)) return CreateSimulatedShellLink(*this, iid, object);
    return REGDB_E_CLASSNOTREG;
}

HRESULT SimulatedBackend::CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*,
                                               DWORD, DWORD, void*, DWORD, void*) {
    ++coSecurityCalls_;
    return coSecurityResult_;
}

size_t SimulatedBackend::OpenHandles() const {
    return openKeys_.size() + searches_.size() + files_.size() + liveComObjects_;
}

}  // namespace platform
