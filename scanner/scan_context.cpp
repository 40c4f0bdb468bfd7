#include "scanner/scan_context.h"

#include <cstring>

#include "diag/debug_log.h"
#include "paths/shell_path.h"
#include "platform/platform.h"

namespace Tessel {

namespace {

std::wstring ReadDirectory(UINT (*read)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH] = {};
    if (read(buffer, MAX_PATH) >= MAX_PATH) buffer[0] = 0;
    return buffer;
}

}  // namespace

CAutorunContext::CAutorunContext(std::shared_ptr<platform::Backend> backend) : backend_(std::move(backend)) {
    settings_.cbSize = sizeof(ZV_SCAN_SETTINGS);
}

CAutorunContext::~CAutorunContext() {
    platform::BackendScope scope(backend_.get());
    userHives_.clear();
    shellFolders_.clear();
    searchDirectories_.clear();
    extensions_.clear();
    EmptyQueue();
}

void CAutorunContext::ResetForScan(const ZV_SCAN_SETTINGS* settings) {
    if (settings) {
        std::memcpy(&settings_, settings, sizeof(settings_));
    } else {
        settings_ = ZV_SCAN_SETTINGS{};
        settings_.cbSize = sizeof(ZV_SCAN_SETTINGS);
    }

    extensions_.clear();
    extensions_.push_back(L".exe");
    extensions_.push_back(L".dll");

    searchDirectories_.clear();
    searchDirectories_.push_back(ReadDirectory(platform::GetSystemDirectoryW));
    std::wstring windows = ReadDirectory(platform::GetWindowsDirectoryW);
    std::wstring windowsSystem = windows;
    PathAppend(windowsSystem, L"system");
    searchDirectories_.push_back(windowsSystem);
    searchDirectories_.push_back(windows);

    FillShellFolderTable(shellFolders_);
    BuildUserHiveMap();
    counters_.fill(0);
}

void CAutorunContext::BuildUserHiveMap() {
    // Hives of the previous scan close here unless an item handed out earlier still refers to one.
    userHives_.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        LSTATUS status = platform::RegEnumKeyW(HKEY_USERS, index, name, 511);
        name[511] = 0;
        if (status != ERROR_SUCCESS) break;
        auto hive = std::make_shared<UserHive>();
        hive->backend = backend_;
        if (platform::RegOpenKeyExW(HKEY_USERS, name, 0, KEY_ALL_ACCESS, hive->key.put()) != ERROR_SUCCESS) continue;
        hive->name = name;
        userHives_.push_back(std::move(hive));
    }
}

std::shared_ptr<const UserHive> CAutorunContext::FindUserHive(HKEY key) const {
    for (const auto& hive : userHives_)
        if (hive->key.get() == key) return hive;
    return nullptr;
}

BOOL CAutorunContext::RunRow(const LocationRow* row) {
    EmptyQueue();
    if (!row || row->id == 0) return FALSE;
    bool repairable = row->repair != nullptr;
    if (settings_.dwFlags & ZV_SCAN_REPAIRABLE_ONLY) {
        if (!repairable) return FALSE;
    } else if ((settings_.dwFlags & ZV_SCAN_UNREPAIRABLE_ONLY) && repairable) {
        return FALSE;
    }

    if (row->root == HKEY_CURRENT_USER && !userHives_.empty()) {
        LocationRow perUser = *row;
        for (const auto& hive : userHives_) {
            perUser.root = hive->key.get();
            row->scan(this, &perUser);
        }
        return !queue_.empty();
    }
    HRESULT hr = row->scan(this, row);
    if (FAILED(hr)) {
        LogDebug(kLogDebug, L"[zavel] location %08lX not scanned: 0x%08lX\r\n", row->id, static_cast<ULONG>(hr));
        return FALSE;
    }
    return !queue_.empty();
}

BOOL CAutorunContext::PopItem(IZVAutorunItemEx** out) {
    if (queue_.empty()) return FALSE;
    platform::ComPtr<IZVAutorunItemEx> item = std::move(queue_.front());
    queue_.pop_front();
    if (out) *out = item.Detach();
    return TRUE;
}

void CAutorunContext::EmptyQueue() noexcept { queue_.clear(); }

void CAutorunContext::QueueItem(IZVAutorunItemEx* item) {
    // The reference is taken before the queue grows, so an item the queue cannot hold is destroyed.
    platform::ComPtr<IZVAutorunItemEx> reference(item);
    queue_.push_back(std::move(reference));
}

}  // namespace Tessel
