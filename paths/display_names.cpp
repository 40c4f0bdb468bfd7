#include "paths/display_names.h"

#include <string_view>

namespace Tessel {

namespace {

// A root's display name in two parts: the fixed name, then the name of an opened user hive.
struct RootName {
    std::wstring_view fixed;
    std::wstring_view hive;
};

RootName NameRoot(const CAutorunContext& context, HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return {L"HKEY_CLASSES_ROOT", {}};
    if (root == HKEY_CURRENT_USER) return {L"HKEY_CURRENT_USER", {}};
    if (root == HKEY_LOCAL_MACHINE) return {L"HKEY_LOCAL_MACHINE", {}};
    if (root == HKEY_USERS) return {L"HKEY_USERS", {}};
    if (!root) return {L"NULL", {}};
    // The context keeps the hive, and its name, for the whole scan.
    if (auto hive = context.FindUserHive(root)) return {L"HKEY_USERS\\", hive->name};
    return {L"UNKNOWN", {}};
}

}  // namespace

std::wstring GetRootDisplayName(const CAutorunContext& context, HKEY root) {
    RootName name = NameRoot(context, root);
    return std::wstring(name.fixed).append(name.hive);
}

std::wstring BuildRegistryLocation(const CAutorunContext& context, HKEY root, const std::wstring& keyPath,
                                   const std::wstring& valueName) {
    RootName name = NameRoot(context, root);
    std::wstring location;
    // Room for the separators "\", "\[" and "]" as well: one allocation.
    location.reserve(name.fixed.size() + name.hive.size() + keyPath.size() + valueName.size() + 4);
    location.append(name.fixed).append(name.hive);
    if (keyPath.empty()) return location;
    location.append(1, L'\\').append(keyPath);
    if (!valueName.empty()) location.append(L"\\[").append(valueName).append(1, L']');
    return location;
}

}  // namespace Tessel
