#include "paths/display_names.h"

namespace Tessel {

std::wstring GetRootDisplayName(const CAutorunContext& context, HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return L"HKEY_USERS";
    if (!root) return L"NULL";
    if (auto hive = context.FindUserHive(root)) return L"HKEY_USERS\\" + hive->name;
    return L"UNKNOWN";
}

std::wstring BuildRegistryLocation(const CAutorunContext& context, HKEY root, const std::wstring& keyPath,
                                   const std::wstring& valueName) {
    std::wstring location = GetRootDisplayName(context, root);
    if (keyPath.empty()) return location;
    location += L'\\';
    location += keyPath;
    if (!valueName.empty()) location += L"\\[" + valueName + L"]";
    return location;
}

}  // namespace Tessel
