// The simulated Task Scheduler: 1.0 scheduler, work-item enumerator and work items; 2.0 service,
// folders, registered tasks, definitions and actions. Only what reading tasks needs is implemented;
// every other operation answers E_NOTIMPL.
#include "platform/sim_task_scheduler.h"

// IID_IEnumWorkItems is in no import library: the scheduler headers define their identifiers here.
#include <initguid.h>

#include <mstask.h>
#include <taskschd.h>

#include <algorithm>
#include <cwctype>
#include <map>

namespace platform {

struct SimulatedTaskScheduler::State {
    SimulatedBackend& backend;
    std::vector<SimWorkItem> workItems;
    bool wineActivate = false;
    SimTaskFolder root;
    std::map<SimTaskStep, HRESULT> failures;

    HRESULT Failure(SimTaskStep step) const {
        auto it = failures.find(step);
        return it == failures.end() ? S_OK : it->second;
    }
};

namespace {

using State = SimulatedTaskScheduler::State;

#define ZV_SIM_NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

LPWSTR TaskMemoryCopy(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (!copy) return nullptr;
    text.copy(copy, text.size());
    copy[text.size()] = 0;
    return copy;
}

// Hands out text as a new BSTR, or the injected failure with NULL.
HRESULT ReturnBstr(HRESULT result, const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(result)) return result;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A 1-based collection index: only VT_I4 within the collection is accepted.
bool CollectionIndex(const VARIANT& index, size_t count, size_t& position) {
    if (index.vt != VT_I4 || index.lVal < 1 || static_cast<size_t>(index.lVal) > count) return false;
    position = static_cast<size_t>(index.lVal) - 1;
    return true;
}

// Reference counting and accounting shared by every object; the classes say which IIDs they answer.
template <typename Interface>
class SimObject : public Interface {
public:
    explicit SimObject(std::shared_ptr<State> state) : state_(std::move(state)) { state_->backend.ComObjectCreated(); }
    virtual ~SimObject() { state_->backend.ComObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !Answers(iid)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count = --count_;
        if (count == 0) delete this;
        return count;
    }

protected:
    virtual bool Answers(REFIID iid) const = 0;
    std::shared_ptr<State> state_;

private:
    ULONG count_ = 1;
};

template <typename Interface>
class SimDispatch : public SimObject<Interface> {
public:
    using SimObject<Interface>::SimObject;
    ZV_SIM_NOT_IMPLEMENTED(GetTypeInfoCount, (UINT*))
    ZV_SIM_NOT_IMPLEMENTED(GetTypeInfo, (UINT, LCID, ITypeInfo**))
    ZV_SIM_NOT_IMPLEMENTED(GetIDsOfNames, (REFIID, LPOLESTR*, UINT, LCID, DISPID*))
    ZV_SIM_NOT_IMPLEMENTED(Invoke, (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))
};

// Creates an object and hands out the interface asked for; the object dies when that fails.
template <typename Object, typename... Args>
HRESULT CreateObject(REFIID iid, void** out, Args&&... args) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new Object(std::forward<Args>(args)...);
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// ---- Task Scheduler 1.0 ----------------------------------------------------------------------

class SimTask final : public SimObject<ITask> {
public:
    SimTask(std::shared_ptr<State> state, const SimWorkItem& item) : SimObject(std::move(state)), item_(item) {}

    HRESULT STDMETHODCALLTYPE GetApplicationName(LPWSTR* name) override {
        return ReturnTaskMemory(item_.applicationResult, item_.application, name);
    }
    HRESULT STDMETHODCALLTYPE GetParameters(LPWSTR* parameters) override {
        return ReturnTaskMemory(item_.parametersResult, item_.parameters, parameters);
    }

