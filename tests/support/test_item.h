// A minimal item for driving the scanner and context without the real item classes. Counts live
// instances so tests can see every item destroyed.
#pragma once

#include <string>

#include "scanner/com_object.h"
#include "scanner/scan_context.h"

namespace test {

class TestItem : public IZVAutorunItemEx {
public:
    TestItem(DWORD id, std::wstring location) : id_(id), location_(std::move(location)) { ++live; }
    virtual ~TestItem() {
        SetOwner(nullptr);
        --live;
    }

    void* InterfaceFor(REFIID riid) {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZVAutorunItem) ||
            IsEqualIID(riid, IID_IZVAutorunItemEx))
            return static_cast<IZVAutorunItemEx*>(this);
        return nullptr;
    }

    ULONG STDMETHODCALLTYPE GetId() override { return id_; }
    ULONG STDMETHODCALLTYPE GetCategory() override { return id_ & 0xFFF00000u; }
    LPCWSTR STDMETHODCALLTYPE GetLocation() override { return location_.c_str(); }
    ULONG STDMETHODCALLTYPE GetFileCount() override { return 0; }
    LPCWSTR STDMETHODCALLTYPE GetFile(ULONG) override { return nullptr; }
    BOOL STDMETHODCALLTYPE CanRepair() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE Repair(const ZV_REPAIR_REQUEST*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE SetOwner(IZVAutorunScanner* owner) override {
        if (owner == owner_) return;
        if (owner) owner->AddRef();
        if (owner_) owner_->Release();
        owner_ = owner;
    }

    IZVAutorunScanner* Owner() const { return owner_; }

    static inline int live = 0;

private:
    DWORD id_;
    std::wstring location_;
    IZVAutorunScanner* owner_ = nullptr;
};

// Queues a new test item in the context, as a construction operation would.
inline void QueueTestItem(Tessel::IAutorunContext* context, DWORD id, const std::wstring& location) {
    auto* item = Tessel::QComObject<TestItem>::Create(id, location);
    if (!item) return;
    static_cast<Tessel::CAutorunContext*>(context)->QueueItem(item);
}

}  // namespace test
