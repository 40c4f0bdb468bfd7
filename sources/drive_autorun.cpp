// Drive autorun files: the "Open" and "ShellExecute" commands of the Autorun.inf in the root of each
// ready drive from C to Z, and the deletion of that file.
#include "sources/drive_autorun.h"

#include <string>

#include "locations/routines.h"
#include "platform/handles.h"
#include "scanner/autorun_context.h"
#include "winhelpers/files.h"
#include "winhelpers/hresult.h"

namespace Tessel {

namespace {

const wchar_t kAutorunSection[] = L"AutoRun";
const wchar_t kAutorunFileName[] = L"Autorun.inf";
// Characters offered to the ini reader; a longer value arrives cut to one less.
constexpr DWORD kValueCapacity = 260;

// Keeps critical-error and open-file error boxes away while drives are probed, and puts the
// caller's error mode back on every path out of the walk.
class QuietErrorMode {
public:
    QuietErrorMode() : previous_(platform::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
    ~QuietErrorMode() { platform::SetErrorMode(previous_); }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    UINT previous_;
};

bool IsPassedOver(UINT driveType) {
    return driveType == DRIVE_UNKNOWN || driveType == DRIVE_NO_ROOT_DIR || driveType == DRIVE_CDROM;
}

// One key of the file's AutoRun section; an absent or empty value reports nothing.
void ReportAutorunKey(IAutorunContext* context, const LocationRow* row, const std::wstring& path,
                      const wchar_t* keyName) {
    wchar_t value[kValueCapacity + 1] = {};
    DWORD count =
        platform::GetPrivateProfileStringW(kAutorunSection, keyName, L"", value, kValueCapacity, path.c_str());
    value[kValueCapacity] = 0;
    if (count != 0) context->AddIniCommand(row, path.c_str(), kAutorunSection, keyName, value);
}

}  // namespace

bool IsDriveMediaReady(wchar_t letter) {
    const wchar_t device[] = {L'\\', L'\\', L'?', L'\\', letter, L':', 0};
    platform::UniqueFileHandle volume(platform::CreateFileW(device, GENERIC_READ,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!volume) return false;
    DWORD returned = 0;
    return platform::DeviceIoControl(volume.get(), IOCTL_DISK_CHECK_VERIFY, nullptr, 0, nullptr, 0, &returned,
                                     nullptr) != FALSE;
}

HRESULT ScanDriveAutorun(IAutorunContext* context, const LocationRow* row) {
    QuietErrorMode quiet;
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (IsPassedOver(platform::GetDriveTypeW(root))) continue;
        std::wstring path = std::wstring(root) + kAutorunFileName;
        // A drive without media is never touched through its file system: that is what would show
        // the "no disk" box on removable drives.
        if (!IsDriveMediaReady(letter)) continue;
        if (platform::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        ReportAutorunKey(context, row, path, L"Open");
        ReportAutorunKey(context, row, path, L"ShellExecute");
    }
    return S_OK;
}

HRESULT RepairDriveAutorun(IZVAutorunItemEx* item, const ZV_REPAIR_REQUEST*) {
    platform::ComPtr<IZVAutorunItem_Ini> ini;
    HRESULT hr = QueryItemKind(item, IID_IZVAutorunItem_Ini, ini);
    if (FAILED(hr)) return hr;
    // Another item of the same file may already have deleted it.
    return Basalt::DeleteFileIfPresent(ini->GetIniPath());
}

}  // namespace Tessel
