#include "repair/repair_effect.h"

#include <windows.h>

#include <vector>

#include "win/text.h"

namespace zvscan {

namespace {

const wchar_t kWinlogonPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The library's repair routines, by what they write.
enum class RepairKind {
    None, DeleteValue, DeleteKey, Userinit, Shell, AppInitDlls, WinlogonValue, StartupFile, AutorunFile,
    InputMethod, OpenCommand
};

struct KindRange {
    unsigned long first, last;
    RepairKind kind;
};
const KindRange kKinds[] = {
    {0x1010100B, 0x10101019, RepairKind::DeleteValue},  // run keys, the Windows load and run values
    {0x1010C001, 0x1010C002, RepairKind::DeleteValue},  // ServiceControllerStart, LsaStart
    {0x1010C006, 0x1010C00A, RepairKind::DeleteValue},  // GinaDLL, Taskman, ScrnSave.exe, ImagePath, SaveDumpStart
    {0x1010C005, 0x1010C005, RepairKind::DeleteKey},     // Winlogon Notify package
    {0x10101006, 0x10101006, RepairKind::Userinit},
    {0x10101008, 0x10101008, RepairKind::Shell},
    {0x1010100A, 0x1010100A, RepairKind::Shell},
    {0x1010A001, 0x1010A001, RepairKind::AppInitDlls},
    {0x1010C003, 0x1010C004, RepairKind::WinlogonValue},  // System, UIHost
    {0x10400001, 0x10400004, RepairKind::StartupFile},
    {0x10500001, 0x10500001, RepairKind::AutorunFile},
    {0x10600001, 0x10600001, RepairKind::InputMethod},
};

struct OpenCommandRepair {
    unsigned long id;
    const wchar_t* progId;
    const char* type;
    const wchar_t* command;
    bool isolated;  // also writes IsolatedCommand from Windows 6 on
};
const OpenCommandRepair kOpenCommands[] = {
    {0x10700010, L"exefile", "REG_SZ", L"\"%1\" %*", true},
    {0x10700011, L"exefile", "REG_SZ", L"\"%1\" %*", true},
    {0x10700020, L"txtfile", "REG_EXPAND_SZ", L"%SystemRoot%\\System32\\notepad.exe %1", false},
    {0x10700050, L"batfile", "REG_SZ", L"\"%1\" %*", false},
    {0x10700051, L"batfile", "REG_EXPAND_SZ", L"%SystemRoot%\\System32\\cmd.exe /C \"%1\" %*", false},
    {0x10700070, L"cmdfile", "REG_SZ", L"\"%1\" %*", false},
    {0x10700071, L"cmdfile", "REG_EXPAND_SZ", L"%SystemRoot%\\System32\\cmd.exe /C \"%1\" %*", false},
    {0x10700080, L"comfile", "REG_SZ", L"\"%1\" %*", false},
};

RepairKind KindOf(const ItemRecord& record) {
    if (!record.repairable) return RepairKind::None;
    for (const KindRange& range : kKinds)
        if (record.id >= range.first && record.id <= range.last) return range.kind;
    for (const OpenCommandRepair& repair : kOpenCommands)
        if (repair.id == record.id) return RepairKind::OpenCommand;
    return RepairKind::None;
}

// The version the library sees in this process: it asks GetVersionExW, which a compatibility
// setting can change, so the host asks the same.
unsigned long MajorVersionAsSeen() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExW(&info) ? info.dwMajorVersion : 0;
}

std::string AlreadyNote(const std::wstring& current, const std::wstring& written) {
    return current == written ? " (it holds that already: nothing will change)" : "";
}

std::string ValueOfKey(const std::wstring& name, const std::wstring& root, const std::wstring& path) {
    return "value " + (name.empty() ? std::string("(default)") : Utf8(name)) + " of key " + Utf8(root + L"\\" + path);
}

// The entries of a library list value: separated by commas or blanks.
std::vector<std::wstring> ListEntries(const std::wstring& text) {
    std::vector<std::wstring> entries;
    std::wstring entry;
    for (wchar_t c : text + L",") {
        if (c == L',' || c == L' ' || c == L'\t') {
            if (!entry.empty()) entries.push_back(entry);
            entry.clear();
            continue;
        }
        entry += c;
    }
    return entries;
}

std::string AppInitEffect(const ItemRecord& record, const std::wstring& requestFile) {
    std::vector<std::wstring> others;
    for (const std::wstring& entry : ListEntries(record.valueData))
        if (!EqualsIgnoreCase(entry, requestFile)) others.push_back(entry);
    std::string text = "clears AppInit_DLLs";
    if (record.valueData.empty()) return text + " (it is empty already: nothing will change)";
    if (others.empty()) return text;
    text += requestFile.empty() ? " (removes " : " (also removes ";
    for (size_t i = 0; i < others.size(); ++i) text += (i ? ", " : "") + Utf8(others[i]);
    return text + ")";
}

}  // namespace

std::string DescribeRepairEffect(const ItemRecord& record, const std::wstring& requestFile) {
    switch (KindOf(record)) {
        case RepairKind::None:
            return {};
        case RepairKind::DeleteValue:
            return "deletes " + ValueOfKey(record.valueName, record.root, record.keyPath);
        case RepairKind::DeleteKey:
            return "deletes key " + Utf8(record.root + L"\\" + record.keyPath) + " with all its values and subkeys";
        case RepairKind::Userinit: {
            wchar_t system[MAX_PATH] = {};
            UINT length = GetSystemDirectoryW(system, MAX_PATH);
            if (length == 0 || length >= MAX_PATH) return "restores Userinit to the system folder's userinit.exe";
            std::wstring written = std::wstring(system, length) + L"\\userinit.exe,";
            return "restores Userinit to " + Utf8(written) + AlreadyNote(record.valueData, written);
        }
        case RepairKind::Shell:
            return "restores Shell to explorer.exe" + AlreadyNote(record.valueData, L"explorer.exe");
        case RepairKind::AppInitDlls:
            return AppInitEffect(record, requestFile);
        case RepairKind::WinlogonValue:
            return (MajorVersionAsSeen() < 6 ? "empties " : "deletes ") +
                   ValueOfKey(record.valueName, record.root, kWinlogonPath);
        case RepairKind::StartupFile:
            return "deletes file " + Utf8(record.filePath);
        case RepairKind::AutorunFile:
            return "deletes file " + Utf8(record.iniPath) + " (the whole file, with every command in it)";
        case RepairKind::InputMethod:
            return "removes layout " + Utf8(record.layoutId) + " (entry " + std::to_string(record.preloadIndex) +
                   ") from the preload list of " +
                   (record.hive.empty() ? std::string("the current user") : Utf8(L"HKEY_USERS\\" + record.hive)) +
                   ", moving the later entries down";
        case RepairKind::OpenCommand:
            break;
    }
    for (const OpenCommandRepair& repair : kOpenCommands) {
        if (repair.id != record.id) continue;
        std::string command = Utf8(std::wstring(repair.progId) + L"\\shell\\" + record.verb + L"\\command");
        std::string text = "writes " + Utf8(repair.command) + " (" + repair.type + ") as the command of " + command;
        if (repair.isolated && MajorVersionAsSeen() >= 6) text += " and as its IsolatedCommand";
        return text + ", and points " + Utf8(record.extension) + " at " + Utf8(repair.progId);
    }
    return {};
}

}  // namespace zvscan
