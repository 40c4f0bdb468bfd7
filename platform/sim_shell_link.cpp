// The shell link object of the simulated machine: IShellLinkW and IPersistFile over the shortcuts
// the backend holds. Only what reading a shortcut's target needs is implemented.
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "platform/sim_backend.h"

namespace platform {

namespace {

class SimShellLink final : public IShellLinkW, public IPersistFile {
public:
    explicit SimShellLink(SimulatedBackend& backend) : backend_(backend) { backend_.ComObjectCreated(); }
    ~SimShellLink() { backend_.ComObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellLinkW))
            *object = static_cast<IShellLinkW*>(this);
        else if (IsEqualIID(iid, IID_IPersistFile) || IsEqualIID(iid, IID_IPersist))
            *object = static_cast<IPersistFile*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count = --count_;
        if (count == 0) delete this;
        return count;
    }

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        *clsid = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR path, DWORD) override {
        if (!path) return E_INVALIDARG;
        HRESULT hr = backend_.LoadShortcut(path, target_);
        loaded_ = SUCCEEDED(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

    // IShellLinkW
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR buffer, int capacity, WIN32_FIND_DATAW* data, DWORD) override {
        if (!buffer || capacity <= 0) return E_INVALIDARG;
        if (data) *data = WIN32_FIND_DATAW{};
        size_t copied = target_.size() < static_cast<size_t>(capacity) ? target_.size() : capacity - 1;
        target_.copy(buffer, copied);
        buffer[copied] = 0;
        return target_.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return loaded_ ? S_OK : E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR) override { return E_NOTIMPL; }

private:
    SimulatedBackend& backend_;
    ULONG count_ = 0;
    std::wstring target_;
    bool loaded_ = false;
};

}  // namespace

HRESULT CreateSimulatedShellLink(SimulatedBackend& backend, REFIID iid, void** object) {
    SimShellLink* link = new SimShellLink(backend);
    link->AddRef();
    HRESULT hr = link->QueryInterface(iid, object);
    link->Release();
    return hr;
}

}  // namespace platform
