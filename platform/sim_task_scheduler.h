// The Task Scheduler of the simulated machine, 1.0 and 2.0, for what Wine cannot hold: 2.0 task and
// action enumeration, hidden tasks, actions that start no program, and failures at every step.
// Constructing a SimulatedTaskScheduler registers both classes with the backend; every object
// CoCreateInstance then hands out counts as a live COM object of that backend until released.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim_backend.h"

namespace platform {

// A Task Scheduler 1.0 work item.
struct SimWorkItem {
    std::wstring name;                        // as the enumerator hands it out, ".job" included
    std::optional<std::wstring> application;  // none: GetApplicationName succeeds with NULL
    std::optional<std::wstring> parameters;   // none: GetParameters succeeds with NULL
    bool nullName = false;                    // the enumerator hands out NULL in place of the name
    HRESULT nextResult = S_OK;                // IEnumWorkItems::Next when it reaches this item
    HRESULT activateResult = S_OK;
    HRESULT applicationResult = S_OK;
    HRESULT parametersResult = S_OK;
};

enum class SimActionKind { Execute, ComHandler, Email, Message };

// An action of a 2.0 task; only Execute actions answer IExecAction.
struct SimTaskAction {
    SimActionKind kind = SimActionKind::Execute;
    std::wstring path;
    std::wstring arguments;
    HRESULT itemResult = S_OK;  // IActionCollection::get_Item for this action
    HRESULT pathResult = S_OK;  // IExecAction::get_Path
    HRESULT argumentsResult = S_OK;
};

struct SimRegisteredTask {
    std::wstring name;
    bool hidden = false;  // listed only when GetTasks asks for hidden tasks
    std::vector<SimTaskAction> actions;
    HRESULT itemResult = S_OK;  // the task collection's get_Item for this task
    HRESULT pathResult = S_OK;
    HRESULT definitionResult = S_OK;
    HRESULT actionsResult = S_OK;
    HRESULT actionCountResult = S_OK;
};

struct SimTaskFolder {
    std::wstring name;
    std::vector<SimRegisteredTask> tasks;
    std::vector<SimTaskFolder> folders;
    HRESULT foldersResult = S_OK;  // GetFolders
    HRESULT tasksResult = S_OK;    // GetTasks
};

// Set-up steps whose failure can be injected: creating either class, 1.0 Enum, 2.0 Connect and
// GetFolder.
enum class SimTaskStep { CreateScheduler1, EnumWorkItems, CreateService, Connect, GetFolder };

class SimulatedTaskScheduler {
public:
    explicit SimulatedTaskScheduler(SimulatedBackend& backend);
    ~SimulatedTaskScheduler();
    SimulatedTaskScheduler(const SimulatedTaskScheduler&) = delete;
    SimulatedTaskScheduler& operator=(const SimulatedTaskScheduler&) = delete;

    // 1.0: the work items in enumeration order.
    std::vector<SimWorkItem>& WorkItems();
    // Wine's Activate: a name with ".job" is refused (E_INVALIDARG); the name without it is found.
    void SetWineActivate(bool wine);
    // 2.0: the root folder "\".
    SimTaskFolder& Root();
    void Fail(SimTaskStep step, HRESULT result);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
