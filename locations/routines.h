// The scan and repair routines the location table names, grouped by the file that holds them.
#pragma once

#include <string>
#include <vector>

#include "locations/location_table.h"
#include "paths/shell_folders.h"
#include "platform/handles.h"

namespace Tessel {

// What every repair does first: the item's kind interface, E_POINTER for a null item, or the
// query's failure.
template <typename Kind>
HRESULT QueryItemKind(IZVAutorunItemEx* item, REFIID iid, platform::ComPtr<Kind>& kind) {
    if (!item) return E_POINTER;
    return item->QueryInterface(iid, kind.PutVoid());
}

// locations/registry_scans.cpp
HRESULT ScanKeyValues(IAutorunContext* context, const LocationRow* row);
HRESULT ScanSubkeyValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanNestedSubkeyValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanShellVerbCommands(IAutorunContext* context, const LocationRow* row);
HRESULT ScanClsidHandlers(IAutorunContext* context, const LocationRow* row);
HRESULT ScanSubkeyClsidValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanClsidValueData(IAutorunContext* context, const LocationRow* row);
HRESULT ScanSingleValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanSingleFileListValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanMultiStringValue(IAutorunContext* context, const LocationRow* row);
HRESULT ScanWinsockCatalog(IAutorunContext* context, const LocationRow* row);
HRESULT ScanNetworkProviders(IAutorunContext* context, const LocationRow* row);
// The two halves of ScanClsidHandlers: CLSIDs as subkey names or their default values, and as
// value names.
void ScanClsidSubkeys(IAutorunContext* context, const LocationRow* row);
void ScanClsidValueNames(IAutorunContext* context, const LocationRow* row);
// The default value of HKEY_CLASSES_ROOT\CLSID\<clsid>\InprocServer32.
bool ResolveInprocServer(const std::wstring& clsid, std::wstring& path);

// locations/registry_repairs.cpp
HRESULT RepairDeleteValue(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairDeleteKey(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairUserinit(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairShell(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairAppInitDlls(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairUIHost(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairWinlogonSystem(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

// sources/services.cpp
HRESULT ScanServices(IAutorunContext* context, const LocationRow* row);

// sources/scheduled_tasks.cpp
HRESULT ScanScheduledTasks(IAutorunContext* context, const LocationRow* row);
// The two ways ScanScheduledTasks chooses between by Windows version: Task Scheduler 1.0 work
// items, and the 2.0 folder tree. Each returns S_OK after a full walk, or the failing setup step's result.
HRESULT ScanTaskScheduler1(IAutorunContext* context, const LocationRow* row);
HRESULT ScanTaskScheduler2(IAutorunContext* context, const LocationRow* row);

// sources/startup_folders.cpp
HRESULT ScanStartupFolder(IAutorunContext* context, const LocationRow* row);
HRESULT RepairStartupFolderItem(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
// Replaces folders with the paths of a shell folder: the all-users value under HKEY_LOCAL_MACHINE,
// the non-empty values of every user hive, or, for a CSIDL the table lacks, the shell's answer.
// False when the all-users value or the shell's folder cannot be read; the per-user route is true
// even when no hive has the value.
bool ResolveSpecialFolder(const ShellFolderTable& table, int csidl, std::vector<std::wstring>& folders);
// One value under root\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders, as stored.
bool ReadShellFolderValue(HKEY root, const wchar_t* valueName, std::wstring& path);

// sources/drive_autorun.cpp
HRESULT ScanDriveAutorun(IAutorunContext* context, const LocationRow* row);
HRESULT RepairDriveAutorun(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

// sources/input_methods.cpp
HRESULT ScanInputMethods(IAutorunContext* context, const LocationRow* row);
HRESULT RepairInputMethod(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

// sources/open_commands.cpp
HRESULT ScanOpenCommand(IAutorunContext* context, const LocationRow* row);
HRESULT RepairExefileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairTxtfileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairBatfileOpenCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairBatfileRunasCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairCmdfileOpenCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairCmdfileRunasCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);
HRESULT RepairComfileCommand(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

// sources/mui_cache.cpp
HRESULT ScanMuiCache(IAutorunContext* context, const LocationRow* row);

}  // namespace Tessel
