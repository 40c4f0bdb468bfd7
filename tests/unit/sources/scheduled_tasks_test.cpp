// Scheduled tasks: the way chosen by version, the 1.0 work items, the breadth-first 2.0 walk over the
// simulated scheduler with its failures, and a real 1.0 work item of the Wine prefix (also as an
// image's reader takes it from the saved file).
#include <gtest/gtest.h>

#include <mstask.h>
#include <taskschd.h>

#include <optional>
#include <string>
#include <vector>

#include "locations/routines.h"
#include "platform/handles.h"
#include "platform/offline/tasks/task_files.h"
#include "platform/sim_task_scheduler.h"
#include "scanner/scan_context.h"
#include "support/alloc_failure.h"
#include "support/hive_writer.h"
#include "support/sim_test.h"
#include "support/task_recorder.h"

namespace {

using platform::ComPtr;
using platform::TaskAction;
using platform::TaskActionKind;
using platform::TaskEntry;
using platform::TaskFolderEntry;
using platform::TaskStep;
using platform::TaskWorkItem;
using Tessel::LocationRow;

using test::kTaskRow;
using test::TaskCall;
using test::TaskRecorder;

TaskWorkItem WorkItem(const std::wstring& name, std::optional<std::wstring> application,
                      std::optional<std::wstring> parameters) {
    TaskWorkItem item;
    item.name = name;
    item.application = std::move(application);
    item.parameters = std::move(parameters);
    return item;
}

TaskAction Exec(const std::wstring& path, const std::wstring& arguments = L"") {
    TaskAction action;
    action.path = path;
    action.arguments = arguments;
    return action;
}

TaskAction Other(TaskActionKind kind) {
    TaskAction action;
    action.kind = kind;
    return action;
}

TaskEntry Task(const std::wstring& name, std::vector<TaskAction> actions) {
    TaskEntry task;
    task.name = name;
    task.actions = std::move(actions);
    return task;
}

TaskFolderEntry Folder(const std::wstring& name, std::vector<TaskEntry> tasks,
                       std::vector<TaskFolderEntry> folders = {}) {
    TaskFolderEntry folder;
    folder.name = name;
    folder.tasks = std::move(tasks);
    folder.folders = std::move(folders);
    return folder;
}

class ScheduledTasksTest : public test::SimTest {
protected:
    HRESULT Scan(HRESULT (*routine)(Tessel::IAutorunContext*, const LocationRow*)) {
        recorder.calls.clear();
        return routine(&recorder, &kTaskRow);
    }

