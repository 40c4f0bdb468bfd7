// QComObject<T>: the reference count and IUnknown of every object the host sees. T derives from its
// primary interface (and at most one secondary one) and answers InterfaceFor(riid) with the
// interface pointer for an IID, or null. One override serves the IUnknown entries of both
// interfaces, so they share one identity and one count.
#pragma once

#include <new>
#include <utility>

#include "platform/handles.h"

namespace Tessel {

template <typename T>
class QComObject final : public T {
public:
    template <typename... Args>
    explicit QComObject(Args&&... args) : T(std::forward<Args>(args)...) {}

    // A new object with a count of 0, or null when it cannot be allocated or built.
    template <typename... Args>
    static QComObject* Create(Args&&... args) noexcept {
        try {
            return new QComObject(std::forward<Args>(args)...);
        } catch (...) {
            return nullptr;
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = T::InterfaceFor(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = InterlockedDecrement(&count_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    ~QComObject() = default;

    LONG count_ = 0;
};

}  // namespace Tessel
