// Scheduled tasks: the program of every Task Scheduler 1.0 work item before Windows Vista, and of
// every execute action of every registered 2.0 task from Vista on, hidden tasks included.
#include <mstask.h>
#include <taskschd.h>

#include <deque>
#include <new>

#include "locations/routines.h"
#include "paths/path_primitives.h"
#include "platform/handles.h"
#include "scanner/autorun_context.h"
#include "winhelpers/os_version.h"

namespace Tessel {

namespace {

using platform::ComPtr;

// A string or array the scheduler allocated with the COM task allocator; freed with it.
template <typename T>
class TaskMemory {
public:
    TaskMemory() = default;
    explicit TaskMemory(T* p) : p_(p) {}
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;
    ~TaskMemory() { platform::CoTaskMemFree(p_); }

    T** Put() {
        platform::CoTaskMemFree(p_);
        p_ = nullptr;
        return &p_;
    }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
};

// A BSTR owned for the length of a call or of one action's report.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : text_(platform::SysAllocString(text)) {
        if (!text_) throw std::bad_alloc();
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { platform::SysFreeString(text_); }

    BSTR* Put() {
        platform::SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    BSTR Get() const { return text_; }

private:
    BSTR text_ = nullptr;
};

// A 1-based index of a Task Scheduler 2.0 collection.
VARIANT CollectionIndex(LONG index) {
    VARIANT variant{};
    variant.vt = VT_I4;
    variant.lVal = index;
    return variant;
}

// Windows activates a work item by the name the enumerator gives, ".job" included; Wine only
// without the extension, so a refused name is tried once more without it.
HRESULT ActivateWorkItem(ITaskScheduler* scheduler, const wchar_t* name, ComPtr<ITask>& task) {
    HRESULT hr = scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
    if (SUCCEEDED(hr)) return hr;
    std::wstring text = name;
    size_t extension = FindExtension(text);
    if (!EqualsNoCase(text.substr(extension), L".job") || extension == 0) return hr;
    return scheduler->Activate(text.substr(0, extension).c_str(), IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
}

// Puts the subfolders of folder at the tail of the queue, in collection order.
void QueueSubfolders(ITaskFolder* folder, std::deque<ComPtr<ITaskFolder>>& queue) {
    ComPtr<ITaskFolderCollection> folders;
    LONG count = 0;
    if (FAILED(folder->GetFolders(0, folders.Put())) || !folders || FAILED(folders->get_Count(&count))) return;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ITaskFolder> subfolder;
        if (SUCCEEDED(folders->get_Item(CollectionIndex(i), subfolder.Put())) && subfolder)
            queue.push_back(std::move(subfolder));
    }
}

// One call per execute action of the task, under the task's full path.
void ReportTask(IAutorunContext* context, const LocationRow* row, IRegisteredTask* task) {
    Bstr taskPath;
    if (FAILED(task->get_Path(taskPath.Put()))) return;
    ComPtr<ITaskDefinition> definition;
    ComPtr<IActionCollection> actions;
    LONG count = 0;
    if (FAILED(task->get_Definition(definition.Put())) || !definition ||
        FAILED(definition->get_Actions(actions.Put())) || !actions || FAILED(actions->get_Count(&count)))
        return;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IAction> action;
        ComPtr<IExecAction> exec;
        if (FAILED(actions->get_Item(i, action.Put())) || !action ||
            FAILED(action->QueryInterface(IID_IExecAction, exec.PutVoid())))
            continue;
        Bstr program, arguments;
        exec->get_Path(program.Put());
        exec->get_Arguments(arguments.Put());
        context->AddScheduledTask(row, taskPath.Get(), program.Get(), arguments.Get());
    }
}

void ReportFolderTasks(IAutorunContext* context, const LocationRow* row, ITaskFolder* folder) {
    ComPtr<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    if (FAILED(folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Put())) || !tasks || FAILED(tasks->get_Count(&count))) return;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IRegisteredTask> task;
        if (SUCCEEDED(tasks->get_Item(CollectionIndex(i), task.Put())) && task) ReportTask(context, row, task.Get());
    }
}

}  // namespace

HRESULT ScanScheduledTasks(IAutorunContext* context, const LocationRow* row) {
    return Basalt::IsVistaOrLater() ? ScanTaskScheduler2(context, row) : ScanTaskScheduler1(context, row);
}

HRESULT ScanTaskScheduler1(IAutorunContext* context, const LocationRow* row) {
    ComPtr<ITaskScheduler> scheduler;
    HRESULT hr = platform::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                            scheduler.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IEnumWorkItems> workItems;
    hr = scheduler->Enum(workItems.Put());
    if (FAILED(hr)) return hr;
    for (;;) {
        TaskMemory<LPWSTR> names;
        ULONG fetched = 0;
        if (FAILED(workItems->Next(1, names.Put(), &fetched)) || fetched == 0 || !names.Get()) break;
        TaskMemory<WCHAR> name(names.Get()[0]);
        if (!name.Get()) continue;
        ComPtr<ITask> task;
        if (FAILED(ActivateWorkItem(scheduler.Get(), name.Get(), task)) || !task) continue;
        TaskMemory<WCHAR> application;
        if (FAILED(task->GetApplicationName(application.Put())) || !application.Get()) continue;
        TaskMemory<WCHAR> parameters;
        HRESULT parametersResult = task->GetParameters(parameters.Put());
        context->AddScheduledTask(row, name.Get(), application.Get(),
                                  SUCCEEDED(parametersResult) ? parameters.Get() : nullptr);
    }
    return S_OK;
}

HRESULT ScanTaskScheduler2(IAutorunContext* context, const LocationRow* row) {
    HRESULT hr = platform::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Process-wide security can be set only once: when the host or an earlier scan set it, the walk
    // goes on under that setting.
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) return hr;
    ComPtr<ITaskService> service;
    hr = platform::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    service.PutVoid());
    if (FAILED(hr)) return hr;
    // Empty arguments: the local computer, as the current user.
    VARIANT none{};
    hr = service->Connect(none, none, none, none);
    if (FAILED(hr)) return hr;
    ComPtr<ITaskFolder> root;
    {
        Bstr rootPath(L"\\");
        hr = service->GetFolder(rootPath.Get(), root.Put());
    }
    if (FAILED(hr)) return hr;

    // Breadth-first: a folder's tasks come before those of any folder below it.
    std::deque<ComPtr<ITaskFolder>> queue;
    if (root) queue.push_back(std::move(root));
    while (!queue.empty()) {
        ComPtr<ITaskFolder> folder = std::move(queue.front());
        queue.pop_front();
        QueueSubfolders(folder.Get(), queue);
        ReportFolderTasks(context, row, folder.Get());
    }
    return S_OK;
}

}  // namespace Tessel
