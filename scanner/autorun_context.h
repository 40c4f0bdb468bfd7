// IAutorunContext: what scan routines report their entries to. Internal; never crosses the library
// boundary. Strings may be null, which counts as empty.
#pragma once

#include "locations/location_table.h"
#include "paths/shell_folders.h"

namespace Tessel {

class IAutorunContext {
public:
    virtual void AddRegFileListValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                     LPCWSTR valueData) = 0;
    virtual void AddRegCommandValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                    LPCWSTR valueData) = 0;
    virtual void AddRegValueNameCommand(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                        LPCWSTR valueData) = 0;
    // serviceType 0xFFFFFFFF: the type could not be read.
    virtual void AddService(const LocationRow* row, LPCWSTR serviceName, DWORD serviceType, DWORD startType,
                            LPCWSTR imagePath, LPCWSTR serviceDll, LPCWSTR displayName, LPCWSTR description,
                            LPCWSTR application) = 0;
    virtual void AddScheduledTask(const LocationRow* row, LPCWSTR taskName, LPCWSTR programPath,
                                  LPCWSTR arguments) = 0;
    virtual void AddStartupFile(const LocationRow* row, LPCWSTR folderPath, LPCWSTR filePath) = 0;
    virtual void AddIniCommand(const LocationRow* row, LPCWSTR iniPath, LPCWSTR section, LPCWSTR keyName,
                               LPCWSTR value) = 0;
    virtual void AddInputMethod(const LocationRow* row, DWORD preloadIndex, LPCWSTR layoutId, LPCWSTR imeFile,
                                LPCWSTR layoutFile) = 0;
    virtual void AddShellCommand(const LocationRow* row, LPCWSTR progId, LPCWSTR command) = 0;
    virtual const ShellFolderTable& GetShellFolderTable() = 0;

protected:
    ~IAutorunContext() = default;
};

}  // namespace Tessel