    ZV_SIM_NOT_IMPLEMENTED(CreateTrigger, (WORD*, ITaskTrigger**))
    ZV_SIM_NOT_IMPLEMENTED(DeleteTrigger, (WORD))
    ZV_SIM_NOT_IMPLEMENTED(GetTriggerCount, (WORD*))
    ZV_SIM_NOT_IMPLEMENTED(GetTrigger, (WORD, ITaskTrigger**))
    ZV_SIM_NOT_IMPLEMENTED(GetTriggerString, (WORD, LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, WORD*, LPSYSTEMTIME*))
    ZV_SIM_NOT_IMPLEMENTED(GetNextRunTime, (SYSTEMTIME*))
    ZV_SIM_NOT_IMPLEMENTED(SetIdleWait, (WORD, WORD))
    ZV_SIM_NOT_IMPLEMENTED(GetIdleWait, (WORD*, WORD*))
    ZV_SIM_NOT_IMPLEMENTED(Run, ())
    ZV_SIM_NOT_IMPLEMENTED(Terminate, ())
    ZV_SIM_NOT_IMPLEMENTED(EditWorkItem, (HWND, DWORD))
    ZV_SIM_NOT_IMPLEMENTED(GetMostRecentRunTime, (SYSTEMTIME*))
    ZV_SIM_NOT_IMPLEMENTED(GetStatus, (HRESULT*))
    ZV_SIM_NOT_IMPLEMENTED(GetExitCode, (DWORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetComment, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(GetComment, (LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetCreator, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(GetCreator, (LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetWorkItemData, (WORD, BYTE[]))
    ZV_SIM_NOT_IMPLEMENTED(GetWorkItemData, (WORD*, BYTE**))
    ZV_SIM_NOT_IMPLEMENTED(SetErrorRetryCount, (WORD))
    ZV_SIM_NOT_IMPLEMENTED(GetErrorRetryCount, (WORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetErrorRetryInterval, (WORD))
    ZV_SIM_NOT_IMPLEMENTED(GetErrorRetryInterval, (WORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetFlags, (DWORD))
    ZV_SIM_NOT_IMPLEMENTED(GetFlags, (DWORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetAccountInformation, (LPCWSTR, LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(GetAccountInformation, (LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetApplicationName, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(SetParameters, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(SetWorkingDirectory, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(GetWorkingDirectory, (LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetPriority, (DWORD))
    ZV_SIM_NOT_IMPLEMENTED(GetPriority, (DWORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetTaskFlags, (DWORD))
    ZV_SIM_NOT_IMPLEMENTED(GetTaskFlags, (DWORD*))
    ZV_SIM_NOT_IMPLEMENTED(SetMaxRunTime, (DWORD))
    ZV_SIM_NOT_IMPLEMENTED(GetMaxRunTime, (DWORD*))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_ITask) || IsEqualIID(iid, IID_IScheduledWorkItem);
    }

private:
    static HRESULT ReturnTaskMemory(HRESULT result, const std::optional<std::wstring>& text, LPWSTR* out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (FAILED(result)) return result;
        if (!text) return S_OK;
        *out = TaskMemoryCopy(*text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    SimWorkItem item_;
};

class SimEnumWorkItems final : public SimObject<IEnumWorkItems> {
public:
    using SimObject::SimObject;

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, LPWSTR** names, ULONG* fetched) override {
        if (!names || !fetched) return E_POINTER;
        *names = nullptr;
        *fetched = 0;
        const auto& items = state_->workItems;
        if (next_ >= items.size()) return S_FALSE;
        if (FAILED(items[next_].nextResult)) return items[next_].nextResult;
        ULONG count = static_cast<ULONG>(std::min<size_t>(wanted, items.size() - next_));
        auto* array = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
        if (!array) return E_OUTOFMEMORY;
        for (ULONG i = 0; i < count; ++i, ++next_)
            array[i] = items[next_].nullName ? nullptr : TaskMemoryCopy(items[next_].name);
        *names = array;
        *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    ZV_SIM_NOT_IMPLEMENTED(Skip, (ULONG))
    ZV_SIM_NOT_IMPLEMENTED(Reset, ())
    ZV_SIM_NOT_IMPLEMENTED(Clone, (IEnumWorkItems**))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IEnumWorkItems); }

private:
    size_t next_ = 0;
};

class SimTaskScheduler1 final : public SimObject<ITaskScheduler> {
public:
    using SimObject::SimObject;

    HRESULT STDMETHODCALLTYPE Enum(IEnumWorkItems** items) override {
        if (!items) return E_POINTER;
        *items = nullptr;
        HRESULT failure = state_->Failure(SimTaskStep::EnumWorkItems);
        if (FAILED(failure)) return failure;
        return CreateObject<SimEnumWorkItems>(IID_IEnumWorkItems, reinterpret_cast<void**>(items), state_);
    }
    HRESULT STDMETHODCALLTYPE Activate(LPCWSTR name, REFIID iid, IUnknown** task) override {
        if (!name || !task) return E_INVALIDARG;
        *task = nullptr;
        std::wstring wanted = name;
        if (state_->wineActivate) {
            bool withExtension = wanted.size() >= 4 && SameText(wanted.substr(wanted.size() - 4), L".job");
            if (withExtension) return E_INVALIDARG;
            wanted += L".job";
        }
        for (const SimWorkItem& item : state_->workItems) {
            if (item.nullName || !SameText(item.name, wanted)) continue;
            if (FAILED(item.activateResult)) return item.activateResult;
            return CreateObject<SimTask>(iid, reinterpret_cast<void**>(task), state_, item);
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    ZV_SIM_NOT_IMPLEMENTED(SetTargetComputer, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(GetTargetComputer, (LPWSTR*))
    ZV_SIM_NOT_IMPLEMENTED(Delete, (LPCWSTR))
    ZV_SIM_NOT_IMPLEMENTED(NewWorkItem, (LPCWSTR, REFCLSID, REFIID, IUnknown**))
    ZV_SIM_NOT_IMPLEMENTED(AddWorkItem, (LPCWSTR, IScheduledWorkItem*))
    ZV_SIM_NOT_IMPLEMENTED(IsOfType, (LPCWSTR, REFIID))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_ITaskScheduler); }
};

// ---- Task Scheduler 2.0 ----------------------------------------------------------------------

class SimExecAction final : public SimDispatch<IExecAction> {
public:
    SimExecAction(std::shared_ptr<State> state, const SimTaskAction& action)
        : SimDispatch(std::move(state)), action_(action) {}

    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
        if (!type) return E_POINTER;
        *type = TASK_ACTION_EXEC;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override {
        return ReturnBstr(action_.pathResult, action_.path, path);
    }
    HRESULT STDMETHODCALLTYPE get_Arguments(BSTR* arguments) override {
        return ReturnBstr(action_.argumentsResult, action_.arguments, arguments);
    }
    ZV_SIM_NOT_IMPLEMENTED(get_Id, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_Id, (BSTR))
    ZV_SIM_NOT_IMPLEMENTED(put_Path, (BSTR))
    ZV_SIM_NOT_IMPLEMENTED(put_Arguments, (BSTR))
    ZV_SIM_NOT_IMPLEMENTED(get_WorkingDirectory, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_WorkingDirectory, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAction) || IsEqualIID(iid, IID_IExecAction);
    }

private:
    SimTaskAction action_;
};

// An action that starts no program: a COM handler, an e-mail or a message.
class SimOtherAction final : public SimDispatch<IAction> {
public:
    SimOtherAction(std::shared_ptr<State> state, TASK_ACTION_TYPE type) : SimDispatch(std::move(state)), type_(type) {}

    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
        if (!type) return E_POINTER;
        *type = type_;
        return S_OK;
    }
    ZV_SIM_NOT_IMPLEMENTED(get_Id, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_Id, (BSTR))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAction); }

private:
    TASK_ACTION_TYPE type_;
};

class SimActionCollection final : public SimDispatch<IActionCollection> {
public:
    SimActionCollection(std::shared_ptr<State> state, const SimRegisteredTask& task)
        : SimDispatch(std::move(state)), task_(task) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        if (FAILED(task_.actionCountResult)) return task_.actionCountResult;
        *count = static_cast<LONG>(task_.actions.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) override {
        if (!action) return E_POINTER;
        *action = nullptr;
        if (index < 1 || static_cast<size_t>(index) > task_.actions.size()) return E_INVALIDARG;
        const SimTaskAction& entry = task_.actions[static_cast<size_t>(index) - 1];
        if (FAILED(entry.itemResult)) return entry.itemResult;
        void** out = reinterpret_cast<void**>(action);
        switch (entry.kind) {
            case SimActionKind::Execute:
                return CreateObject<SimExecAction>(IID_IAction, out, state_, entry);
            case SimActionKind::ComHandler:
                return CreateObject<SimOtherAction>(IID_IAction, out, state_, TASK_ACTION_COM_HANDLER);
            case SimActionKind::Email:
                return CreateObject<SimOtherAction>(IID_IAction, out, state_, TASK_ACTION_SEND_EMAIL);
            case SimActionKind::Message:
                return CreateObject<SimOtherAction>(IID_IAction, out, state_, TASK_ACTION_SHOW_MESSAGE);
        }
        return E_UNEXPECTED;
    }
    ZV_SIM_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))
    ZV_SIM_NOT_IMPLEMENTED(get_XmlText, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_XmlText, (BSTR))
    ZV_SIM_NOT_IMPLEMENTED(Create, (TASK_ACTION_TYPE, IAction**))
    ZV_SIM_NOT_IMPLEMENTED(Remove, (VARIANT))
    ZV_SIM_NOT_IMPLEMENTED(Clear, ())
    ZV_SIM_NOT_IMPLEMENTED(get_Context, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_Context, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IActionCollection);
    }

private:
    const SimRegisteredTask& task_;
};

class SimTaskDefinition final : public SimDispatch<ITaskDefinition> {
public:
    SimTaskDefinition(std::shared_ptr<State> state, const SimRegisteredTask& task)
        : SimDispatch(std::move(state)), task_(task) {}

    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) override {
        if (!actions) return E_POINTER;
        *actions = nullptr;
        if (FAILED(task_.actionsResult)) return task_.actionsResult;
        return CreateObject<SimActionCollection>(IID_IActionCollection, reinterpret_cast<void**>(actions), state_,
                                                 task_);
    }
    ZV_SIM_NOT_IMPLEMENTED(get_RegistrationInfo, (IRegistrationInfo**))
    ZV_SIM_NOT_IMPLEMENTED(put_RegistrationInfo, (IRegistrationInfo*))
    ZV_SIM_NOT_IMPLEMENTED(get_Triggers, (ITriggerCollection**))
    ZV_SIM_NOT_IMPLEMENTED(put_Triggers, (ITriggerCollection*))
    ZV_SIM_NOT_IMPLEMENTED(get_Settings, (ITaskSettings**))
    ZV_SIM_NOT_IMPLEMENTED(put_Settings, (ITaskSettings*))
    ZV_SIM_NOT_IMPLEMENTED(get_Data, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_Data, (BSTR))
    ZV_SIM_NOT_IMPLEMENTED(get_Principal, (IPrincipal**))
    ZV_SIM_NOT_IMPLEMENTED(put_Principal, (IPrincipal*))
    ZV_SIM_NOT_IMPLEMENTED(put_Actions, (IActionCollection*))
    ZV_SIM_NOT_IMPLEMENTED(get_XmlText, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(put_XmlText, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskDefinition);
    }

private:
    const SimRegisteredTask& task_;
};

class SimRegisteredTaskObject final : public SimDispatch<IRegisteredTask> {
public:
    SimRegisteredTaskObject(std::shared_ptr<State> state, const SimRegisteredTask& task, std::wstring path)
        : SimDispatch(std::move(state)), task_(task), path_(std::move(path)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return ReturnBstr(S_OK, task_.name, name); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return ReturnBstr(task_.pathResult, path_, path); }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** definition) override {
        if (!definition) return E_POINTER;
        *definition = nullptr;
        if (FAILED(task_.definitionResult)) return task_.definitionResult;
        return CreateObject<SimTaskDefinition>(IID_ITaskDefinition, reinterpret_cast<void**>(definition), state_,
                                               task_);
    }
    ZV_SIM_NOT_IMPLEMENTED(get_State, (TASK_STATE*))
    ZV_SIM_NOT_IMPLEMENTED(get_Enabled, (VARIANT_BOOL*))
    ZV_SIM_NOT_IMPLEMENTED(put_Enabled, (VARIANT_BOOL))
    ZV_SIM_NOT_IMPLEMENTED(Run, (VARIANT, IRunningTask**))
    ZV_SIM_NOT_IMPLEMENTED(RunEx, (VARIANT, LONG, LONG, BSTR, IRunningTask**))
    ZV_SIM_NOT_IMPLEMENTED(GetInstances, (LONG, IRunningTaskCollection**))
    ZV_SIM_NOT_IMPLEMENTED(get_LastRunTime, (DATE*))
    ZV_SIM_NOT_IMPLEMENTED(get_LastTaskResult, (LONG*))
    ZV_SIM_NOT_IMPLEMENTED(get_NumberOfMissedRuns, (LONG*))
    ZV_SIM_NOT_IMPLEMENTED(get_NextRunTime, (DATE*))
    ZV_SIM_NOT_IMPLEMENTED(get_Xml, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(GetSecurityDescriptor, (LONG, BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetSecurityDescriptor, (BSTR, LONG))
    ZV_SIM_NOT_IMPLEMENTED(Stop, (LONG))
    ZV_SIM_NOT_IMPLEMENTED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IRegisteredTask);
    }

private:
    const SimRegisteredTask& task_;
    std::wstring path_;
};

class SimRegisteredTaskCollection final : public SimDispatch<IRegisteredTaskCollection> {
public:
    SimRegisteredTaskCollection(std::shared_ptr<State> state, std::vector<const SimRegisteredTask*> tasks,
                                std::wstring folderPath)
        : SimDispatch(std::move(state)), tasks_(std::move(tasks)), folderPath_(std::move(folderPath)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(tasks_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IRegisteredTask** task) override {
        if (!task) return E_POINTER;
        *task = nullptr;
        size_t position = 0;
        if (!CollectionIndex(index, tasks_.size(), position)) return E_INVALIDARG;
        const SimRegisteredTask& entry = *tasks_[position];
        if (FAILED(entry.itemResult)) return entry.itemResult;
        std::wstring path = (folderPath_ == L"\\" ? folderPath_ : folderPath_ + L"\\") + entry.name;
        return CreateObject<SimRegisteredTaskObject>(IID_IRegisteredTask, reinterpret_cast<void**>(task), state_, entry,
                                                     path);
    }
    ZV_SIM_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IRegisteredTaskCollection);
    }

private:
    std::vector<const SimRegisteredTask*> tasks_;
    std::wstring folderPath_;
};

class SimTaskFolderObject;

class SimTaskFolderCollection final : public SimDispatch<ITaskFolderCollection> {
public:
    SimTaskFolderCollection(std::shared_ptr<State> state, const SimTaskFolder& parent, std::wstring parentPath)
        : SimDispatch(std::move(state)), parent_(parent), parentPath_(std::move(parentPath)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(parent_.folders.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITaskFolder** folder) override;
    ZV_SIM_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskFolderCollection);
    }

private:
    const SimTaskFolder& parent_;
    std::wstring parentPath_;
};

class SimTaskFolderObject final : public SimDispatch<ITaskFolder> {
public:
    SimTaskFolderObject(std::shared_ptr<State> state, const SimTaskFolder& folder, std::wstring path)
        : SimDispatch(std::move(state)), folder_(folder), path_(std::move(path)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return ReturnBstr(S_OK, folder_.name, name); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return ReturnBstr(S_OK, path_, path); }
    HRESULT STDMETHODCALLTYPE GetFolders(LONG flags, ITaskFolderCollection** folders) override {
        if (!folders) return E_POINTER;
        *folders = nullptr;
        if (flags != 0) return E_INVALIDARG;
        if (FAILED(folder_.foldersResult)) return folder_.foldersResult;
        return CreateObject<SimTaskFolderCollection>(IID_ITaskFolderCollection, reinterpret_cast<void**>(folders),
                                                     state_, folder_, path_);
    }
    HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** tasks) override {
        if (!tasks) return E_POINTER;
        *tasks = nullptr;
        if (FAILED(folder_.tasksResult)) return folder_.tasksResult;
        std::vector<const SimRegisteredTask*> listed;
        for (const SimRegisteredTask& task : folder_.tasks)
            if (!task.hidden || (flags & TASK_ENUM_HIDDEN)) listed.push_back(&task);
        return CreateObject<SimRegisteredTaskCollection>(IID_IRegisteredTaskCollection, reinterpret_cast<void**>(tasks),
                                                         state_, listed, path_);
    }
    ZV_SIM_NOT_IMPLEMENTED(GetFolder, (BSTR, ITaskFolder**))
    ZV_SIM_NOT_IMPLEMENTED(CreateFolder, (BSTR, VARIANT, ITaskFolder**))
    ZV_SIM_NOT_IMPLEMENTED(DeleteFolder, (BSTR, LONG))
    ZV_SIM_NOT_IMPLEMENTED(GetTask, (BSTR, IRegisteredTask**))
    ZV_SIM_NOT_IMPLEMENTED(DeleteTask, (BSTR, LONG))
    ZV_SIM_NOT_IMPLEMENTED(RegisterTask,
                           (BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask**))
    ZV_SIM_NOT_IMPLEMENTED(RegisterTaskDefinition, (BSTR, ITaskDefinition*, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE,
                                                    VARIANT, IRegisteredTask**))
    ZV_SIM_NOT_IMPLEMENTED(GetSecurityDescriptor, (LONG, BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(SetSecurityDescriptor, (BSTR, LONG))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskFolder);
    }

private:
    const SimTaskFolder& folder_;
    std::wstring path_;
};

HRESULT STDMETHODCALLTYPE SimTaskFolderCollection::get_Item(VARIANT index, ITaskFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    size_t position = 0;
    if (!CollectionIndex(index, parent_.folders.size(), position)) return E_INVALIDARG;
    const SimTaskFolder& child = parent_.folders[position];
    std::wstring path = (parentPath_ == L"\\" ? parentPath_ : parentPath_ + L"\\") + child.name;
    return CreateObject<SimTaskFolderObject>(IID_ITaskFolder, reinterpret_cast<void**>(folder), state_, child, path);
}

class SimTaskService final : public SimDispatch<ITaskService> {
public:
    using SimDispatch::SimDispatch;

    HRESULT STDMETHODCALLTYPE Connect(VARIANT, VARIANT, VARIANT, VARIANT) override {
        HRESULT failure = state_->Failure(SimTaskStep::Connect);
        if (FAILED(failure)) return failure;
        connected_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override {
        if (!folder) return E_POINTER;
        *folder = nullptr;
        if (!connected_) return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
        HRESULT failure = state_->Failure(SimTaskStep::GetFolder);
        if (FAILED(failure)) return failure;
        if (!path || std::wstring(path) != L"\\") return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return CreateObject<SimTaskFolderObject>(IID_ITaskFolder, reinterpret_cast<void**>(folder), state_,
                                                 state_->root, L"\\");
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        if (!connected) return E_POINTER;
        *connected = connected_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    ZV_SIM_NOT_IMPLEMENTED(GetRunningTasks, (LONG, IRunningTaskCollection**))
    ZV_SIM_NOT_IMPLEMENTED(NewTask, (DWORD, ITaskDefinition**))
    ZV_SIM_NOT_IMPLEMENTED(get_TargetServer, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(get_ConnectedUser, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(get_ConnectedDomain, (BSTR*))
    ZV_SIM_NOT_IMPLEMENTED(get_HighestVersion, (DWORD*))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskService);
    }

private:
    bool connected_ = false;
};

}  // namespace

SimulatedTaskScheduler::SimulatedTaskScheduler(SimulatedBackend& backend)
    : state_(std::make_shared<State>(State{backend, {}, false, {}, {}})) {
    std::shared_ptr<State> state = state_;
    backend.RegisterClass(CLSID_CTaskScheduler, [state](REFIID iid, void** object) {
        HRESULT failure = state->Failure(SimTaskStep::CreateScheduler1);
        if (FAILED(failure)) return failure;
        return CreateObject<SimTaskScheduler1>(iid, object, state);
    });
    backend.RegisterClass(CLSID_TaskScheduler, [state](REFIID iid, void** object) {
        HRESULT failure = state->Failure(SimTaskStep::CreateService);
        if (FAILED(failure)) return failure;
        return CreateObject<SimTaskService>(iid, object, state);
    });
}

SimulatedTaskScheduler::~SimulatedTaskScheduler() = default;

std::vector<SimWorkItem>& SimulatedTaskScheduler::WorkItems() { return state_->workItems; }

void SimulatedTaskScheduler::SetWineActivate(bool wine) { state_->wineActivate = wine; }

SimTaskFolder& SimulatedTaskScheduler::Root() { return state_->root; }

void SimulatedTaskScheduler::Fail(SimTaskStep step, HRESULT result) { state_->failures[step] = result; }

}  // namespace platform
