// The Task Scheduler objects over a tree of tasks: 1.0 scheduler, work-item enumerator and work
// items; 2.0 service, folders, registered tasks, definitions and actions.
#include "platform/offline/tasks/task_objects.h"

// IID_IEnumWorkItems is in no import library: the scheduler headers define their identifiers here.
#include <initguid.h>

#include <mstask.h>
#include <taskschd.h>

#include <algorithm>
#include <cwctype>
#include <string_view>

#include "scanner/com_object.h"

namespace platform {

HRESULT TaskTree::Failure(TaskStep step) const {
    auto it = failures.find(step);
    return it == failures.end() ? S_OK : it->second;
}

namespace {

using Tree = std::shared_ptr<const TaskTree>;

#define ZV_TASK_NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

bool SameText(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

// The path of a folder or task in the tree: "\" for the root, which has no parent.
std::wstring ChildPath(const std::wstring& parent, const std::wstring& name) {
    if (parent.empty()) return L"\\";
    return (parent == L"\\" ? parent : parent + L"\\") + name;
}

bool EndsWithJob(std::wstring_view name) { return name.size() >= 4 && SameText(name.substr(name.size() - 4), L".job"); }

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

// The accounting shared by every object; the classes say which IIDs they answer, and the object
// model gives them their count and IUnknown.
template <typename Interface>
class TaskObject : public Interface {
public:
    explicit TaskObject(Tree tree) : tree_(std::move(tree)) {
        if (tree_->objectCount) tree_->objectCount(+1);
    }
    virtual ~TaskObject() {
        if (tree_->objectCount) tree_->objectCount(-1);
    }

    void* InterfaceFor(REFIID iid) {
        return IsEqualIID(iid, IID_IUnknown) || Answers(iid) ? static_cast<Interface*>(this) : nullptr;
    }

protected:
    virtual bool Answers(REFIID iid) const = 0;
    Tree tree_;
};

template <typename Interface>
class TaskDispatch : public TaskObject<Interface> {
public:
    using TaskObject<Interface>::TaskObject;
    ZV_TASK_NOT_IMPLEMENTED(GetTypeInfoCount, (UINT*))
    ZV_TASK_NOT_IMPLEMENTED(GetTypeInfo, (UINT, LCID, ITypeInfo**))
    ZV_TASK_NOT_IMPLEMENTED(GetIDsOfNames, (REFIID, LPOLESTR*, UINT, LCID, DISPID*))
    ZV_TASK_NOT_IMPLEMENTED(Invoke, (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))
};

// Creates an object and hands out the interface asked for; the object dies when that fails. Nothing
// here throws: an allocation that fails is E_OUTOFMEMORY.
template <typename Object, typename... Args>
HRESULT CreateObject(REFIID iid, void** out, Args&&... args) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = Tessel::QComObject<Object>::Create(std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// ---- Task Scheduler 1.0 ----------------------------------------------------------------------

class WorkItemTask : public TaskObject<ITask> {
public:
    WorkItemTask(Tree tree, const TaskWorkItem& item) : TaskObject(std::move(tree)), item_(item) {}

    HRESULT STDMETHODCALLTYPE GetApplicationName(LPWSTR* name) override {
        return ReturnTaskMemory(item_.applicationResult, item_.application, name);
    }
    HRESULT STDMETHODCALLTYPE GetParameters(LPWSTR* parameters) override {
        return ReturnTaskMemory(item_.parametersResult, item_.parameters, parameters);
    }

    ZV_TASK_NOT_IMPLEMENTED(CreateTrigger, (WORD*, ITaskTrigger**))
    ZV_TASK_NOT_IMPLEMENTED(DeleteTrigger, (WORD))
    ZV_TASK_NOT_IMPLEMENTED(GetTriggerCount, (WORD*))
    ZV_TASK_NOT_IMPLEMENTED(GetTrigger, (WORD, ITaskTrigger**))
    ZV_TASK_NOT_IMPLEMENTED(GetTriggerString, (WORD, LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, WORD*, LPSYSTEMTIME*))
    ZV_TASK_NOT_IMPLEMENTED(GetNextRunTime, (SYSTEMTIME*))
    ZV_TASK_NOT_IMPLEMENTED(SetIdleWait, (WORD, WORD))
    ZV_TASK_NOT_IMPLEMENTED(GetIdleWait, (WORD*, WORD*))
    ZV_TASK_NOT_IMPLEMENTED(Run, ())
    ZV_TASK_NOT_IMPLEMENTED(Terminate, ())
    ZV_TASK_NOT_IMPLEMENTED(EditWorkItem, (HWND, DWORD))
    ZV_TASK_NOT_IMPLEMENTED(GetMostRecentRunTime, (SYSTEMTIME*))
    ZV_TASK_NOT_IMPLEMENTED(GetStatus, (HRESULT*))
    ZV_TASK_NOT_IMPLEMENTED(GetExitCode, (DWORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetComment, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(GetComment, (LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetCreator, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(GetCreator, (LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetWorkItemData, (WORD, BYTE[]))
    ZV_TASK_NOT_IMPLEMENTED(GetWorkItemData, (WORD*, BYTE**))
    ZV_TASK_NOT_IMPLEMENTED(SetErrorRetryCount, (WORD))
    ZV_TASK_NOT_IMPLEMENTED(GetErrorRetryCount, (WORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetErrorRetryInterval, (WORD))
    ZV_TASK_NOT_IMPLEMENTED(GetErrorRetryInterval, (WORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetFlags, (DWORD))
    ZV_TASK_NOT_IMPLEMENTED(GetFlags, (DWORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetAccountInformation, (LPCWSTR, LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(GetAccountInformation, (LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetApplicationName, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(SetParameters, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(SetWorkingDirectory, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(GetWorkingDirectory, (LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetPriority, (DWORD))
    ZV_TASK_NOT_IMPLEMENTED(GetPriority, (DWORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetTaskFlags, (DWORD))
    ZV_TASK_NOT_IMPLEMENTED(GetTaskFlags, (DWORD*))
    ZV_TASK_NOT_IMPLEMENTED(SetMaxRunTime, (DWORD))
    ZV_TASK_NOT_IMPLEMENTED(GetMaxRunTime, (DWORD*))

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

    TaskWorkItem item_;
};

class EnumWorkItems : public TaskObject<IEnumWorkItems> {
public:
    using TaskObject::TaskObject;

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, LPWSTR** names, ULONG* fetched) override {
        if (!names || !fetched) return E_POINTER;
        *names = nullptr;
        *fetched = 0;
        const auto& items = tree_->workItems;
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
    ZV_TASK_NOT_IMPLEMENTED(Skip, (ULONG))
    ZV_TASK_NOT_IMPLEMENTED(Reset, ())
    ZV_TASK_NOT_IMPLEMENTED(Clone, (IEnumWorkItems**))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IEnumWorkItems); }

private:
    size_t next_ = 0;
};

class TaskScheduler1 : public TaskObject<ITaskScheduler> {
public:
    using TaskObject::TaskObject;

    HRESULT STDMETHODCALLTYPE Enum(IEnumWorkItems** items) override {
        if (!items) return E_POINTER;
        *items = nullptr;
        HRESULT failure = tree_->Failure(TaskStep::EnumWorkItems);
        if (FAILED(failure)) return failure;
        return CreateObject<EnumWorkItems>(IID_IEnumWorkItems, reinterpret_cast<void**>(items), tree_);
    }
    HRESULT STDMETHODCALLTYPE Activate(LPCWSTR name, REFIID iid, IUnknown** task) override {
        if (!name || !task) return E_INVALIDARG;
        *task = nullptr;
        std::wstring_view wanted = name;
        if (tree_->activateWithoutExtension && EndsWithJob(wanted)) return E_INVALIDARG;
        // The name asked for is mostly the one after the last found, in enumeration order: the
        // search starts there, so a walk of the work items costs one comparison each.
        const auto& items = tree_->workItems;
        for (size_t step = 0; step < items.size(); ++step) {
            const TaskWorkItem& item = items[(next_ + step) % items.size()];
            std::wstring_view listed = item.name;
            if (tree_->activateWithoutExtension && EndsWithJob(listed)) listed.remove_suffix(4);
            if (item.nullName || !SameText(listed, wanted)) continue;
            if (FAILED(item.activateResult)) return item.activateResult;
            next_ = (next_ + step + 1) % items.size();
            return CreateObject<WorkItemTask>(iid, reinterpret_cast<void**>(task), tree_, item);
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    ZV_TASK_NOT_IMPLEMENTED(SetTargetComputer, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(GetTargetComputer, (LPWSTR*))
    ZV_TASK_NOT_IMPLEMENTED(Delete, (LPCWSTR))
    ZV_TASK_NOT_IMPLEMENTED(NewWorkItem, (LPCWSTR, REFCLSID, REFIID, IUnknown**))
    ZV_TASK_NOT_IMPLEMENTED(AddWorkItem, (LPCWSTR, IScheduledWorkItem*))
    ZV_TASK_NOT_IMPLEMENTED(IsOfType, (LPCWSTR, REFIID))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_ITaskScheduler); }

private:
    size_t next_ = 0;
};

// ---- Task Scheduler 2.0 ----------------------------------------------------------------------

class ExecActionObject : public TaskDispatch<IExecAction> {
public:
    ExecActionObject(Tree tree, const TaskAction& action) : TaskDispatch(std::move(tree)), action_(action) {}

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
    ZV_TASK_NOT_IMPLEMENTED(get_Id, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_Id, (BSTR))
    ZV_TASK_NOT_IMPLEMENTED(put_Path, (BSTR))
    ZV_TASK_NOT_IMPLEMENTED(put_Arguments, (BSTR))
    ZV_TASK_NOT_IMPLEMENTED(get_WorkingDirectory, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_WorkingDirectory, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAction) || IsEqualIID(iid, IID_IExecAction);
    }

private:
    TaskAction action_;
};

// An action that starts no program: a COM handler, an e-mail or a message.
class OtherActionObject : public TaskDispatch<IAction> {
public:
    OtherActionObject(Tree tree, TASK_ACTION_TYPE type) : TaskDispatch(std::move(tree)), type_(type) {}

    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
        if (!type) return E_POINTER;
        *type = type_;
        return S_OK;
    }
    ZV_TASK_NOT_IMPLEMENTED(get_Id, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_Id, (BSTR))

protected:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAction); }

private:
    TASK_ACTION_TYPE type_;
};

class ActionCollection : public TaskDispatch<IActionCollection> {
public:
    ActionCollection(Tree tree, const TaskEntry& task) : TaskDispatch(std::move(tree)), task_(task) {}

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
        const TaskAction& entry = task_.actions[static_cast<size_t>(index) - 1];
        if (FAILED(entry.itemResult)) return entry.itemResult;
        void** out = reinterpret_cast<void**>(action);
        switch (entry.kind) {
            case TaskActionKind::Execute:
                return CreateObject<ExecActionObject>(IID_IAction, out, tree_, entry);
            case TaskActionKind::ComHandler:
                return CreateObject<OtherActionObject>(IID_IAction, out, tree_, TASK_ACTION_COM_HANDLER);
            case TaskActionKind::Email:
                return CreateObject<OtherActionObject>(IID_IAction, out, tree_, TASK_ACTION_SEND_EMAIL);
            case TaskActionKind::Message:
                return CreateObject<OtherActionObject>(IID_IAction, out, tree_, TASK_ACTION_SHOW_MESSAGE);
        }
        return E_UNEXPECTED;
    }
    ZV_TASK_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))
    ZV_TASK_NOT_IMPLEMENTED(get_XmlText, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_XmlText, (BSTR))
    ZV_TASK_NOT_IMPLEMENTED(Create, (TASK_ACTION_TYPE, IAction**))
    ZV_TASK_NOT_IMPLEMENTED(Remove, (VARIANT))
    ZV_TASK_NOT_IMPLEMENTED(Clear, ())
    ZV_TASK_NOT_IMPLEMENTED(get_Context, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_Context, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IActionCollection);
    }

private:
    const TaskEntry& task_;
};

class TaskDefinition : public TaskDispatch<ITaskDefinition> {
public:
    TaskDefinition(Tree tree, const TaskEntry& task) : TaskDispatch(std::move(tree)), task_(task) {}

    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) override {
        if (!actions) return E_POINTER;
        *actions = nullptr;
        if (FAILED(task_.actionsResult)) return task_.actionsResult;
        return CreateObject<ActionCollection>(IID_IActionCollection, reinterpret_cast<void**>(actions), tree_, task_);
    }
    ZV_TASK_NOT_IMPLEMENTED(get_RegistrationInfo, (IRegistrationInfo**))
    ZV_TASK_NOT_IMPLEMENTED(put_RegistrationInfo, (IRegistrationInfo*))
    ZV_TASK_NOT_IMPLEMENTED(get_Triggers, (ITriggerCollection**))
    ZV_TASK_NOT_IMPLEMENTED(put_Triggers, (ITriggerCollection*))
    ZV_TASK_NOT_IMPLEMENTED(get_Settings, (ITaskSettings**))
    ZV_TASK_NOT_IMPLEMENTED(put_Settings, (ITaskSettings*))
    ZV_TASK_NOT_IMPLEMENTED(get_Data, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_Data, (BSTR))
    ZV_TASK_NOT_IMPLEMENTED(get_Principal, (IPrincipal**))
    ZV_TASK_NOT_IMPLEMENTED(put_Principal, (IPrincipal*))
    ZV_TASK_NOT_IMPLEMENTED(put_Actions, (IActionCollection*))
    ZV_TASK_NOT_IMPLEMENTED(get_XmlText, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(put_XmlText, (BSTR))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskDefinition);
    }

private:
    const TaskEntry& task_;
};

class RegisteredTaskObject : public TaskDispatch<IRegisteredTask> {
public:
    RegisteredTaskObject(Tree tree, const TaskEntry& task, const std::wstring& folderPath)
        : TaskDispatch(std::move(tree)), task_(task), path_(ChildPath(folderPath, task.name)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return ReturnBstr(S_OK, task_.name, name); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return ReturnBstr(task_.pathResult, path_, path); }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** definition) override {
        if (!definition) return E_POINTER;
        *definition = nullptr;
        if (FAILED(task_.definitionResult)) return task_.definitionResult;
        return CreateObject<TaskDefinition>(IID_ITaskDefinition, reinterpret_cast<void**>(definition), tree_, task_);
    }
    ZV_TASK_NOT_IMPLEMENTED(get_State, (TASK_STATE*))
    ZV_TASK_NOT_IMPLEMENTED(get_Enabled, (VARIANT_BOOL*))
    ZV_TASK_NOT_IMPLEMENTED(put_Enabled, (VARIANT_BOOL))
    ZV_TASK_NOT_IMPLEMENTED(Run, (VARIANT, IRunningTask**))
    ZV_TASK_NOT_IMPLEMENTED(RunEx, (VARIANT, LONG, LONG, BSTR, IRunningTask**))
    ZV_TASK_NOT_IMPLEMENTED(GetInstances, (LONG, IRunningTaskCollection**))
    ZV_TASK_NOT_IMPLEMENTED(get_LastRunTime, (DATE*))
    ZV_TASK_NOT_IMPLEMENTED(get_LastTaskResult, (LONG*))
    ZV_TASK_NOT_IMPLEMENTED(get_NumberOfMissedRuns, (LONG*))
    ZV_TASK_NOT_IMPLEMENTED(get_NextRunTime, (DATE*))
    ZV_TASK_NOT_IMPLEMENTED(get_Xml, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(GetSecurityDescriptor, (LONG, BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetSecurityDescriptor, (BSTR, LONG))
    ZV_TASK_NOT_IMPLEMENTED(Stop, (LONG))
    ZV_TASK_NOT_IMPLEMENTED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IRegisteredTask);
    }

private:
    const TaskEntry& task_;
    std::wstring path_;
};

class RegisteredTaskCollection : public TaskDispatch<IRegisteredTaskCollection> {
public:
    RegisteredTaskCollection(Tree tree, const TaskFolderEntry& folder, LONG flags, std::wstring folderPath)
        : TaskDispatch(std::move(tree)), folderPath_(std::move(folderPath)) {
        for (const TaskEntry& task : folder.tasks)
            if (!task.hidden || (flags & TASK_ENUM_HIDDEN)) tasks_.push_back(&task);
    }

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
        const TaskEntry& entry = *tasks_[position];
        if (FAILED(entry.itemResult)) return entry.itemResult;
        return CreateObject<RegisteredTaskObject>(IID_IRegisteredTask, reinterpret_cast<void**>(task), tree_, entry,
                                                  folderPath_);
    }
    ZV_TASK_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IRegisteredTaskCollection);
    }

private:
    std::vector<const TaskEntry*> tasks_;
    std::wstring folderPath_;
};

class TaskFolderObject;

class TaskFolderCollection : public TaskDispatch<ITaskFolderCollection> {
public:
    TaskFolderCollection(Tree tree, const TaskFolderEntry& parent, std::wstring parentPath)
        : TaskDispatch(std::move(tree)), parent_(parent), parentPath_(std::move(parentPath)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(parent_.folders.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITaskFolder** folder) override;
    ZV_TASK_NOT_IMPLEMENTED(get__NewEnum, (IUnknown**))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskFolderCollection);
    }

private:
    const TaskFolderEntry& parent_;
    std::wstring parentPath_;
};

class TaskFolderObject : public TaskDispatch<ITaskFolder> {
public:
    // The root folder has no parent path.
    TaskFolderObject(Tree tree, const TaskFolderEntry& folder, const std::wstring& parentPath)
        : TaskDispatch(std::move(tree)), folder_(folder), path_(ChildPath(parentPath, folder.name)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return ReturnBstr(S_OK, folder_.name, name); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return ReturnBstr(S_OK, path_, path); }
    HRESULT STDMETHODCALLTYPE GetFolders(LONG flags, ITaskFolderCollection** folders) override {
        if (!folders) return E_POINTER;
        *folders = nullptr;
        if (flags != 0) return E_INVALIDARG;
        if (FAILED(folder_.foldersResult)) return folder_.foldersResult;
        return CreateObject<TaskFolderCollection>(IID_ITaskFolderCollection, reinterpret_cast<void**>(folders), tree_,
                                                  folder_, path_);
    }
    HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** tasks) override {
        if (!tasks) return E_POINTER;
        *tasks = nullptr;
        if (FAILED(folder_.tasksResult)) return folder_.tasksResult;
        return CreateObject<RegisteredTaskCollection>(IID_IRegisteredTaskCollection, reinterpret_cast<void**>(tasks),
                                                      tree_, folder_, flags, path_);
    }
    ZV_TASK_NOT_IMPLEMENTED(GetFolder, (BSTR, ITaskFolder**))
    ZV_TASK_NOT_IMPLEMENTED(CreateFolder, (BSTR, VARIANT, ITaskFolder**))
    ZV_TASK_NOT_IMPLEMENTED(DeleteFolder, (BSTR, LONG))
    ZV_TASK_NOT_IMPLEMENTED(GetTask, (BSTR, IRegisteredTask**))
    ZV_TASK_NOT_IMPLEMENTED(DeleteTask, (BSTR, LONG))
    ZV_TASK_NOT_IMPLEMENTED(RegisterTask,
                            (BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask**))
    ZV_TASK_NOT_IMPLEMENTED(RegisterTaskDefinition, (BSTR, ITaskDefinition*, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE,
                                                     VARIANT, IRegisteredTask**))
    ZV_TASK_NOT_IMPLEMENTED(GetSecurityDescriptor, (LONG, BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(SetSecurityDescriptor, (BSTR, LONG))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskFolder);
    }

private:
    const TaskFolderEntry& folder_;
    std::wstring path_;
};

HRESULT STDMETHODCALLTYPE TaskFolderCollection::get_Item(VARIANT index, ITaskFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    size_t position = 0;
    if (!CollectionIndex(index, parent_.folders.size(), position)) return E_INVALIDARG;
    const TaskFolderEntry& child = parent_.folders[position];
    return CreateObject<TaskFolderObject>(IID_ITaskFolder, reinterpret_cast<void**>(folder), tree_, child, parentPath_);
}

class TaskService : public TaskDispatch<ITaskService> {
public:
    using TaskDispatch::TaskDispatch;

    HRESULT STDMETHODCALLTYPE Connect(VARIANT, VARIANT, VARIANT, VARIANT) override {
        HRESULT failure = tree_->Failure(TaskStep::Connect);
        if (FAILED(failure)) return failure;
        connected_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override {
        if (!folder) return E_POINTER;
        *folder = nullptr;
        if (!connected_) return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
        HRESULT failure = tree_->Failure(TaskStep::GetFolder);
        if (FAILED(failure)) return failure;
        if (!path || std::wstring_view(path) != L"\\") return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return CreateObject<TaskFolderObject>(IID_ITaskFolder, reinterpret_cast<void**>(folder), tree_, tree_->root,
                                              std::wstring());
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        if (!connected) return E_POINTER;
        *connected = connected_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    ZV_TASK_NOT_IMPLEMENTED(GetRunningTasks, (LONG, IRunningTaskCollection**))
    ZV_TASK_NOT_IMPLEMENTED(NewTask, (DWORD, ITaskDefinition**))
    ZV_TASK_NOT_IMPLEMENTED(get_TargetServer, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(get_ConnectedUser, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(get_ConnectedDomain, (BSTR*))
    ZV_TASK_NOT_IMPLEMENTED(get_HighestVersion, (DWORD*))

protected:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITaskService);
    }

private:
    bool connected_ = false;
};

}  // namespace

HRESULT CreateTaskScheduler1(Tree tree, REFIID iid, void** object) {
    HRESULT failure = tree->Failure(TaskStep::CreateScheduler1);
    if (FAILED(failure)) return failure;
    return CreateObject<TaskScheduler1>(iid, object, std::move(tree));
}

HRESULT CreateTaskService(Tree tree, REFIID iid, void** object) {
    HRESULT failure = tree->Failure(TaskStep::CreateService);
    if (FAILED(failure)) return failure;
    return CreateObject<TaskService>(iid, object, std::move(tree));
}

}  // namespace platform
