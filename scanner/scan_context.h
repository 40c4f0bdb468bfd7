// CAutorunContext: the working state of one scan, reused by its scanner for every scan it starts.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "scanner/autorun_context.h"

namespace Tessel {

// A loaded user hive opened under HKEY_USERS. Shared by the context and by every item whose row
// copy carries its handle, so the handle stays open exactly as long as something refers to it.
struct UserHive {
    std::shared_ptr<platform::Backend> backend;  // the backend it was opened on; null: the current one
    platform::UniqueHKey key;
    std::wstring name;

    ~UserHive() {
        platform::BackendScope scope(backend.get());
        key.reset();
    }
};

// Working texts of command-line resolution, kept by the context so that every line of every scan
// reuses their capacity instead of allocating its own.
struct ResolutionBuffers {
    std::wstring candidate;  // the text cut back at its delimiters
    std::wstring probe;      // a path tested for it: its prefix, itself with an extension, a search result
    std::wstring path;       // a search directory joined with it
};

class CAutorunContext final : public IAutorunContext {
public:
    // backend: the platform every operation of this context and its items runs on (an offline
    // image's); null runs on the current one.
    explicit CAutorunContext(std::shared_ptr<platform::Backend> backend = nullptr);
    ~CAutorunContext();
    CAutorunContext(const CAutorunContext&) = delete;
    CAutorunContext& operator=(const CAutorunContext&) = delete;

    // Scanner side.
    void ResetForScan(const ZV_SCAN_SETTINGS* settings);
    // Nonzero when the queue holds an item after the row ran.
    BOOL RunRow(const LocationRow* row);
    // The oldest queued item's reference moves to *out (or is dropped when out is null).
    BOOL PopItem(IZVAutorunItemEx** out);
    void EmptyQueue() noexcept;

    // Read by command-line resolution and location display.
    const ZV_SCAN_SETTINGS& Settings() const { return settings_; }
    const std::shared_ptr<platform::Backend>& Backend() const { return backend_; }
    bool SkipProbe() const { return (settings_.dwFlags & ZV_SCAN_SKIP_PROBE) != 0; }
    const std::vector<std::wstring>& Extensions() const { return extensions_; }
    const std::vector<std::wstring>& SearchDirectories() const { return searchDirectories_; }
    const std::vector<std::shared_ptr<const UserHive>>& UserHives() const { return userHives_; }
    // The opened hive behind a handle, or null for any other key.
    std::shared_ptr<const UserHive> FindUserHive(HKEY key) const;

    ResolutionBuffers& Buffers() { return resolutionBuffers_; }

    // Resolution counters, kinds 1 to 6; other kinds read 0 and are not counted.
    ULONG Counter(ULONG kind) const { return kind >= 1 && kind <= counters_.size() ? counters_[kind - 1] : 0; }
    void Count(ULONG kind) {
        if (kind >= 1 && kind <= counters_.size()) ++counters_[kind - 1];
    }

    // The last step of every construction operation: the queue takes its own reference.
    void QueueItem(IZVAutorunItemEx* item);

    // IAutorunContext.
    void AddRegFileListValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                             LPCWSTR valueData) override;
    void AddRegCommandValue(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                            LPCWSTR valueData) override;
    void AddRegValueNameCommand(const LocationRow* row, HKEY root, LPCWSTR keyPath, LPCWSTR valueName,
                                LPCWSTR valueData) override;
    void AddService(const LocationRow* row, LPCWSTR serviceName, DWORD serviceType, DWORD startType,
                    LPCWSTR imagePath, LPCWSTR serviceDll, LPCWSTR displayName, LPCWSTR description,
                    LPCWSTR application) override;
    void AddScheduledTask(const LocationRow* row, LPCWSTR taskName, LPCWSTR programPath, LPCWSTR arguments) override;
    void AddStartupFile(const LocationRow* row, LPCWSTR folderPath, LPCWSTR filePath) override;
    void AddIniCommand(const LocationRow* row, LPCWSTR iniPath, LPCWSTR section, LPCWSTR keyName,
                       LPCWSTR value) override;
    void AddInputMethod(const LocationRow* row, DWORD preloadIndex, LPCWSTR layoutId, LPCWSTR imeFile,
                        LPCWSTR layoutFile) override;
    void AddShellCommand(const LocationRow* row, LPCWSTR progId, LPCWSTR command) override;
    const ShellFolderTable& GetShellFolderTable() override { return shellFolders_; }

private:
    void BuildUserHiveMap();

    std::shared_ptr<platform::Backend> backend_;  // first: it outlives everything opened on it
    ZV_SCAN_SETTINGS settings_{};
    std::deque<platform::ComPtr<IZVAutorunItemEx>> queue_;
    std::vector<std::wstring> extensions_;
    std::vector<std::wstring> searchDirectories_;
    ShellFolderTable shellFolders_;
    // In HKEY_USERS order, which is the order of the per-user fan-out.
    std::vector<std::shared_ptr<const UserHive>> userHives_;
    std::array<ULONG, 6> counters_{};
    ResolutionBuffers resolutionBuffers_;
};

}  // namespace Tessel