    platform::SimulatedTaskScheduler scheduler{sim};
    TaskRecorder recorder;
};

TEST_F(ScheduledTasksTest, TheWindowsVersionChoosesTheWay) {
    scheduler.WorkItems().push_back(WorkItem(L"Legacy.job", L"legacy.exe", std::nullopt));
    scheduler.Root().tasks.push_back(Task(L"Modern", {Exec(L"modern.exe")}));

    sim.SetVersion(5, 1, 2600);
    EXPECT_EQ(Scan(Tessel::ScanScheduledTasks), S_OK);
    EXPECT_EQ(recorder.Names(), std::vector<std::wstring>{L"Legacy.job"});
    EXPECT_EQ(sim.CoInitializeSecurityCalls(), 0) << "the 1.0 way sets no security";

    for (DWORD major : {6u, 10u}) {
        sim.SetVersion(major, 0, 6000);
        EXPECT_EQ(Scan(Tessel::ScanScheduledTasks), S_OK);
        EXPECT_EQ(recorder.Names(), std::vector<std::wstring>{L"\\Modern"}) << major;
    }
    EXPECT_EQ(sim.CoInitializeSecurityCalls(), 2);
}

TEST_F(ScheduledTasksTest, WorkItemsGiveTheirProgramAndParameters) {
    auto& items = scheduler.WorkItems();
    items.push_back(WorkItem(L"Full.job", L"C:\\apps\\full.exe", L"-x \"y z\""));
    items.push_back(WorkItem(L"NoApplication.job", std::nullopt, L"-x"));
    items.push_back(WorkItem(L"Unnamed.job", L"unnamed.exe", std::nullopt));
    items.back().nullName = true;
    items.push_back(WorkItem(L"Refused.job", L"refused.exe", std::nullopt));
    items.back().activateResult = E_ACCESSDENIED;
    items.push_back(WorkItem(L"ApplicationFails.job", L"fails.exe", std::nullopt));
    items.back().applicationResult = E_FAIL;
    items.push_back(WorkItem(L"NoParameters.job", L"C:\\apps\\bare.exe", std::nullopt));
    items.push_back(WorkItem(L"ParametersFail.job", L"C:\\apps\\other.exe", L"-q"));
    items.back().parametersResult = E_FAIL;
    items.push_back(WorkItem(L"EmptyParameters.job", L"last.exe", L""));

    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler1), S_OK);
    ASSERT_EQ(recorder.Names(), (std::vector<std::wstring>{L"Full.job", L"NoParameters.job", L"ParametersFail.job",
                                                           L"EmptyParameters.job"}));
    EXPECT_EQ(recorder.calls[0].program, L"C:\\apps\\full.exe");
    EXPECT_EQ(recorder.calls[0].arguments, L"-x \"y z\"");
    EXPECT_EQ(recorder.calls[1].program, L"C:\\apps\\bare.exe");
    EXPECT_EQ(recorder.calls[1].arguments, std::nullopt) << "a work item without parameters";
    EXPECT_EQ(recorder.calls[2].arguments, std::nullopt);
    EXPECT_EQ(recorder.calls[3].arguments, L"");
}

TEST_F(ScheduledTasksTest, WorkItemEnumerationEndsAtAFailedStep) {
    auto& items = scheduler.WorkItems();
    for (const wchar_t* name : {L"A.job", L"B.job", L"C.job"}) items.push_back(WorkItem(name, L"x.exe", L"-y"));
    items[1].nextResult = E_FAIL;
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler1), S_OK);
    EXPECT_EQ(recorder.Names(), std::vector<std::wstring>{L"A.job"});
}

TEST_F(ScheduledTasksTest, WorkItemRefusedWithItsExtensionIsActivatedWithout) {
    scheduler.SetWineActivate(true);
    scheduler.WorkItems().push_back(WorkItem(L"Nightly.job", L"C:\\apps\\nightly.exe", L"/all"));
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler1), S_OK);
    ASSERT_EQ(recorder.Names(), std::vector<std::wstring>{L"Nightly.job"}) << "reported as the enumerator named it";
    EXPECT_EQ(recorder.calls[0].program, L"C:\\apps\\nightly.exe");
}

TEST_F(ScheduledTasksTest, Scheduler1SetupFailuresEndTheWayWithNothing) {
    scheduler.WorkItems().push_back(WorkItem(L"A.job", L"a.exe", std::nullopt));
    scheduler.Fail(TaskStep::EnumWorkItems, E_ACCESSDENIED);
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler1), E_ACCESSDENIED);
    EXPECT_TRUE(recorder.calls.empty());
    scheduler.Fail(TaskStep::CreateScheduler1, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler1), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(ScheduledTasksTest, FoldersAreWalkedBreadthFirst) {
    auto& root = scheduler.Root();
    root.tasks = {Task(L"R1", {Exec(L"r1.exe")}), Task(L"R2", {Exec(L"r2.exe")})};
    root.folders.push_back(Folder(
        L"A", {Task(L"A1", {Exec(L"a1.exe")})},
        {Folder(L"X", {Task(L"AX1", {Exec(L"ax1.exe")})}, {Folder(L"Deep", {Task(L"D1", {Exec(L"d1.exe")})})})}));
    root.folders.push_back(Folder(L"B", {Task(L"B1", {Exec(L"b1.exe")})}, {Folder(L"Y", {Task(L"BY1", {})})}));
    root.folders.push_back(Folder(L"C", {Task(L"C1", {Exec(L"c1.exe")})}));

    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), S_OK);
    EXPECT_EQ(recorder.Names(), (std::vector<std::wstring>{L"\\R1", L"\\R2", L"\\A\\A1", L"\\B\\B1", L"\\C\\C1",
                                                           L"\\A\\X\\AX1", L"\\A\\X\\Deep\\D1"}))
        << "a task without actions gives nothing";
}

