// Task Scheduler 1.0 and 2.0 objects of a system whose scheduler does not run: they answer from a
// tree of tasks read beforehand. The offline backend fills the tree from the image's task files; the
// simulated backend lets a test fill it, failures at every step included. Only what reading tasks
// needs is implemented; every other operation answers E_NOTIMPL, and nothing is ever changed.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A Task Scheduler 1.0 work item.
struct TaskWorkItem {
    std::wstring name;                        // as the enumerator hands it out, ".job" included
    std::optional<std::wstring> application;  // none: GetApplicationName succeeds with NULL
    std::optional<std::wstring> parameters;   // none: GetParameters succeeds with NULL
    bool nullName = false;                    // the enumerator hands out NULL in place of the name
    HRESULT nextResult = S_OK;                // IEnumWorkItems::Next when it reaches this item
    HRESULT activateResult = S_OK;
    HRESULT applicationResult = S_OK;
    HRESULT parametersResult = S_OK;
};

enum class TaskActionKind { Execute, ComHandler, Email, Message };

// An action of a 2.0 task; only Execute actions answer IExecAction.
struct TaskAction {
    TaskActionKind kind = TaskActionKind::Execute;
    std::wstring path;
    std::wstring arguments;
    HRESULT itemResult = S_OK;  // IActionCollection::get_Item for this action
    HRESULT pathResult = S_OK;  // IExecAction::get_Path
    HRESULT argumentsResult = S_OK;
};

// A registered 2.0 task.
struct TaskEntry {
    std::wstring name;
    bool hidden = false;  // listed only when GetTasks asks for hidden tasks
    std::vector<TaskAction> actions;
    HRESULT itemResult = S_OK;  // the task collection's get_Item for this task
    HRESULT pathResult = S_OK;
    HRESULT definitionResult = S_OK;
    HRESULT actionsResult = S_OK;
    HRESULT actionCountResult = S_OK;
};

struct TaskFolderEntry {
    std::wstring name;
    std::vector<TaskEntry> tasks;
    std::vector<TaskFolderEntry> folders;
    HRESULT foldersResult = S_OK;  // GetFolders
    HRESULT tasksResult = S_OK;    // GetTasks
};

// Set-up steps that can fail: creating either class, 1.0 Enum, 2.0 Connect and GetFolder.
enum class TaskStep { CreateScheduler1, EnumWorkItems, CreateService, Connect, GetFolder };

struct TaskTree {
    std::vector<TaskWorkItem> workItems;  // 1.0, in enumeration order
    // Wine's Activate: a name with ".job" is refused (E_INVALIDARG); the name without it is found.
    bool activateWithoutExtension = false;
    TaskFolderEntry root;  // 2.0: the folder "\"
    std::map<TaskStep, HRESULT> failures;
    // Called with +1 when an object is made and -1 when it dies, for a backend that counts them.
    std::function<void(int)> objectCount;

    HRESULT Failure(TaskStep step) const;
};

// The objects of CLSID_CTaskScheduler and CLSID_TaskScheduler over a tree; every object holds the
// tree until it dies.
HRESULT CreateTaskScheduler1(std::shared_ptr<const TaskTree> tree, REFIID iid, void** object);
HRESULT CreateTaskService(std::shared_ptr<const TaskTree> tree, REFIID iid, void** object);

}  // namespace platform
