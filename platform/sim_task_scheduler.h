// The Task Scheduler of the simulated machine, 1.0 and 2.0, for what Wine cannot hold: 2.0 task and
// action enumeration, hidden tasks, actions that start no program, and failures at every step.
// Constructing a SimulatedTaskScheduler registers both classes with the backend; every object
// CoCreateInstance then hands out counts as a live COM object of that backend until released.
#pragma once

#include <memory>

#include "platform/offline/tasks/task_objects.h"
#include "platform/sim_backend.h"

namespace platform {

class SimulatedTaskScheduler {
public:
    explicit SimulatedTaskScheduler(SimulatedBackend& backend);
    SimulatedTaskScheduler(const SimulatedTaskScheduler&) = delete;
    SimulatedTaskScheduler& operator=(const SimulatedTaskScheduler&) = delete;

    // 1.0: the work items in enumeration order.
    std::vector<TaskWorkItem>& WorkItems() { return tree_->workItems; }
    // Wine's Activate: a name with ".job" is refused (E_INVALIDARG); the name without it is found.
    void SetWineActivate(bool wine) { tree_->activateWithoutExtension = wine; }
    // 2.0: the root folder "\".
    TaskFolderEntry& Root() { return tree_->root; }
    void Fail(TaskStep step, HRESULT result) { tree_->failures[step] = result; }

private:
    std::shared_ptr<TaskTree> tree_;
};

}  // namespace platform