TEST_F(ScheduledTasksTest, HiddenTasksAndOneCallPerExecuteAction) {
    auto& root = scheduler.Root();
    root.tasks.push_back(Task(L"Hidden", {Exec(L"C:\\apps\\hidden.exe", L"-h")}));
    root.tasks.back().hidden = true;
    root.tasks.push_back(Task(L"MailOnly", {Other(TaskActionKind::Email)}));
    root.tasks.push_back(Task(L"Twice", {Exec(L"first.exe", L"-1"), Exec(L"second.exe")}));
    root.tasks.push_back(Task(
        L"Mixed", {Other(TaskActionKind::Message), Other(TaskActionKind::ComHandler), Exec(L"mixed.exe", L"--now")}));

    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), S_OK);
    ASSERT_EQ(recorder.Names(), (std::vector<std::wstring>{L"\\Hidden", L"\\Twice", L"\\Twice", L"\\Mixed"}));
    EXPECT_EQ(recorder.calls[0].program, L"C:\\apps\\hidden.exe");
    EXPECT_EQ(recorder.calls[0].arguments, L"-h");
    EXPECT_EQ(recorder.calls[1].program, L"first.exe");
    EXPECT_EQ(recorder.calls[1].arguments, L"-1");
    EXPECT_EQ(recorder.calls[2].program, L"second.exe");
    EXPECT_EQ(recorder.calls[2].arguments, L"");
    EXPECT_EQ(recorder.calls[3].program, L"mixed.exe");
}

TEST_F(ScheduledTasksTest, AFailureSkipsOnlyItsFolderTaskOrAction) {
    auto& root = scheduler.Root();
    root.tasks = {
        Task(L"PathFails", {Exec(L"x.exe")}),          Task(L"DefinitionFails", {Exec(L"x.exe")}),
        Task(L"ActionsFail", {Exec(L"x.exe")}),        Task(L"CountFails", {Exec(L"x.exe")}),
        Task(L"ItemFails", {Exec(L"x.exe")}),          Task(L"OneActionFails", {Exec(L"x.exe"), Exec(L"ok.exe")}),
        Task(L"ProgramFails", {Exec(L"x.exe", L"-a")})};
    root.tasks[0].pathResult = E_FAIL;
    root.tasks[1].definitionResult = E_FAIL;
    root.tasks[2].actionsResult = E_FAIL;
    root.tasks[3].actionCountResult = E_FAIL;
    root.tasks[4].itemResult = E_FAIL;
    root.tasks[5].actions[0].itemResult = E_FAIL;
    root.tasks[6].actions[0].pathResult = E_FAIL;
    // A folder whose subfolders cannot be listed still gives its tasks, and the reverse.
    root.folders.push_back(
        Folder(L"NoSubfolders", {Task(L"N1", {Exec(L"n1.exe")})}, {Folder(L"Lost", {Task(L"L1", {Exec(L"l1.exe")})})}));
    root.folders.back().foldersResult = E_ACCESSDENIED;
    root.folders.push_back(
        Folder(L"NoTasks", {Task(L"T1", {Exec(L"t1.exe")})}, {Folder(L"Found", {Task(L"F1", {Exec(L"f1.exe")})})}));
    root.folders.back().tasksResult = E_ACCESSDENIED;

    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), S_OK);
    ASSERT_EQ(recorder.Names(), (std::vector<std::wstring>{L"\\OneActionFails", L"\\ProgramFails",
                                                           L"\\NoSubfolders\\N1", L"\\NoTasks\\Found\\F1"}));
    EXPECT_EQ(recorder.calls[0].program, L"ok.exe");
    EXPECT_EQ(recorder.calls[1].program, std::nullopt) << "an unread program is passed as NULL";
    EXPECT_EQ(recorder.calls[1].arguments, L"-a");
}

