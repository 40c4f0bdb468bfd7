// The construction operations scan routines report entries through: each builds one item, fills
// its location text, resolves its command text into files and queues it. An entry that does not
// meet the operation's condition, or whose item cannot be allocated, is dropped.
#include <cwchar>
#include <utility>

#include "paths/command_line.h"
#include "paths/display_names.h"
#include "paths/path_primitives.h"
#include "scanner/com_object.h"
#include "scanner/items.h"

namespace Tessel {

namespace {

std::wstring Text(LPCWSTR text) { return text ? text : L""; }

// A new item holding the first reference, or null when it cannot be allocated. The row copy's
// root may be a user hive; the item keeps that hive open while it lives, and repairs on the
// context's platform.
template <typename Item, typename... Args>
platform::ComPtr<QComObject<Item>> NewItem(const CAutorunContext& context, const LocationRow* row, Args&&... args) {
    platform::ComPtr<QComObject<Item>> item(
        QComObject<Item>::Create(*row, context.FindUserHive(row->root), std::forward<Args>(args)...));
    if (item) item->SetBackend(context.Backend());
    return item;
}

// Counted only: nothing depends on the outcome.
void ProbeUnresolvedText(CAutorunContext& context, const std::wstring& text) { FileExists(context, text); }

// The first file a text of the entry at location resolves to, into field; probed when nothing is
// found and probe is set.
void ResolveFirstFile(CAutorunContext& context, const std::wstring& location, const std::wstring& text,
                      std::wstring& field, bool probe) {
    if (text.empty()) return;
    FileList files;
    ResolveCommandLine(context, text, files, nullptr, location);
    if (!files.empty()) field = std::move(files.front());
    else if (probe) ProbeUnresolvedText(context, text);
}

enum class RegResolution { FileList, Command, ValueNameCommand };

void AddRegItem(CAutorunContext& context, const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                LPCWSTR valueData, RegResolution resolution) {
    if (!valueData || !*valueData) return;
    // The texts are built once, in the item, and read back from it.
    auto item = NewItem<CAtrunItem_Reg>(context, row, root, Text(keyPath), Text(valueName), std::wstring(valueData));
    if (!item) return;
    const std::wstring &path = item->KeyPath(), &name = item->ValueName(), &data = item->ValueData();
    item->SetLocation(BuildRegistryLocation(context, root, path, name));
    const std::wstring& entry = item->Location();
    int found = 0;
    switch (resolution) {
        case RegResolution::FileList: found = ResolveFileList(context, data, item->Files(), entry); break;
        case RegResolution::Command: found = ResolveCommandLine(context, data, item->Files(), nullptr, entry); break;
        case RegResolution::ValueNameCommand:
            found = ResolveCommandLine(context, name, item->Files(), nullptr, entry);
            break;
    }
    if (!found && row->flag == 0) ProbeUnresolvedText(context, data);
    context.QueueItem(item.Get());
}

}  // namespace

void CAutorunContext::AddRegFileListValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                          LPCWSTR valueData) {
    AddRegItem(*this, row, root, keyPath, valueName, valueData, RegResolution::FileList);
}

void CAutorunContext::AddRegCommandValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                         LPCWSTR valueData) {
    AddRegItem(*this, row, root, keyPath, valueName, valueData, RegResolution::Command);
}

void CAutorunContext::AddRegValueNameCommand(const LocationRow* row, HKEY root, LPCWSTR keyPath,
                                             LPCWSTR valueName, LPCWSTR valueData) {
    AddRegItem(*this, row, root, keyPath, valueName, valueData, RegResolution::ValueNameCommand);
}

void CAutorunContext::AddService(const LocationRow* row, LPCWSTR serviceName, DWORD serviceType, DWORD,
                                 LPCWSTR imagePath, LPCWSTR serviceDll, LPCWSTR, LPCWSTR, LPCWSTR application) {
    auto item = NewItem<CAtrunItem_Service>(*this, row, serviceType);
    if (!item) return;
    const std::wstring_view servicesKey = L"HKLM\\System\\CurrentControlSet\\Services\\";
    const std::wstring_view name = serviceName ? serviceName : L"";
    std::wstring location;
    location.reserve(servicesKey.size() + name.size());
    location.append(servicesKey).append(name);
    item->SetLocation(std::move(location));
    const std::wstring& entry = item->Location();
    bool typeKnown = serviceType != 0xFFFFFFFFu;
    ResolveFirstFile(*this, entry, Text(imagePath), item->imageFile, typeKnown);
    ResolveFirstFile(*this, entry, Text(serviceDll), item->serviceDllFile, serviceType == SERVICE_WIN32_SHARE_PROCESS);
    ResolveFirstFile(*this, entry, Text(application), item->applicationFile, typeKnown);
    QueueItem(item.Get());
}

