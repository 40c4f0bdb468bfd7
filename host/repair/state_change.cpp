#include "repair/state_change.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "win/handles.h"
#include "win/text.h"

namespace zvscan {

namespace {

using Parts = std::map<std::wstring, StatePart>;

// Names compare without regard to case, as the registry compares them; a key's name cannot hold the
// separator.
std::wstring PartId(const std::wstring& key, const std::optional<std::wstring>& value) {
    return value ? Folded(key) + std::wstring(1, L'\0') + Folded(*value) : Folded(key);
}

void AddTree(const RegistryTree& tree, const std::wstring& key, Parts& parts) {
    parts[PartId(key, std::nullopt)] = {key, std::nullopt, true, REG_NONE, {}};
    for (const RegistryValue& value : tree.values)
        parts[PartId(key, value.name)] = {key, value.name, true, value.type, value.data};
    for (const RegistryTree& subkey : tree.subkeys)
        AddTree(subkey, key.empty() ? subkey.name : key + L"\\" + subkey.name, parts);
}

Parts Flatten(const TargetState& state) {
    Parts parts;
    if (state.target.kind == TargetKind::File) {
        StatePart file{{}, std::nullopt, state.exists, REG_NONE, {}};
        if (state.exists) file.data = state.sha256 + " " + std::to_string(state.attributes);
        parts[PartId({}, std::nullopt)] = file;
        return parts;
    }
    if (state.exists) AddTree(state.tree, {}, parts);
    return parts;
}

// The part under this id, or its absence.
StatePart Find(const Parts& parts, const StatePart& like) {
    auto found = parts.find(PartId(like.key, like.value));
    if (found != parts.end()) return found->second;
    return {like.key, like.value, false, REG_NONE, {}};
}

bool Same(const StatePart& a, const StatePart& b) {
    if (a.present != b.present) return false;
    return !a.present || (a.type == b.type && a.data == b.data);
}

std::wstring Parent(const std::wstring& key) {
    size_t slash = key.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

size_t Depth(const std::wstring& key) {
    return key.empty() ? 0 : 1 + static_cast<size_t>(std::count(key.begin(), key.end(), L'\\'));
}

[[noreturn]] void Fail(const std::string& what, LONG error) {
    throw std::runtime_error(what + " (error " + std::to_string(error) + ")");
}

std::wstring KeyPath(const Target& target, const std::wstring& key) {
    return key.empty() ? target.path : target.path + L"\\" + key;
}

// The text of a string value up to its first terminator.
std::string StringData(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (c == L'\0') break;
        text += c;
    }
    return Utf8(text);
}

}  // namespace

std::vector<PartChange> ChangedParts(const TargetState& before, const TargetState& after) {
    Parts was = Flatten(before), left = Flatten(after);
    std::vector<PartChange> changes;
    for (const auto& [id, part] : was) {
        StatePart then = Find(left, part);
        if (!Same(part, then)) changes.push_back({before.target, part, then});
    }
    for (const auto& [id, part] : left)
        if (was.find(id) == was.end()) changes.push_back({before.target, Find(was, part), part});
    return changes;
}

std::vector<PartDrift> DriftSince(const std::vector<PartChange>& changes, const TargetState& after,
                                  const TargetState& current) {
    Parts left = Flatten(after), now = Flatten(current);
    std::vector<PartDrift> drift;
    auto check = [&](const Target& target, const StatePart& expected) {
        StatePart there = Find(now, expected);
        if (Same(expected, there)) return;
        for (const PartDrift& known : drift)
            if (PartId(known.left.key, known.left.value) == PartId(expected.key, expected.value)) return;
        drift.push_back({target, expected, there});
    };
    for (const PartChange& change : changes) {
        // The key that held the part after the repair counts too: a key deleted since is a change.
        const StatePart& part = change.after;
        if (change.target.kind == TargetKind::Key && (part.value || !part.key.empty()))
            check(change.target, Find(left, {part.value ? part.key : Parent(part.key), std::nullopt, false, REG_NONE, {}}));
        check(change.target, part);
    }
    return drift;
}

void RestoreParts(const std::vector<PartChange>& changes, const TargetState& before) {
    if (changes.empty()) return;
    const Target& target = changes.front().target;
    if (target.kind == TargetKind::File) {
        Restore(before);
        return;
    }
    std::wstring prefix;
    HKEY predefined = PredefinedKey(target.root, prefix);
    std::vector<const PartChange*> ordered;
    for (const PartChange& change : changes) ordered.push_back(&change);
    // Keys that come back go first, parents before children; values next; keys that go, last,
    // children before parents.
    auto rank = [](const PartChange* change) {
        if (change->before.value) return 1;
        return change->before.present ? 0 : 2;
    };
    std::stable_sort(ordered.begin(), ordered.end(), [&](const PartChange* a, const PartChange* b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        if (rank(a) == 0) return Depth(a->before.key) < Depth(b->before.key);
        if (rank(a) == 2) return Depth(a->before.key) > Depth(b->before.key);
        return false;
    });
    for (const PartChange* change : ordered) {
        const StatePart& part = change->before;
        std::wstring path = prefix + KeyPath(target, part.key);
        std::string where = Utf8(target.root + L"\\" + KeyPath(target, part.key));
        if (!part.present && !part.value) {
            LONG status = RegDeleteTreeW(predefined, path.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Fail("cannot delete " + where, status);
            continue;
        }
        if (!part.present) {
            RegKey key;
            LONG status = RegOpenKeyExW(predefined, path.c_str(), 0, KEY_SET_VALUE, key.Put());
            if (status == ERROR_FILE_NOT_FOUND) continue;
            if (status != ERROR_SUCCESS) Fail("cannot open " + where, status);
            status = RegDeleteValueW(key.Get(), part.value->c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                Fail("cannot delete " + where + "\\[" + Utf8(*part.value) + "]", status);
            continue;
        }
        RegKey key;
        LONG status = RegCreateKeyExW(predefined, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, key.Put(), nullptr);
        if (status != ERROR_SUCCESS) Fail("cannot create " + where, status);
        if (part.value) SetValue(key.Get(), {*part.value, part.type, part.data}, where);
    }
}

std::vector<PartChange> NotRestored(const std::vector<PartChange>& changes, const TargetState& current) {
    Parts now = Flatten(current);
    std::vector<PartChange> left;
    for (const PartChange& change : changes)
        if (!Same(change.before, Find(now, change.before))) left.push_back(change);
    return left;
}

std::string DescribePart(const Target& target, const StatePart& part) {
    if (target.kind == TargetKind::File) return Utf8(target.path);
    std::string text = Utf8(target.root + L"\\" + KeyPath(target, part.key));
    return part.value ? text + "\\[" + Utf8(*part.value) + "]" : text;
}

std::string DescribeContent(const StatePart& part) {
    if (!part.present) return "absent";
    if (!part.value) return part.data.empty() ? "present" : "a file, sha256 " + part.data.substr(0, 12) + "...";
    switch (part.type) {
        case REG_SZ:
            return "REG_SZ \"" + StringData(part.data) + "\"";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ \"" + StringData(part.data) + "\"";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ of " + std::to_string(part.data.size()) + " bytes";
        case REG_DWORD:
            if (part.data.size() == 4) {
                unsigned long number = 0;
                for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(part.data[i]);
                return "REG_DWORD " + std::to_string(number);
            }
            break;
        default:
            break;
    }
    return "type " + std::to_string(part.type) + ", " + std::to_string(part.data.size()) + " bytes";
}

}  // namespace zvscan