TEST_F(ScheduledTasksTest, Scheduler2SetupFailuresEndTheWayWithNothing) {
    scheduler.Root().tasks.push_back(Task(L"T", {Exec(L"t.exe")}));

    sim.SetCoInitializeSecurityResult(E_ACCESSDENIED);
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), E_ACCESSDENIED);
    EXPECT_TRUE(recorder.calls.empty());
    sim.SetCoInitializeSecurityResult(S_OK);

    const std::pair<TaskStep, HRESULT> steps[] = {
        {TaskStep::GetFolder, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {TaskStep::Connect, E_ACCESSDENIED},
        {TaskStep::CreateService, REGDB_E_CLASSNOTREG},
    };
    for (const auto& [step, result] : steps) {
        scheduler.Fail(step, result);
        EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), result);
        EXPECT_TRUE(recorder.calls.empty());
        EXPECT_EQ(sim.OpenHandles(), 0u) << "nothing of the failed set-up stays alive";
    }
}

TEST_F(ScheduledTasksTest, SecuritySetEarlierInTheProcessDoesNotStopTheWalk) {
    scheduler.Root().tasks.push_back(Task(L"T", {Exec(L"t.exe")}));
    sim.SetCoInitializeSecurityResult(RPC_E_TOO_LATE);
    EXPECT_EQ(Scan(Tessel::ScanTaskScheduler2), S_OK);
    EXPECT_EQ(recorder.Names(), std::vector<std::wstring>{L"\\T"});
}

TEST_F(ScheduledTasksTest, EveryScanOfAProcessReportsTheTasks) {
    sim.AddFile(L"C:\\apps\\tool.exe");
    sim.AddFile(L"C:\\apps\\plugin.dll");
    scheduler.Root().folders.push_back(
        Folder(L"Vendor", {Task(L"Update", {Exec(L"C:\\apps\\tool.exe", L"C:\\apps\\plugin.dll")})}));

    Tessel::CAutorunContext context;
    for (HRESULT security : {S_OK, RPC_E_TOO_LATE}) {
        sim.SetCoInitializeSecurityResult(security);
        context.ResetForScan(nullptr);
        ASSERT_TRUE(context.RunRow(&kTaskRow)) << std::hex << security;
        IZVAutorunItemEx* raw = nullptr;
        ASSERT_TRUE(context.PopItem(&raw));
        auto item = ComPtr<IZVAutorunItemEx>::Attach(raw);
        EXPECT_FALSE(context.PopItem(nullptr));
        EXPECT_EQ(item->GetId(), 0x10300001u);
        EXPECT_STREQ(item->GetLocation(), L"\\Vendor\\Update");
        ASSERT_EQ(item->GetFileCount(), 2u);
        EXPECT_STREQ(item->GetFile(0), L"C:\\apps\\tool.exe");
        EXPECT_STREQ(item->GetFile(1), L"C:\\apps\\plugin.dll");
        EXPECT_FALSE(item->CanRepair());
    }
}