void CAutorunContext::AddScheduledTask(const LocationRow* row, LPCWSTR taskName, LPCWSTR programPath,
                                       LPCWSTR arguments) {
    auto item = NewItem<CAtrunItem_ScheduledTask>(*this, row);
    if (!item) return;
    item->SetLocation(Text(taskName));
    for (const std::wstring& text : {Text(programPath), Text(arguments)}) {
        int found = text.empty() ? 0 : ResolveCommandLine(*this, text, item->Files(), nullptr, item->Location());
        if (!found) ProbeUnresolvedText(*this, text);
    }
    QueueItem(item.Get());
}

void CAutorunContext::AddStartupFile(const LocationRow* row, LPCWSTR, LPCWSTR filePath) {
    std::wstring path = Text(filePath);
    auto item = NewItem<CAtrunItem_StartupFolder>(*this, row, path);
    if (!item) return;
    item->SetLocation(path);
    if (!EqualsNoCase(std::wstring_view(path).substr(FindExtension(path)), L".lnk")) {
        // Checked directly, whatever the skip-probe flag, and not counted.
        if (!path.empty() && platform::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            item->Files().push_back(path);
    } else {
        std::wstring target;
        if (FAILED(GetShortcutTarget(path, target))) {
            item->Files().push_back(path);
        } else {
            ResolveCommandLine(*this, target, item->Files(), nullptr, item->Location());
            if (item->Files().empty()) ProbeUnresolvedText(*this, target);
        }
    }
    QueueItem(item.Get());
}

void CAutorunContext::AddIniCommand(const LocationRow* row, LPCWSTR iniPath, LPCWSTR section, LPCWSTR keyName,
                                    LPCWSTR value) {
    std::wstring path = Text(iniPath), text = Text(value);
    auto item = NewItem<CAtrunItem_StartupIni>(*this, row, path, Text(section), Text(keyName), text);
    if (!item) return;
    item->SetLocation(path);
    std::wstring directory = path;
    RemoveFileName(directory);
    const DirectoryList extraDirs{directory};
    int found = ResolveCommandLine(*this, text, item->Files(), &extraDirs, item->Location());
    if (text.empty() || !found || item->Files().empty()) ProbeUnresolvedText(*this, text);
    QueueItem(item.Get());
}

void CAutorunContext::AddInputMethod(const LocationRow* row, DWORD preloadIndex, LPCWSTR layoutId, LPCWSTR imeFile,
                                     LPCWSTR layoutFile) {
    auto item = NewItem<CAtrunItem_Ime>(*this, row, preloadIndex, Text(layoutId));
    if (!item) return;
    wchar_t index[16];
    std::swprintf(index, 16, L"[%lu]", static_cast<unsigned long>(preloadIndex));
    item->SetLocation(std::wstring(L"HKCU\\Keyboard Layout\\Preload\\") + index);
    const std::wstring& entry = item->Location();
    ResolveFirstFile(*this, entry, Text(imeFile), item->imeFile, true);
    ResolveFirstFile(*this, entry, Text(layoutFile), item->layoutFile, true);
    QueueItem(item.Get());
}

void CAutorunContext::AddShellCommand(const LocationRow* row, LPCWSTR progId, LPCWSTR command) {
    std::wstring text = Text(command);
    if (text.empty()) return;
    auto item = NewItem<CAtrunItem_ShlCmd>(*this, row, Text(progId));
    if (!item) return;
    item->SetLocation(Text(row->subkey) + L" " + Text(row->keyPath));
    int found = ResolveCommandLine(*this, text, item->Files(), nullptr, item->Location());
    if (!found && row->flag == 0) ProbeUnresolvedText(*this, text);
    QueueItem(item.Get());
}

}  // namespace Tessel
