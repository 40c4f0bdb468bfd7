#include "platform/offline/offline_backend.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

#include <mstask.h>
#include <shlobj.h>
#include <taskschd.h>

#include "diag/debug_log.h"
#include "platform/offline/shell_link.h"
#include "platform/offline/tasks/task_files.h"

namespace platform {
namespace offline {

namespace {

constexpr wchar_t kMachine[] = L"HKEY_LOCAL_MACHINE\\";
constexpr wchar_t kUsers[] = L"HKEY_USERS\\";
constexpr wchar_t kConfig[] = L"Windows\\System32\\config\\";
constexpr wchar_t kProfileList[] = L"Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kCurrentControlSet[] = L"CurrentControlSet";

// Handles of every offline backend come from one sequence, so a handle of one image is never
// mistaken for a key of another.
std::atomic<ULONG_PTR> g_nextHandle{0x10000};

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool SameText(const wchar_t* a, size_t na, const wchar_t* b, size_t nb) {
    if (na != nb) return false;
    for (size_t i = 0; i < na; ++i)
        if (UpcaseChar(a[i]) != UpcaseChar(b[i])) return false;
    return true;
}
bool SameText(const std::wstring& a, const std::wstring& b) { return SameText(a.data(), a.size(), b.data(), b.size()); }

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = UpcaseChar(c);
    return text;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies text and its terminator when both fit capacity characters.
bool CopyOut(const std::wstring& text, LPWSTR buffer, DWORD capacity) {
    if (!buffer || text.size() + 1 > capacity) return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

// Replaces a leading %name% (compared without regard to case) by replacement.
bool ReplaceVariable(std::wstring& path, const wchar_t* name, const std::wstring& replacement) {
    size_t length = std::wcslen(name);
    if (path.size() < length || !SameText(path.data(), length, name, length)) return false;
    path = replacement + path.substr(length);
    return true;
}

}  // namespace

OfflineBackend::~OfflineBackend() = default;

void OfflineBackend::ReportDamage(size_t hive, const std::wstring& what) const {
    std::wstring line = hives_[hive].path + L": " + what;
    if (!damageReported_.insert(line).second) return;
    Tessel::LogDebug(Tessel::kLogWarn, L"[zavel] offline hive damaged: %ls\r\n", line.c_str());
}

int OfflineBackend::AddHive(const std::wstring& mount, const std::wstring& relativePath, bool required) {
    size_t index = hives_.size();
    hives_.push_back(ImageHive{mount, relativePath, {}, nullptr});
    ImageHive& entry = hives_.back();
    entry.hive = OpenHiveFile(root_ + L"\\" + relativePath, readLogs_, entry.report,
                              [this, index](const std::wstring& what) { ReportDamage(index, what); });
    const HiveFileReport& report = entry.report;
    if (!entry.hive) {
        bool missing = report.fileError == ERROR_FILE_NOT_FOUND || report.fileError == ERROR_PATH_NOT_FOUND;
        if (missing && !required) {
            hives_.pop_back();
            return -1;
        }
        std::wstring why = report.fileError != ERROR_SUCCESS
                               ? (missing ? std::wstring(L"missing")
                                          : L"cannot be read (error " + std::to_wstring(report.fileError) + L")")
                               : std::wstring(L"not a readable hive: ") + HiveOpenErrorText(report.openError);
        notes_.push_back(mount + L": " + relativePath + L" " + why + L"; its keys are absent");
        return -1;
    }
    if (report.dirty) {
        std::wstring line = mount + L": " + relativePath + L" is dirty (sequence numbers " +
                            std::to_wstring(report.primarySequence) + L" and " +
                            std::to_wstring(report.secondarySequence) + L"); ";
        if (report.replay.entries) {
            line += std::to_wstring(report.replay.entries) + L" log entries applied from ";
            for (size_t i = 0; i < report.replay.logs.size(); ++i) line += (i ? L", " : L"") + report.replay.logs[i];
        } else {
            line += L"no usable log (" + report.replay.refused + L"): its data may be stale";
        }
        notes_.push_back(line);
    }
    if (entry.hive->Truncated())
        notes_.push_back(mount + L": " + relativePath +
                         L" is shorter than its header says; keys past its end are absent");
    return static_cast<int>(index);
}

std::unique_ptr<OfflineBackend> OfflineBackend::Open(const ImageOptions& options, DWORD& error) {
    error = ERROR_SUCCESS;
    std::wstring root = options.root;
    while (root.size() > 3 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    DWORD attributes = ::GetFileAttributesW(root.c_str());
    if (root.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    std::unique_ptr<OfflineBackend> backend(new OfflineBackend());
    backend->root_ = root;
    backend->readLogs_ = options.readLogs;
    backend->LearnRootCase();
    backend->software_ =
        backend->AddHive(std::wstring(kMachine) + L"SOFTWARE", std::wstring(kConfig) + L"SOFTWARE", true);
    backend->system_ = backend->AddHive(std::wstring(kMachine) + L"SYSTEM", std::wstring(kConfig) + L"SYSTEM", true);
    backend->AddHive(std::wstring(kUsers) + L".DEFAULT", std::wstring(kConfig) + L"DEFAULT", true);

    // CurrentControlSet is the control set SYSTEM\Select names current, as at boot.
    Place select;
    if (backend->system_ >= 0 && backend->HiveRoot(std::wstring(kMachine) + L"SYSTEM", select) &&
        backend->Walk(select, L"Select", select)) {
        KeyNode key;
        ValueNode value;
        DWORD current = 0;
        const Hive& hive = *backend->hives_[backend->system_].hive;
        if (backend->KeyOf(select.layers[0], key) && hive.FindValue(key, L"Current", 7, value) &&
            value.type == REG_DWORD && value.DataSize() == 4 &&
            hive.ReadData(value, reinterpret_cast<uint8_t*>(&current))) {
            wchar_t name[32];
            std::swprintf(name, 32, L"ControlSet%03lu", static_cast<unsigned long>(current));
            KeyNode rootKey, set;
            if (hive.ReadKey(hive.RootCell(), rootKey) && hive.FindSubkey(rootKey, name, std::wcslen(name), set))
                backend->currentControlSet_ = set.cell;
        }
        if (backend->currentControlSet_ == kNoCell)
            backend->notes_.push_back(
                L"HKEY_LOCAL_MACHINE\\SYSTEM: Select names no control set; CurrentControlSet is absent");
    }
    backend->LoadProfiles(options.user, error);
    if (error != ERROR_SUCCESS) return nullptr;
    backend->LoadEnvironment();
    return backend;
}

// HKEY_USERS holds every profile of ProfileList whose hive the image has; HKEY_CURRENT_USER is the
// profile asked for, or else the user profile whose hive was written last (the last to log off),
// or else .DEFAULT.
void OfflineBackend::LoadProfiles(const std::wstring& requestedUser, DWORD& error) {
    std::wstring systemRoot = L"Windows";
    Place list;
    std::vector<std::pair<std::wstring, std::wstring>> profiles;  // SID, profile folder relative to the root
    if (software_ >= 0 && HiveRoot(std::wstring(kMachine) + L"SOFTWARE", list)) {
        const Hive& hive = *hives_[software_].hive;
        Place version;
        KeyNode key;
        ValueNode value;
        if (Walk(list, L"Microsoft\\Windows NT\\CurrentVersion", version) && KeyOf(version.layers[0], key) &&
            hive.FindValue(key, L"SystemRoot", 10, value) && IsText(value.type) && value.DataSize() < 1024) {
            std::wstring text(value.DataSize() / 2, L'\0');
            if (hive.ReadData(value, reinterpret_cast<uint8_t*>(&text[0]))) {
                text.resize(std::wcslen(text.c_str()));
                if (text.size() > 3 && text[1] == L':') systemRoot = text.substr(3);
                while (!systemRoot.empty() && systemRoot.back() == L'\\') systemRoot.pop_back();
            }
        }
        Place profileList;
        KeyNode listKey;
        if (Walk(list, kProfileList, profileList) && KeyOf(profileList.layers[0], listKey)) {
            for (uint32_t i = 0, n = hive.SubkeyCount(listKey); i < n && profiles.size() < 4096; ++i) {
                KeyNode profile;
                if (!hive.SubkeyAt(listKey, i, profile)) continue;
                ValueNode path;
                if (!hive.FindValue(profile, L"ProfileImagePath", 16, path) || !IsText(path.type) ||
                    path.DataSize() > 2048)
                    continue;
                std::wstring folder(path.DataSize() / 2, L'\0');
                if (!hive.ReadData(path, reinterpret_cast<uint8_t*>(&folder[0]))) continue;
                folder.resize(std::wcslen(folder.c_str()));
                // The profile folder on the image's volume: its drive, or the variables naming it, dropped.
                if (!ReplaceVariable(folder, L"%SystemDrive%", L"") &&
                    !ReplaceVariable(folder, L"%SystemRoot%", L"\\" + systemRoot) && folder.size() >= 2 &&
                    folder[1] == L':')
                    folder = folder.substr(2);
                while (!folder.empty() && folder[0] == L'\\') folder.erase(0, 1);
                if (!folder.empty()) profiles.emplace_back(profile.Name(), folder);
            }
        }
    }

    systemRoot_ = L"C:\\" + systemRoot;
    int chosen = -1;
    std::wstring chosenSid, chosenWhy, chosenFolder;
    FILETIME latest{};
    bool found = requestedUser.empty();
    for (const auto& profile : profiles) {
        const std::wstring& sid = profile.first;
        int user = AddHive(kUsers + sid, profile.second + L"\\NTUSER.DAT", true);
        if (user < 0) continue;
        int classes = AddHive(kUsers + sid + L"_Classes",
                              profile.second + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", false);
        if (classes < 0)
            classes = AddHive(kUsers + sid + L"_Classes",
                              profile.second + L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat",
                              false);
        if (classes < 0) {
            notes_.push_back(kUsers + sid + L"_Classes: the profile has no UsrClass.dat; its classes are absent");
        } else {
            const Hive& hive = *hives_[user].hive;
            KeyNode rootKey, software;
            if (hive.ReadKey(hive.RootCell(), rootKey) && hive.FindSubkey(rootKey, L"Software", 8, software))
                classesLinks_.push_back({user, software.cell, classes});
        }
        size_t slash = profile.second.find_last_of(L'\\');
        std::wstring folderName = slash == std::wstring::npos ? profile.second : profile.second.substr(slash + 1);
        if (!requestedUser.empty()) {
            if (SameText(requestedUser, sid) || SameText(requestedUser, folderName)) {
                chosen = user;
                chosenSid = sid;
                chosenWhy = L"asked for";
                chosenFolder = profile.second;
                found = true;
            }
            continue;
        }
        FILETIME written = hives_[user].hive->LastWritten();
        if (StartsWith(sid, L"S-1-5-21-") && (chosen < 0 || CompareFileTime(&written, &latest) > 0)) {
            chosen = user;
            chosenSid = sid;
            latest = written;
            chosenWhy = L"the user profile whose hive was written last";
            chosenFolder = profile.second;
        }
    }
    if (!found) {
        error = ERROR_NO_SUCH_USER;
        return;
    }
    if (chosen < 0) {
        Place defaultUser;
        if (HiveRoot(std::wstring(kUsers) + L".DEFAULT", defaultUser)) {
            chosenSid = L".DEFAULT";
            chosenWhy = L"no user profile has a hive";
        }
    }
    currentUser_ = chosenSid;
    if (!chosenFolder.empty()) userProfile_ = L"C:\\" + chosenFolder;
    notes_.push_back(chosenSid.empty()
                         ? std::wstring(L"HKEY_CURRENT_USER: no profile and no .DEFAULT hive; it is empty")
                         : L"HKEY_CURRENT_USER: " + std::wstring(kUsers) + chosenSid + L" (" + chosenWhy + L")");
}

bool OfflineBackend::HiveRoot(const std::wstring& mount, Place& place) const {
    for (size_t i = 0; i < hives_.size(); ++i) {
        if (!hives_[i].hive || !SameText(hives_[i].mount, mount)) continue;
        place = Place{};
        place.layers[0] = Layer{static_cast<int>(i), hives_[i].hive->RootCell()};
        place.layerCount = 1;
        place.depth = 1;
        return true;
    }
    return false;
}

bool OfflineBackend::KeyOf(const Layer& layer, KeyNode& key) const {
    if (layer.hive < 0 || static_cast<size_t>(layer.hive) >= hives_.size() || !hives_[layer.hive].hive) return false;
    return hives_[layer.hive].hive->ReadKey(layer.cell, key);
}

bool OfflineBackend::PlaceOf(HKEY key, Place& place) const {
    place = Place{};
    if (key == HKEY_LOCAL_MACHINE) {
        place.kind = Place::Kind::Machine;
        return true;
    }
    if (key == HKEY_USERS) {
        place.kind = Place::Kind::Users;
        return true;
    }
    if (key == HKEY_CURRENT_USER) {
        if (!currentUser_.empty()) HiveRoot(kUsers + currentUser_, place);
        return true;
    }
    if (key == HKEY_CLASSES_ROOT) {
        // The user's classes over the machine's, as Windows merges them.
        Place user, machine;
        if (!currentUser_.empty() && HiveRoot(kUsers + currentUser_ + L"_Classes", user))
            place.layers[place.layerCount++] = user.layers[0];
        if (HiveRoot(std::wstring(kMachine) + L"SOFTWARE", machine) && Walk(machine, L"Classes", machine))
            place.layers[place.layerCount++] = machine.layers[0];
        place.depth = 1;
        return true;
    }
    auto found = handles_.find(reinterpret_cast<ULONG_PTR>(key));
    if (found == handles_.end()) return false;
    place = found->second.place;
    return true;
}

bool OfflineBackend::Child(const Place& parent, const wchar_t* name, size_t length, Place& child) const {
    child = Place{};
    if (parent.depth >= kMaxKeyDepth) return false;
    if (parent.kind != Place::Kind::Keys) {
        const wchar_t* prefix = parent.kind == Place::Kind::Machine ? kMachine : kUsers;
        for (size_t i = 0; i < hives_.size(); ++i) {
            const std::wstring& mount = hives_[i].mount;
            size_t skip = std::wcslen(prefix);
            if (!hives_[i].hive || !StartsWith(mount, prefix) ||
                !SameText(mount.data() + skip, mount.size() - skip, name, length))
                continue;
            child.layers[0] = Layer{static_cast<int>(i), hives_[i].hive->RootCell()};
            child.layerCount = 1;
            child.depth = 1;
            return true;
        }
        return false;
    }
    for (int i = 0; i < parent.layerCount; ++i) {
        const Layer& layer = parent.layers[i];
        const Hive& hive = *hives_[layer.hive].hive;
        if (layer.hive == system_ && layer.cell == hive.RootCell() && currentControlSet_ != kNoCell &&
            SameText(name, length, kCurrentControlSet, std::wcslen(kCurrentControlSet))) {
            child.layers[child.layerCount++] = Layer{layer.hive, currentControlSet_};
            continue;
        }
        auto link = std::find_if(classesLinks_.begin(), classesLinks_.end(), [&](const ClassesLink& l) {
            return l.userHive == layer.hive && l.softwareCell == layer.cell;
        });
        if (link != classesLinks_.end() && SameText(name, length, L"Classes", 7)) {
            child.layers[child.layerCount++] = Layer{link->classesHive, hives_[link->classesHive].hive->RootCell()};
            continue;
        }
        KeyNode key, subkey;
        if (KeyOf(layer, key) && hive.FindSubkey(key, name, length, subkey))
            child.layers[child.layerCount++] = Layer{layer.hive, subkey.cell};
    }
    child.depth = parent.depth + 1;
    return child.layerCount > 0;
}

bool OfflineBackend::Walk(Place place, LPCWSTR path, Place& result) const {
    if (path) {
        for (const wchar_t* p = path; *p;) {
            const wchar_t* end = p;
            while (*end && *end != L'\\') ++end;
            if (end != p) {
                Place child;
                if (end - p > 255 || !Child(place, p, static_cast<size_t>(end - p), child)) return false;
                place = child;
            }
            p = *end ? end + 1 : end;
        }
    }
    result = place;
    return true;
}

OfflineBackend::OpenKey* OfflineBackend::Opened(HKEY key) {
    auto found = handles_.find(reinterpret_cast<ULONG_PTR>(key));
    if (found != handles_.end()) return &found->second;
    auto cached = predefined_.find(reinterpret_cast<ULONG_PTR>(key));
    if (cached != predefined_.end()) return &cached->second;
    Place place;
    if (!PlaceOf(key, place)) return nullptr;
    OpenKey& open = predefined_[reinterpret_cast<ULONG_PTR>(key)];
    open.place = place;
    return &open;
}

const std::vector<OfflineBackend::Listed>& OfflineBackend::Subkeys(OpenKey& open) const {
    if (open.subkeysListed) return open.subkeys;
    open.subkeysListed = true;
    const Place& place = open.place;
    if (place.kind != Place::Kind::Keys) {
        const wchar_t* prefix = place.kind == Place::Kind::Machine ? kMachine : kUsers;
        for (size_t i = 0; i < hives_.size(); ++i)
            if (hives_[i].hive && StartsWith(hives_[i].mount, prefix))
                open.subkeys.push_back({hives_[i].mount.substr(std::wcslen(prefix)),
                                        Layer{static_cast<int>(i), hives_[i].hive->RootCell()}});
        return open.subkeys;
    }
    std::set<std::wstring> seen;
    for (int i = 0; i < place.layerCount; ++i) {
        const Layer& layer = place.layers[i];
        const Hive& hive = *hives_[layer.hive].hive;
        KeyNode key;
        if (!KeyOf(layer, key)) continue;
        for (uint32_t k = 0, n = hive.SubkeyCount(key); k < n; ++k) {
            KeyNode subkey;
            if (!hive.SubkeyAt(key, k, subkey)) continue;
            std::wstring name = subkey.Name();
            if (place.layerCount > 1 && !seen.insert(Upper(name)).second) continue;
            open.subkeys.push_back({std::move(name), Layer{layer.hive, subkey.cell}});
        }
        if (layer.hive == system_ && layer.cell == hive.RootCell() && currentControlSet_ != kNoCell)
            open.subkeys.push_back({kCurrentControlSet, Layer{layer.hive, currentControlSet_}});
    }
    bool merged = place.layerCount > 1 || (open.subkeys.size() && open.subkeys.back().name == kCurrentControlSet);
    if (merged)
        std::stable_sort(open.subkeys.begin(), open.subkeys.end(),
                         [](const Listed& a, const Listed& b) { return Upper(a.name) < Upper(b.name); });
    return open.subkeys;
}

const std::vector<uint32_t>& OfflineBackend::Values(OpenKey& open) const {
    if (open.valuesListed) return open.values;
    open.valuesListed = true;
    if (open.place.kind != Place::Kind::Keys || open.place.layerCount == 0) return open.values;
    const Layer& layer = open.place.layers[0];
    const Hive& hive = *hives_[layer.hive].hive;
    KeyNode key;
    if (!KeyOf(layer, key)) return open.values;
    for (uint32_t i = 0, n = hive.ValueCount(key); i < n; ++i) {
        ValueNode value;
        if (hive.ValueAt(key, i, value) && hive.ReadData(value, nullptr)) open.values.push_back(i);
    }
    return open.values;
}

bool OfflineBackend::ValueOf(OpenKey& open, LPCWSTR name, ValueNode& value) const {
    if (open.place.kind != Place::Kind::Keys || open.place.layerCount == 0) return false;
    const Layer& layer = open.place.layers[0];
    KeyNode key;
    if (!KeyOf(layer, key)) return false;
    const Hive& hive = *hives_[layer.hive].hive;
    return hive.FindValue(key, name ? name : L"", name ? std::wcslen(name) : 0, value) && hive.ReadData(value, nullptr);
}

LSTATUS OfflineBackend::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Place parent, target;
    if (!PlaceOf(key, parent)) return ERROR_INVALID_HANDLE;
    if (!Walk(parent, subKey, target)) return ERROR_FILE_NOT_FOUND;
    // Any access is granted: the writes themselves are what an image refuses.
    ULONG_PTR handle = g_nextHandle.fetch_add(4);
    handles_[handle].place = target;
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LSTATUS OfflineBackend::RegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                                        PHKEY result, LPDWORD) {
    if (result) *result = nullptr;
    return ERROR_ACCESS_DENIED;
}

LSTATUS OfflineBackend::RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) {
    DWORD size = capacity;
    return RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS OfflineBackend::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD, LPWSTR className,
                                      LPDWORD classCapacity, PFILETIME lastWrite) {
    OpenKey* open = Opened(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (!capacity) return ERROR_INVALID_PARAMETER;
    const auto& subkeys = Subkeys(*open);
    if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const Listed& listed = subkeys[index];
    if (!CopyOut(listed.name, name, *capacity)) return ERROR_MORE_DATA;
    *capacity = static_cast<DWORD>(listed.name.size());
    KeyNode node;
    bool readable = KeyOf(listed.key, node);
    if (lastWrite) *lastWrite = readable ? node.lastWrite : FILETIME{};
    if (classCapacity) {
        std::wstring text;
        if (readable) hives_[listed.key.hive].hive->ReadClass(node, text);
        if (className && !CopyOut(text, className, *classCapacity)) return ERROR_MORE_DATA;
        *classCapacity = static_cast<DWORD>(text.size());
    }
    return ERROR_SUCCESS;
}

LSTATUS OfflineBackend::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD, LPDWORD type,
                                      LPBYTE data, LPDWORD dataSize) {
    OpenKey* open = Opened(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (!capacity) return ERROR_INVALID_PARAMETER;
    const auto& values = Values(*open);
    if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
    const Layer& layer = open->place.layers[0];
    const Hive& hive = *hives_[layer.hive].hive;
    KeyNode node;
    ValueNode value;
    if (!KeyOf(layer, node) || !hive.ValueAt(node, values[index], value)) return ERROR_NO_MORE_ITEMS;
    if (!value.CopyName(name, *capacity)) return ERROR_MORE_DATA;
    *capacity = static_cast<DWORD>(value.NameChars());
    if (type) *type = value.type;
    if (dataSize) {
        DWORD needed = value.DataSize();
        if (data) {
            if (*dataSize < needed) {
                *dataSize = needed;
                return ERROR_MORE_DATA;
            }
            hive.ReadData(value, data);
        }
        *dataSize = needed;
    }
    return ERROR_SUCCESS;
}

LSTATUS OfflineBackend::RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classCapacity, LPDWORD, LPDWORD subKeys,
                                         LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                                         LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                                         PFILETIME lastWrite) {
    OpenKey* open = Opened(key);
    if (!open) return ERROR_INVALID_HANDLE;
    DWORD longestKey = 0, longestClass = 0, longestName = 0, longestData = 0;
    const auto& subkeys = Subkeys(*open);
    for (const Listed& listed : subkeys) {
        longestKey = std::max(longestKey, static_cast<DWORD>(listed.name.size()));
        KeyNode node;
        if (maxClassLen && KeyOf(listed.key, node)) longestClass = std::max<DWORD>(longestClass, node.classLength / 2);
    }
    const auto& listedValues = Values(*open);
    KeyNode node;
    bool own =
        open->place.kind == Place::Kind::Keys && open->place.layerCount > 0 && KeyOf(open->place.layers[0], node);
    if (own) {
        const Hive& hive = *hives_[open->place.layers[0].hive].hive;
        for (uint32_t index : listedValues) {
            ValueNode value;
            if (!hive.ValueAt(node, index, value)) continue;
            longestName = std::max(longestName, static_cast<DWORD>(value.NameChars()));
            longestData = std::max<DWORD>(longestData, value.DataSize());
        }
    }
    if (classCapacity) {
        std::wstring text;
        if (own) hives_[open->place.layers[0].hive].hive->ReadClass(node, text);
        if (className && !CopyOut(text, className, *classCapacity)) return ERROR_MORE_DATA;
        *classCapacity = static_cast<DWORD>(text.size());
    }
    if (subKeys) *subKeys = static_cast<DWORD>(subkeys.size());
    if (maxSubKeyLen) *maxSubKeyLen = longestKey;
    if (maxClassLen) *maxClassLen = longestClass;
    if (values) *values = static_cast<DWORD>(listedValues.size());
    if (maxValueNameLen) *maxValueNameLen = longestName;
    if (maxValueLen) *maxValueLen = longestData;
    if (securityDescriptor) {
        DWORD size = 0;
        if (own) hives_[open->place.layers[0].hive].hive->SecurityDescriptorSize(node, size);
        *securityDescriptor = size;
    }
    if (lastWrite) *lastWrite = own ? node.lastWrite : FILETIME{};
    return ERROR_SUCCESS;
}

LSTATUS OfflineBackend::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    OpenKey* open = Opened(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    ValueNode value;
    if (!ValueOf(*open, name, value)) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value.type;
    if (!dataSize) return ERROR_SUCCESS;
    DWORD needed = value.DataSize();
    if (data) {
        if (*dataSize < needed) {
            *dataSize = needed;
            return ERROR_MORE_DATA;
        }
        hives_[open->place.layers[0].hive].hive->ReadData(value, data);
        // As Windows does, a string read into a larger buffer gets a terminator after its data.
        if (IsText(value.type) && *dataSize >= needed + sizeof(wchar_t)) {
            data[needed] = 0;
            data[needed + 1] = 0;
        }
    }
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS OfflineBackend::RegSetValueExW(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }
LSTATUS OfflineBackend::RegDeleteValueW(HKEY, LPCWSTR) { return ERROR_ACCESS_DENIED; }
LSTATUS OfflineBackend::SHDeleteKeyW(HKEY, LPCWSTR) { return ERROR_ACCESS_DENIED; }

LSTATUS OfflineBackend::RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_USERS || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    return handles_.erase(reinterpret_cast<ULONG_PTR>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

BOOL OfflineBackend::DeleteFileW(LPCWSTR) {
    Win32().SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// An image has no drives with media: whatever the scanning machine has in its drives is not the
// image's.
UINT OfflineBackend::GetDriveTypeW(LPCWSTR) { return DRIVE_NO_ROOT_DIR; }
UINT OfflineBackend::SetErrorMode(UINT mode) { return Win32().SetErrorMode(mode); }

DWORD OfflineBackend::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
    return Win32().GetModuleFileNameW(module, buffer, capacity);
}
int OfflineBackend::MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR buffer, int capacity) {
    return Win32().MultiByteToWideChar(codePage, flags, text, size, buffer, capacity);
}
void OfflineBackend::OutputDebugStringW(LPCWSTR text) { Win32().OutputDebugStringW(text); }
DWORD OfflineBackend::GetLastError() { return Win32().GetLastError(); }
void OfflineBackend::SetLastError(DWORD error) { Win32().SetLastError(error); }

// Shortcuts and scheduled tasks are read from the image's files; no other object is created.
HRESULT OfflineBackend::CoCreateInstance(REFCLSID clsid, LPUNKNOWN, DWORD, REFIID iid, LPVOID* object) {
    if (IsEqualCLSID(clsid, CLSID_ShellLink)) return CreateOfflineShellLink(*this, iid, object);
    bool service = IsEqualCLSID(clsid, CLSID_TaskScheduler);
    if (service || IsEqualCLSID(clsid, CLSID_CTaskScheduler)) {
        if (!object) return E_POINTER;
        *object = nullptr;
        try {
            std::shared_ptr<TaskTree> tree = service ? ReadImageTaskFolders(*this) : ReadImageWorkItems(*this);
            tree->objectCount = [this](int change) { liveTaskObjects_ += change; };
            return service ? CreateTaskService(tree, iid, object) : CreateTaskScheduler1(tree, iid, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    if (object) *object = nullptr;
    return REGDB_E_CLASSNOTREG;
}
// The image's scheduler is read from its files: no service is called, and the process's own COM
// security is the host's business.
HRESULT OfflineBackend::CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD,
                                             DWORD, void*, DWORD, void*) {
    return S_OK;
}
void OfflineBackend::CoTaskMemFree(LPVOID memory) { Win32().CoTaskMemFree(memory); }
BSTR OfflineBackend::SysAllocString(const OLECHAR* text) { return Win32().SysAllocString(text); }
void OfflineBackend::SysFreeString(BSTR text) { Win32().SysFreeString(text); }

}  // namespace offline
}  // namespace platform