TEST_F(ScheduledTasksTest, AllocationFailuresAnywhereLeaveNoSchedulerObjectAlive) {
    scheduler.WorkItems().push_back(WorkItem(L"A.job", L"a.exe", L"-a"));
    scheduler.WorkItems().push_back(WorkItem(L"B.job", L"b.exe", std::nullopt));
    scheduler.Root().tasks.push_back(Task(L"T", {Exec(L"t.exe", L"-t"), Other(TaskActionKind::Email)}));
    scheduler.Root().folders.push_back(Folder(L"F", {Task(L"U", {Exec(L"u.exe")})}));

    for (auto routine : {Tessel::ScanTaskScheduler1, Tessel::ScanTaskScheduler2}) {
        size_t failures = 0;
        for (size_t n = 0;; ++n) {
            bool failed;
            {
                test::ScopedAllocationFailure failure(n);
                try {
                    Scan(routine);
                } catch (const std::bad_alloc&) {
                }
                failed = test::AllocationFailed();
            }
            ASSERT_EQ(sim.OpenHandles(), 0u) << "n=" << n;
            if (!failed) break;
            ++failures;
        }
        EXPECT_GE(failures, 5u) << "every object the way creates failed in turn";
        EXPECT_EQ(recorder.calls.size(), 2u) << "the last, unfailed, run reports every program";
    }
}

// The real Task Scheduler 1.0 of the Wine prefix: a work item saved there is found by the 1.0 way.
class RealScheduledTasksTest : public ::testing::Test {
protected:
    void SetUp() override { initialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        if (scheduler && !jobName.empty() && FAILED(scheduler->Delete(jobName.c_str()))) DeleteFileW(JobFile().c_str());
        EXPECT_EQ(GetFileAttributesW(JobFile().c_str()), INVALID_FILE_ATTRIBUTES) << "the work item was removed";
        scheduler.Reset();
        if (initialized) CoUninitialize();
    }
    std::wstring JobFile() const {
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        return std::wstring(windows) + L"\\Tasks\\" + jobName + L".job";
    }

    bool initialized = false;
    ComPtr<ITaskScheduler> scheduler;
    std::wstring jobName;
};

TEST_F(RealScheduledTasksTest, WorkItemOfTheRealScheduler) {
    ASSERT_EQ(
        CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, scheduler.PutVoid()),
        S_OK);
    jobName = L"ZvTask" + std::to_wstring(GetCurrentProcessId());
    ComPtr<ITask> task;
    ASSERT_EQ(scheduler->NewWorkItem(jobName.c_str(), CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put())),
              S_OK);
    ASSERT_EQ(task->SetApplicationName(L"C:\\windows\\notepad.exe"), S_OK);
    ASSERT_EQ(task->SetParameters(L"/p zv.txt"), S_OK);
    ComPtr<IPersistFile> file;
    ASSERT_EQ(task->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
    ASSERT_EQ(file->Save(nullptr, TRUE), S_OK);
    file.Reset();
    task.Reset();
    // The image reader takes the same program from the bytes the scheduler saved.
    std::vector<uint8_t> bytes = test::ReadFileBytes(JobFile());
    platform::TaskWorkItem saved;
    ASSERT_TRUE(platform::offline::ReadJobFile(bytes.data(), bytes.size(), saved));
    EXPECT_EQ(saved.application, L"C:\\windows\\notepad.exe");
    EXPECT_EQ(saved.parameters, L"/p zv.txt");

    TaskRecorder recorder;
    EXPECT_EQ(Tessel::ScanTaskScheduler1(&recorder, &kTaskRow), S_OK);
    std::vector<TaskCall> ours;
    for (const auto& call : recorder.calls)
        if (_wcsicmp(call.name.c_str(), (jobName + L".job").c_str()) == 0) ours.push_back(call);
    ASSERT_EQ(ours.size(), 1u) << "reported once, under the name the enumerator gives";
    EXPECT_EQ(ours[0].program, L"C:\\windows\\notepad.exe");
    EXPECT_EQ(ours[0].arguments, L"/p zv.txt");
}

TEST_F(RealScheduledTasksTest, Scheduler2WalkRunsToItsEndOnTheRealScheduler) {
    // Wine lists folders but not tasks: the walk over its tree ends without an error.
    TaskRecorder recorder;
    EXPECT_EQ(Tessel::ScanTaskScheduler2(&recorder, &kTaskRow), S_OK);
}

}  // namespace
