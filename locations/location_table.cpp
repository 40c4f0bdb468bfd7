#include "locations/location_table.h"

#include "locations/routines.h"

namespace Tessel {

// Row order is scan order: the host receives every item of a row before any item of the next.
// Columns: id, scan, repair, root, key path, subkey, value name, flag, extra.
const LocationRow kAutorunLocations[kAutorunLocationCount + 1] = {
    {0x10200001, ScanServices, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},  // 1
    {0x10300001, ScanScheduledTasks, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},  // 2
    {0x10400001, ScanStartupFolder, RepairStartupFolderItem, nullptr, nullptr, nullptr, nullptr, 0, 24},  // 3
    {0x10400002, ScanStartupFolder, RepairStartupFolderItem, nullptr, nullptr, nullptr, nullptr, 0, 7},  // 4
    {0x10400003, ScanStartupFolder, RepairStartupFolderItem, nullptr, nullptr, nullptr, nullptr, 0, 30},  // 5
    {0x10400004, ScanStartupFolder, RepairStartupFolderItem, nullptr, nullptr, nullptr, nullptr, 0, 29},  // 6
    {0x10500001, ScanDriveAutorun, RepairDriveAutorun, nullptr, nullptr, nullptr, nullptr, 0, 0},  // 7
    {0x10101001, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Terminal Server\\Wds\\rdpwd", L"StartupPrograms", 0, 0},  // 8
    {0x10101002, ScanSingleFileListValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"AppSetup", 0, 0},  // 9
    {0x10101003, ScanNestedSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts", L"Startup", L"Script", 0, 0},  // 10
    {0x10101004, ScanNestedSubkeyValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts", L"Logon", L"Script", 0, 0},  // 11
    {0x10101005, ScanNestedSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts", L"Logon", L"Script", 0, 0},  // 12
    {0x10101006, ScanSingleFileListValue, RepairUserinit, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"Userinit", 0, 0},  // 13
    {0x10101007, ScanSingleValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Policies\\System", L"Shell", 0, 0},  // 14
    {0x10101008, ScanSingleValue, RepairShell, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"Shell", 0, 0},  // 15
    {0x10101009, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Policies\\System", L"Shell", 0, 0},  // 16
    {0x1010100A, ScanSingleValue, RepairShell, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"Shell", 0, 0},  // 17
    {0x1010100B, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"Runonce", nullptr, 0, 0},  // 18
    {0x1010100C, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"RunonceEx", nullptr, 0, 0},  // 19
    {0x1010100D, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"Run", nullptr, 0, 0},  // 20
    {0x1010100E, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Run", nullptr, 0, 0},  // 21
    {0x1010100F, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"RunOnceEx", nullptr, 0, 0},  // 22
    {0x10101010, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"RunOnce", nullptr, 0, 0},  // 23
    {0x10101011, ScanSingleValue, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Windows", L"load", 0, 0},  // 24
    {0x10101012, ScanSingleValue, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Windows", L"run", 0, 0},  // 25
    {0x10101013, ScanKeyValues, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Policies\\Explorer\\Run", nullptr, 0, 0},  // 26
    {0x10101014, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Policies\\Explorer\\Run", nullptr, 0, 0},  // 27
    {0x10101015, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Run", nullptr, 0, 0},  // 28
    {0x10101016, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"RunOnce", nullptr, 0, 0},  // 29
    {0x10101017, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"Runonce", nullptr, 0, 0},  // 30
    {0x10101018, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"RunonceEx", nullptr, 0, 0},  // 31
    {0x10101019, ScanKeyValues, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion", L"Run", nullptr, 0, 0},  // 32
    {0x1010101A, ScanNestedSubkeyValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts", L"Logoff", L"Script", 0, 0},  // 33
    {0x1010101B, ScanNestedSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts", L"Shutdown", L"Script", 0, 0},  // 34
    {0x10102001, ScanSubkeyClsidValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Protocols\\Filter", L"CLSID", 0, 0},  // 35
    {0x10102002, ScanSubkeyClsidValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Protocols\\Handler", L"CLSID", 0, 0},  // 36
    {0x10102003, ScanSubkeyValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Desktop\\Components", L"Source", 1, 0},  // 37
    {0x10102004, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Active Setup\\Installed Components", L"StubPath", 0, 0},  // 38
    {0x10102005, ScanSubkeyValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Active Setup\\Installed Components", L"StubPath", 0, 0},  // 39
    {0x10102006, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\SharedTaskScheduler", nullptr, 0, 0},  // 40
    {0x10102007, ScanClsidValueData, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ShellServiceObjectDelayLoad", L"CLSID", 0, 0},  // 41
    {0x10102008, ScanClsidValueData, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ShellServiceObjectDelayLoad", L"CLSID", 0, 0},  // 42
    {0x10102009, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\ShellExecuteHooks", nullptr, 0, 0},  // 43
    {0x1010200A, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"*\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 44
    {0x1010200B, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"*\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 45
    {0x1010200C, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"AllFileSystemObjects\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 46
    {0x1010200D, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"AllFileSystemObjects\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 47
    {0x1010200E, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 48
    {0x1010200F, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 49
    {0x1010200E, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\DragDropHandlers", nullptr, 0, 0},  // 50
    {0x1010200F, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\DragDropHandlers", nullptr, 0, 0},  // 51
    {0x10102012, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\PropertySheetHandlers", nullptr, 0, 0},  // 52
    {0x10102013, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\PropertySheetHandlers", nullptr, 0, 0},  // 53
    {0x10102014, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\CopyHookHandlers", nullptr, 0, 0},  // 54
    {0x10102015, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Directory\\ShellEx\\CopyHookHandlers", nullptr, 0, 0},  // 55
    {0x10102016, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Folder\\ShellEx\\ColumnHandlers", nullptr, 0, 0},  // 56
    {0x10102017, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Folder\\ShellEx\\ColumnHandlers", nullptr, 0, 0},  // 57
    {0x10102018, ScanSubkeyClsidValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Folder\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 58
    {0x10102019, ScanSubkeyClsidValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Folder\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 59
    {0x1010201A, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Directory\\Background\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 60
    {0x1010201B, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Directory\\Background\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 61
    {0x1010201C, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\ShellIconOverlayIdentifiers", nullptr, 0, 0},  // 62
    {0x1010201D, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\ShellIconOverlayIdentifiers", nullptr, 0, 0},  // 63
    {0x1010201E, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Ctf\\LangBarAddin", nullptr, 0, 0},  // 64
    {0x1010201F, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Ctf\\LangBarAddin", nullptr, 0, 0},  // 65
    {0x10102020, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Shell Extensions\\Approved", nullptr, 0, 0},  // 66
    {0x10102021, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Shell Extensions\\Approved", nullptr, 0, 0},  // 67
    {0x10103001, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\Browser Helper Objects", nullptr, 0, 0},  // 68
    {0x10103009, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Explorer\\Browser Helper Objects", nullptr, 0, 0},  // 69
    {0x10103002, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\UrlSearchHooks", nullptr, 0, 0},  // 70
    {0x10103010, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\UrlSearchHooks", nullptr, 0, 0},  // 71
    {0x10103003, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Toolbar", nullptr, 0, 0},  // 72
    {0x10103008, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Toolbar", nullptr, 0, 0},  // 73
    {0x10103004, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Explorer Bars", nullptr, 0, 0},  // 74
    {0x10103005, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Explorer Bars", nullptr, 0, 0},  // 75
    {0x10103006, ScanSubkeyValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Extensions", L"Exec", 0, 0},  // 76
    {0x10103007, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Extensions", L"Exec", 0, 0},  // 77
    {0x10103006, ScanSubkeyClsidValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Extensions", L"clsid", 0, 0},  // 78
    {0x10103007, ScanSubkeyClsidValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\Extensions", L"clsid", 0, 0},  // 79
    {0x10107001, ScanKeyValues, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Drivers32", nullptr, 0, 0},  // 80
    {0x10107002, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Filter", nullptr, 0, 0},  // 81
    {0x10107003, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance", nullptr, 0, 0},  // 82
    {0x10107004, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"CLSID\\{AC757296-3522-4E11-9862-C17BE5A1767E}\\Instance", nullptr, 0, 0},  // 83
    {0x10107005, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance", nullptr, 0, 0},  // 84
    {0x10107006, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"CLSID\\{ABE3B9A4-257D-4B97-BD1A-294AF496222E}\\Instance", nullptr, 0, 0},  // 85
    {0x10108001, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager", L"BootExecute", 0, 0},  // 86
    {0x10108002, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager", L"SetupExecute", 0, 0},  // 87
    {0x10108003, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager", L"Execute", 0, 0},  // 88
    {0x10108004, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager", L"S0InitialCommand", 0, 0},  // 89
    {0x10108005, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet", L"Control", L"ServiceControlManagerExtension", 0, 0},  // 90
    {0x10109001, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Image File Execution Options", L"Debugger", 0, 0},  // 91
    {0x10109002, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Command Processor", L"Autorun", 0, 0},  // 92
    {0x10109003, ScanSingleValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Command Processor", L"Autorun", 0, 0},  // 93
    {0x10109004, ScanSingleValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Classes", L"Exefile\\Shell\\Open\\Command", nullptr, 1, 0},  // 94
    {0x10109005, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"Exefile\\Shell\\Open\\Command", nullptr, 1, 0},  // 95
    {0x1010A001, ScanSingleFileListValue, RepairAppInitDlls, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Windows", L"AppInit_DLLs", 0, 0},  // 96
    {0x1010B001, ScanKeyValues, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager\\KnownDlls", nullptr, 1, 0},  // 97
    {0x1010C001, ScanSingleValue, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"ServiceControllerStart", 0, 0},  // 98
    {0x1010C002, ScanSingleValue, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"LsaStart", 0, 0},  // 99
    {0x1010C003, ScanSingleValue, RepairWinlogonSystem, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"System", 0, 0},  // 100
    {0x1010C004, ScanSingleValue, RepairUIHost, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"UIHost", 0, 0},  // 101
    {0x1010C005, ScanSubkeyValue, RepairDeleteKey, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon\\Notify", L"DLLName", 0, 0},  // 102
    {0x1010C006, ScanSingleValue, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"GinaDLL", 0, 0},  // 103
    {0x1010C007, ScanSingleValue, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"Taskman", 0, 0},  // 104
    {0x1010C008, ScanSingleValue, RepairDeleteValue, HKEY_CURRENT_USER, L"Control Panel", L"Desktop", L"ScrnSave.exe", 0, 0},  // 105
    {0x1010C009, ScanSingleValue, RepairDeleteValue, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"BootVerificationProgram", L"ImagePath", 1, 0},  // 106
    {0x1010C00A, ScanSingleValue, RepairDeleteValue, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"Winlogon", L"SaveDumpStart", 0, 0},  // 107
    {0x1010D001, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services", L"WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries", L"LibraryPath", 0, 0},  // 108
    {0x1010D002, ScanWinsockCatalog, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services", L"WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries", L"PackedCatalogItem", 0, 0},  // 109
    {0x1010E001, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Print\\Monitors", L"Driver", 0, 0},  // 110
    {0x1010F001, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"SecurityProviders", L"SecurityProviders", 0, 0},  // 111
    {0x1010F002, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Lsa", L"Authentication Packages", 0, 0},  // 112
    {0x1010F003, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Lsa", L"Notification Packages", 0, 0},  // 113
    {0x1010F004, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Lsa", L"Security Packages", 0, 0},  // 114
    {0x1010F005, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Authentication\\Credential Providers", nullptr, 0, 0},  // 115
    {0x1010F006, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Authentication\\Credential Provider Filters", nullptr, 0, 0},  // 116
    {0x1010F007, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Authentication\\PLAP Providers", nullptr, 0, 0},  // 117
    {0x10110001, ScanNetworkProviders, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"NetworkProvider\\Order", L"ProviderOrder", 0, 0},  // 118
    {0x10600001, ScanInputMethods, RepairInputMethod, HKEY_CURRENT_USER, nullptr, nullptr, nullptr, 0, 0},  // 119
    {0x10600002, ScanMuiCache, nullptr, HKEY_CLASSES_ROOT, L"Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache", nullptr, nullptr, 0, 0},  // 120
    {0x10600003, ScanMuiCache, nullptr, HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache", nullptr, nullptr, 0, 0},  // 121
    {0x10700010, ScanOpenCommand, RepairExefileCommand, HKEY_CLASSES_ROOT, L".exe", L"open", nullptr, 0, 0},  // 122
    {0x10700011, ScanOpenCommand, RepairExefileCommand, HKEY_CLASSES_ROOT, L".exe", L"runas", nullptr, 0, 0},  // 123
    {0x10700020, ScanOpenCommand, RepairTxtfileCommand, HKEY_CLASSES_ROOT, L".txt", L"open", nullptr, 0, 0},  // 124
    {0x10700030, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".asf", L"open", nullptr, 0, 0},  // 125
    {0x10700040, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".avi", L"open", nullptr, 0, 0},  // 126
    {0x10700050, ScanOpenCommand, RepairBatfileOpenCommand, HKEY_CLASSES_ROOT, L".bat", L"open", nullptr, 0, 0},  // 127
    {0x10700051, ScanOpenCommand, RepairBatfileRunasCommand, HKEY_CLASSES_ROOT, L".bat", L"runas", nullptr, 0, 0},  // 128
    {0x10700060, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".chm", L"open", nullptr, 0, 0},  // 129
    {0x10700070, ScanOpenCommand, RepairCmdfileOpenCommand, HKEY_CLASSES_ROOT, L".cmd", L"open", nullptr, 0, 0},  // 130
    {0x10700071, ScanOpenCommand, RepairCmdfileRunasCommand, HKEY_CLASSES_ROOT, L".cmd", L"runas", nullptr, 0, 0},  // 131
    {0x10700080, ScanOpenCommand, RepairComfileCommand, HKEY_CLASSES_ROOT, L".com", L"open", nullptr, 0, 0},  // 132
    {0x10700090, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".gif", L"open", nullptr, 0, 0},  // 133
    {0x107000A0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".hlp", L"open", nullptr, 0, 0},  // 134
    {0x107000B0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".hta", L"open", nullptr, 0, 0},  // 135
    {0x107000C0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".htm", L"open", nullptr, 0, 0},  // 136
    {0x107000D0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".html", L"open", nullptr, 0, 0},  // 137
    {0x107000E0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".inf", L"open", nullptr, 0, 0},  // 138
    {0x107000F0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".ini", L"open", nullptr, 0, 0},  // 139
    {0x10700100, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".jpg", L"open", nullptr, 0, 0},  // 140
    {0x10700110, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".jpeg", L"open", nullptr, 0, 0},  // 141
    {0x10700120, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".m3u", L"open", nullptr, 0, 0},  // 142
    {0x10700130, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".reg", L"open", nullptr, 0, 0},  // 143
    {0x10700140, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".wma", L"open", nullptr, 0, 0},  // 144
    {0x10700150, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".mp3", L"open", nullptr, 0, 0},  // 145
    {0x10700160, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".mpg", L"open", nullptr, 0, 0},  // 146
    {0x10700170, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".mpeg", L"open", nullptr, 0, 0},  // 147
    {0x10700180, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".pif", L"open", nullptr, 0, 0},  // 148
    {0x10700190, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".scr", L"open", nullptr, 0, 0},  // 149
    {0x107001A0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".vbs", L"open", nullptr, 0, 0},  // 150
    {0x107001B0, ScanOpenCommand, nullptr, HKEY_CLASSES_ROOT, L".js", L"open", nullptr, 0, 0},  // 151
    {0x10510002, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"WOW", L"cmdline", 0, 0},  // 152
    {0x10510003, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"WOW", L"wowcmdline", 0, 0},  // 153
    {0x10510004, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Code Store Database\\Distribution Units", nullptr, 0, 0},  // 154
    {0x10510005, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Shared Tools\\MSConfig\\startupreg", L"command", 0, 0},  // 155
    {0x10510006, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Rpc\\ClientProtocols", L"ncacn_http", 0, 0},  // 156
    {0x10510007, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Rpc\\ClientProtocols", L"ncacn_ip_tcp", 0, 0},  // 157
    {0x10510008, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Rpc\\ClientProtocols", L"ncacn_np", 0, 0},  // 158
    {0x10510009, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Rpc\\ClientProtocols", L"ncadg_ip_udp", 0, 0},  // 159
    {0x10510010, ScanKeyValues, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Rpc\\SecurityService", nullptr, 0, 0},  // 160
    {0x10510011, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager\\Environment", L"ComSpec", 0, 0},  // 161
    {0x10510012, ScanSubkeyValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"App Paths", nullptr, 0, 0},  // 162
    {0x10510013, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Ext\\Stats", nullptr, 0, 0},  // 163
    {0x10510014, ScanClsidHandlers, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"Ext\\Stats", nullptr, 0, 0},  // 164
    {0x10510015, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Internet Explorer\\MenuExt", nullptr, 0, 0},  // 165
    {0x10510016, ScanSingleValue, nullptr, HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft", L"Internet Explorer\\MenuExt", nullptr, 0, 0},  // 166
    {0x10510017, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"*", L"shellex\\ContextMenuHandlers", nullptr, 0, 0},  // 167
    {0x10510018, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"AllFilesystemObjects", L"shellex\\ContextMenuHandlers", nullptr, 0, 0},  // 168
    {0x10510019, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Directory", L"shellex\\ContextMenuHandlers", nullptr, 0, 0},  // 169
    {0x10510020, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Folder", L"shellex\\ContextMenuHandlers", nullptr, 0, 0},  // 170
    {0x10510021, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Directory", L"Background\\ShellEx\\ContextMenuHandlers", nullptr, 0, 0},  // 171
    {0x10510022, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\shell", nullptr, 0, 0},  // 172
    {0x10510023, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{450D8FBA-AD25-11D0-98A8-0800361B1103}\\shell", nullptr, 0, 0},  // 173
    {0x10510024, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{208D2C60-3AEA-1069-A2D7-08002B30309D}\\shell", nullptr, 0, 0},  // 174
    {0x10510025, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{7be9d83c-a729-4d97-b5a7-1b7313c39e0a}\\shell", nullptr, 0, 0},  // 175
    {0x10510026, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{48e7caab-b918-4e58-a94d-505519c795dc}\\shell", nullptr, 0, 0},  // 176
    {0x10510027, ScanShellVerbCommands, nullptr, HKEY_CLASSES_ROOT, L"CLSID", L"{871C5380-42A0-1069-A2EA-08002B30309D}\\shell", nullptr, 0, 0},  // 177
    {0x10510028, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Directory", L"shellex\\PropertySheetHandlers", nullptr, 0, 0},  // 178
    {0x10510029, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Directory", L"shellex\\CopyHookHandlers", nullptr, 0, 0},  // 179
    {0x10510030, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Directory", L"shellex\\DragDropHandlers", nullptr, 0, 0},  // 180
    {0x10510032, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Folder", L"shellex\\ColumnHandlers", nullptr, 0, 0},  // 181
    {0x10510034, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Folder", L"shellex\\DragDropHandlers", nullptr, 0, 0},  // 182
    {0x10510035, ScanClsidHandlers, nullptr, HKEY_CLASSES_ROOT, L"Folder", L"shellex\\PropertySheetHandlers", nullptr, 0, 0},  // 183
    {0x10510036, ScanClsidHandlers, nullptr, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", L"Active Setup\\Installed Components", nullptr, 0, 0},  // 184
    {0x10510038, ScanSingleValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager\\AppCertDlls", L"AppSecDll", 0, 0},  // 185
    {0x10510039, ScanMultiStringValue, nullptr, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Session Manager", L"PendingFileRenameOperations", 0, 0},  // 186
    {0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},
};

std::wstring BuildLocationPath(const LocationRow& row) {
    if (!row.keyPath || !*row.keyPath) return {};
    std::wstring path = row.keyPath;
    if (row.subkey && *row.subkey) {
        path += L'\\';
        path += row.subkey;
    }
    return path;
}

}  // namespace Tessel
