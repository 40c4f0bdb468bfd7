#include "platform/sim_task_scheduler.h"

#include <mstask.h>
#include <taskschd.h>

namespace platform {

SimulatedTaskScheduler::SimulatedTaskScheduler(SimulatedBackend& backend) : tree_(std::make_shared<TaskTree>()) {
    tree_->objectCount = backend.ComObjectCounter();
    std::shared_ptr<const TaskTree> tree = tree_;
    backend.RegisterClass(CLSID_CTaskScheduler,
                          [tree](REFIID iid, void** object) { return CreateTaskScheduler1(tree, iid, object); });
    backend.RegisterClass(CLSID_TaskScheduler,
                          [tree](REFIID iid, void** object) { return CreateTaskService(tree, iid, object); });
}

}  // namespace platform
