// The scan and repair routines the location table names, grouped by the file that holds them.
#pragma once

#include "locations/location_table.h"

namespace Tessel {

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

// sources/startup_folders.cpp
HRESULT ScanStartupFolder(IAutorunContext* context, const LocationRow* row);
HRESULT RepairStartupFolderItem(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST* request);

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
