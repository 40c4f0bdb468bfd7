// The seven item classes: one autostart entry each, immutable after construction apart from the
// owner reference. Every class answers IZVAutorunItem and IZVAutorunItemEx with one pointer; five
// also answer a kind interface exposing the fields of their kind.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "scanner/scan_context.h"

namespace Tessel {

class CAtrunItem : public IZVAutorunItemEx {
public:
    ULONG STDMETHODCALLTYPE GetId() override { return row_.id; }
    ULONG STDMETHODCALLTYPE GetCategory() override { return CategoryOf(row_.id); }
    LPCWSTR STDMETHODCALLTYPE GetLocation() override { return location_.c_str(); }
    ULONG STDMETHODCALLTYPE GetFileCount() override { return static_cast<ULONG>(files_.size()); }
    LPCWSTR STDMETHODCALLTYPE GetFile(ULONG index) override {
        return index < files_.size() ? files_[index].c_str() : nullptr;
    }
    BOOL STDMETHODCALLTYPE CanRepair() override { return row_.repair != nullptr; }
    HRESULT STDMETHODCALLTYPE Repair(const ZV_REPAIR_REQUEST* request) override;
    void STDMETHODCALLTYPE SetOwner(IZVAutorunScanner* owner) override;
    virtual ~CAtrunItem() = default;

    // The primary interface for both item IIDs; the kind interface comes from the class.
    void* InterfaceFor(REFIID riid);

    const LocationRow& Row() const { return row_; }
    const std::wstring& Location() const { return location_; }
    void SetLocation(std::wstring location) { location_ = std::move(location); }
    std::vector<std::wstring>& Files() { return files_; }
    // The platform a repair runs on: the one the item was found on, when the scan had its own.
    void SetBackend(std::shared_ptr<platform::Backend> backend) { backend_ = std::move(backend); }

protected:
    // hive: the user hive the row copy's root names, kept open as long as the item lives.
    CAtrunItem(const LocationRow& row, std::shared_ptr<const UserHive> hive) : row_(row), hive_(std::move(hive)) {}
    virtual void* KindInterfaceFor(REFIID) { return nullptr; }
    // Services and scheduled tasks have no repair to call.
    virtual bool HasRepairRoutine() const { return true; }

    LocationRow row_;
    std::wstring location_;
    std::vector<std::wstring> files_;

private:
    platform::ComPtr<IZVAutorunScanner> owner_;
    std::shared_ptr<platform::Backend> backend_;
    std::shared_ptr<const UserHive> hive_;
};

class CAtrunItem_Reg : public CAtrunItem, public IZVAutorunItem_Reg {
public:
    CAtrunItem_Reg(const LocationRow& row, std::shared_ptr<const UserHive> hive, HKEY root, std::wstring keyPath,
                   std::wstring valueName, std::wstring valueData)
        : CAtrunItem(row, std::move(hive)), root_(root), keyPath_(std::move(keyPath)),
          valueName_(std::move(valueName)), valueData_(std::move(valueData)) {}
    HKEY STDMETHODCALLTYPE GetRootKey() override { return root_; }
    LPCWSTR STDMETHODCALLTYPE GetKeyPath() override { return keyPath_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetValueName() override { return valueName_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetValueData() override { return valueData_.c_str(); }

    const std::wstring& KeyPath() const { return keyPath_; }
    const std::wstring& ValueName() const { return valueName_; }
    const std::wstring& ValueData() const { return valueData_; }

protected:
    void* KindInterfaceFor(REFIID riid) override;

private:
    HKEY root_;
    std::wstring keyPath_, valueName_, valueData_;
};

class CAtrunItem_StartupIni : public CAtrunItem, public IZVAutorunItem_Ini {
public:
    CAtrunItem_StartupIni(const LocationRow& row, std::shared_ptr<const UserHive> hive, std::wstring iniPath,
                          std::wstring section, std::wstring keyName, std::wstring value)
        : CAtrunItem(row, std::move(hive)), iniPath_(std::move(iniPath)), section_(std::move(section)),
          keyName_(std::move(keyName)), value_(std::move(value)) {}
    LPCWSTR STDMETHODCALLTYPE GetIniPath() override { return iniPath_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetSection() override { return section_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetKeyName() override { return keyName_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetValue() override { return value_.c_str(); }

protected:
    void* KindInterfaceFor(REFIID riid) override;

private:
    std::wstring iniPath_, section_, keyName_, value_;
};

class CAtrunItem_StartupFolder : public CAtrunItem, public IZVAutorunItem_ShortCut {
public:
    CAtrunItem_StartupFolder(const LocationRow& row, std::shared_ptr<const UserHive> hive, std::wstring filePath)
        : CAtrunItem(row, std::move(hive)), filePath_(std::move(filePath)) {}
    LPCWSTR STDMETHODCALLTYPE GetFilePath() override { return filePath_.c_str(); }

protected:
    void* KindInterfaceFor(REFIID riid) override;

private:
    std::wstring filePath_;
};

class CAtrunItem_Ime : public CAtrunItem, public IZVAutorunItem_Ime {
public:
    CAtrunItem_Ime(const LocationRow& row, std::shared_ptr<const UserHive> hive, DWORD preloadIndex,
                   std::wstring layoutId)
        : CAtrunItem(row, std::move(hive)), preloadIndex_(preloadIndex), layoutId_(std::move(layoutId)) {}
    ULONG STDMETHODCALLTYPE GetFileCount() override;
    LPCWSTR STDMETHODCALLTYPE GetFile(ULONG index) override;
    HKEY STDMETHODCALLTYPE GetRootKey() override { return row_.root; }
    ULONG STDMETHODCALLTYPE GetPreloadIndex() override { return preloadIndex_; }
    LPCWSTR STDMETHODCALLTYPE GetLayoutId() override { return layoutId_.c_str(); }

    std::wstring imeFile;
    std::wstring layoutFile;

protected:
    void* KindInterfaceFor(REFIID riid) override;

private:
    DWORD preloadIndex_;
    std::wstring layoutId_;
};

class CAtrunItem_ShlCmd : public CAtrunItem, public IZVAutorunItem_ShlCmd {
public:
    CAtrunItem_ShlCmd(const LocationRow& row, std::shared_ptr<const UserHive> hive, std::wstring progId)
        : CAtrunItem(row, std::move(hive)), progId_(std::move(progId)) {}
    LPCWSTR STDMETHODCALLTYPE GetExtension() override { return row_.keyPath; }
    LPCWSTR STDMETHODCALLTYPE GetProgId() override { return progId_.c_str(); }
    LPCWSTR STDMETHODCALLTYPE GetVerb() override { return row_.subkey; }
    LPCWSTR STDMETHODCALLTYPE GetValueName() override { return row_.valueName; }
    LPCWSTR STDMETHODCALLTYPE GetAltValueName() override { return row_.valueName; }

protected:
    void* KindInterfaceFor(REFIID riid) override;

private:
    std::wstring progId_;
};

class CAtrunItem_Service : public CAtrunItem {
public:
    CAtrunItem_Service(const LocationRow& row, std::shared_ptr<const UserHive> hive, DWORD serviceType)
        : CAtrunItem(row, std::move(hive)), serviceType_(serviceType) {}
    // 3 files for a service sharing its process (type 0x20), else 2, whether found or not.
    ULONG STDMETHODCALLTYPE GetFileCount() override { return serviceType_ == SERVICE_WIN32_SHARE_PROCESS ? 3 : 2; }
    // 0 image, 1 application, 2 service library; the count is not consulted.
    LPCWSTR STDMETHODCALLTYPE GetFile(ULONG index) override;

    std::wstring imageFile;
    std::wstring applicationFile;
    std::wstring serviceDllFile;

protected:
    bool HasRepairRoutine() const override { return false; }

private:
    DWORD serviceType_;
};

class CAtrunItem_ScheduledTask : public CAtrunItem {
public:
    CAtrunItem_ScheduledTask(const LocationRow& row, std::shared_ptr<const UserHive> hive)
        : CAtrunItem(row, std::move(hive)) {}

protected:
    bool HasRepairRoutine() const override { return false; }
};

}  // namespace Tessel
