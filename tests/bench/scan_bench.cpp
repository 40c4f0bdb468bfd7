// Benchmark of a whole scan. Not a test: run it by hand (see README.md).
//
//   zvbench [--scales prefix,1k,10k,100k] [--repeat N]
//     On the Wine prefix as it is and with 1k, 10k or 100k entries added by the benchmark's own
//     seeder (and removed again): 70 % Run values in three command shapes, 10 % services, 20 %
//     browser helper objects. Per scale: the scan time against a replay of exactly the system calls
//     that scan made (recorded through the platform layer), calls per item by kind, allocations per
//     item, heap per held item, and the growth of the scan time from 10k to 100k.
//   zvbench --sim [--scans N]
//     A large simulated machine: time, allocations and peak heap of each scan.
//   zvbench --hostile [--scans N]
//     The simulated machine, clean and with hostile values added: the time of each scan.
//   zvbench --offline [--entries N] [--repeat N]
//     The entries of a scale (default 10k) seeded into the prefix and, the same, written into hive
//     files of an image folder that also holds their files, with one startup-folder file and one
//     Task Scheduler 1.0 work item per 20 entries: the live scan against the offline scan of the
//     image (time, items, heap per held item, file probes per item, and the ratio of the two
//     times). Then the task ways alone: the 1.0 way over Wine's scheduler against the image's
//     copies of its .job files, and the 2.0 way over as many task documents in the image (Wine's
//     scheduler lists no 2.0 task).
//   zvbench --views [--scales prefix,1k,10k] [--repeat N]
//     zvscan.exe (beside zvbench) run on each scale: the wall time of a one-view scan (--view
//     native), of the two-view scan and of the other build's scan alone, and the time to the first
//     item each writes. Where the other architecture cannot run, this zvscan stands in for it
//     (--other-build-stand-in) and scans the native view a second time.
#include <windows.h>

#include <mstask.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "locations/routines.h"
#include "platform/handles.h"
#include "platform/offline/offline_backend.h"
#include "platform/recording_backend.h"
#include "platform/sim_backend.h"
#include "scanner/autorun_context.h"
#include "support/hive_writer.h"
#include "zvatrun.h"
#include "zvoffline.h"

namespace {

size_t g_allocations = 0;
size_t g_liveBytes = 0;
size_t g_peakBytes = 0;

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

struct Scanned {
    size_t items = 0;
    double seconds = 0;
    double firstItem = 0;  // from the start of the scan to the first item
    size_t allocations = 0;
    size_t heldBytes = 0;  // heap the scan added while every item is still held
};

// One scan; the items are held until it ends, so the heap they keep can be seen.
Scanned ScanOnce(IZVAutorunScanner* scanner, size_t expectedItems = 0) {
    std::vector<IZVAutorunItemEx*> held;
    held.reserve(expectedItems + 1024);
    Scanned result;
    size_t liveBefore = g_liveBytes, allocationsBefore = g_allocations;
    double start = Now();
    scanner->StartScan(nullptr);
    IZVAutorunItemEx* item = nullptr;
    while (scanner->NextItem(&item)) {
        if (held.empty()) result.firstItem = Now() - start;
        held.push_back(item);
    }
    result.seconds = Now() - start;
    result.items = held.size();
    result.allocations = g_allocations - allocationsBefore;
    result.heldBytes = g_liveBytes - liveBefore;
    for (IZVAutorunItemEx* each : held) each->Release();
    return result;
}

// Run values, CLSID handlers, services and files in numbers a busy machine has.
void Populate(platform::SimulatedBackend& sim) {
    const std::wstring run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring bho = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
    for (int i = 0; i < 2000; ++i) {
        std::wstring n = std::to_wstring(i);
        sim.AddFile(L"C:\\Program Files\\Vendor " + n + L"\\app.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, run, L"App" + n, L"\"C:\\Program Files\\Vendor " + n + L"\\app.exe\" /s");
        sim.SetString(HKEY_CURRENT_USER, run, L"Tool" + n, L"rundll32.exe vendor" + n + L".dll,Start");
        std::wstring clsid = L"{00000000-0000-0000-0000-" + std::wstring(12 - n.size(), L'0') + n + L"}";
        sim.AddKey(HKEY_LOCAL_MACHINE, bho + clsid);
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"", L"C:\\ext\\x" + n + L".dll");
        std::wstring service = L"SYSTEM\\CurrentControlSet\\Services\\Svc" + n;
        sim.SetString(HKEY_LOCAL_MACHINE, service, L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k g" + n,
                      REG_EXPAND_SZ);
        sim.SetDword(HKEY_LOCAL_MACHINE, service, L"Type", 0x20);
        sim.SetString(HKEY_LOCAL_MACHINE, service + L"\\Parameters", L"ServiceDll", L"C:\\svc\\s" + n + L".dll");
    }
    sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
    sim.AddFile(L"C:\\windows\\system32\\svchost.exe");
}

int SimulatedScans(int scans) {
    platform::SimulatedBackend sim;
    Populate(sim);
    platform::ScopedBackend scope(sim);
    platform::ComPtr<IZVAutorunScanner> scanner;
    if (FAILED(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0))) return 1;
    size_t baseBytes = g_liveBytes;
    for (int i = 0; i < scans; ++i) {
        g_peakBytes = g_liveBytes;
        size_t before = g_liveBytes;
        Scanned result = ScanOnce(scanner.Get());
        std::printf(
            "simulated scan %d: %zu items in %.3f s, %zu allocations, peak %zu KiB above the scanner, "
            "%ld bytes kept\n",
            i + 1, result.items, result.seconds, result.allocations, (g_peakBytes - baseBytes) / 1024,
            static_cast<long>(g_liveBytes) - static_cast<long>(before));
    }
    return 0;
}

// Hostile Run values: command lines of one delimiter shape each, 64 to 4096 characters long, whose
// resolution once grew with the square of their length.
constexpr int kHostileValues = 300;

void AddHostileValues(platform::SimulatedBackend& sim) {
    const wchar_t* const units[] = {L"a ", L"a,", L"a;", L"a\"", L"a@", L"\\\\\\\\ ", L"a.b.c "};
    const std::wstring run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    for (int i = 0; i < kHostileValues; ++i) {
        std::wstring line;
        const size_t length = size_t(64) << (i / 7 % 7);
        while (line.size() < length) line += units[i % 7];
        sim.SetString(i % 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, run, L"Hostile" + std::to_wstring(i), line);
    }
}

// Scan time of the simulated machine with and without the hostile values, and their ratio.
int CompareHostileMachine(int scans) {
    platform::SimulatedBackend clean, hostile;
    Populate(clean);
    Populate(hostile);
    AddHostileValues(hostile);
    double seconds[2] = {};
    for (int machine = 0; machine < 2; ++machine) {
        platform::ScopedBackend scope(machine ? hostile : clean);
        platform::ComPtr<IZVAutorunScanner> scanner;
        if (FAILED(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0))) return 1;
        for (int i = 0; i < scans; ++i) {
            Scanned result = ScanOnce(scanner.Get());
            seconds[machine] += result.seconds / scans;
            std::printf("%s scan %d: %zu items in %.3f s\n", machine ? "hostile" : "clean", i + 1, result.items,
                        result.seconds);
        }
    }
    std::printf("%d hostile values: %.3f s per scan against %.3f s clean, %.2f times\n", kHostileValues, seconds[1],
                seconds[0], seconds[1] / seconds[0]);
    return 0;
}

// Entries written into the prefix's registry and files, all under names of the benchmark's own,
// and removed by the destructor.
class Seeder {
public:
    explicit Seeder(int entries) : entries_(entries) {
        for (int v = 0; v < kVendors; ++v) {
            CreateDirectoryW(kFiles, nullptr);
            CreateDirectoryW(Vendor(v).c_str(), nullptr);
            for (const wchar_t* file : {L"\\app.exe", L"\\helper.dll", L"\\svc.dll", L"\\bho.dll"}) {
                HANDLE h =
                    CreateFileW((Vendor(v) + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            }
        }
        for (int i = 0; i < entries_; ++i) {
            int share = i % 10;
            if (share < 7)
                SetString(RunRoot(i), kRun, Name(i), RunCommand(i));
            else if (share == 7)
                AddService(i);
            else
                AddHelper(i);
        }
    }
    ~Seeder() {
        for (int i = 0; i < entries_; ++i) {
            int share = i % 10;
            if (share < 7)
                DeleteValue(RunRoot(i), kRun, Name(i));
            else if (share == 7)
                SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kServices + Name(i)).c_str());
            else {
                SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kHelpers + Clsid(i)).c_str());
                SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kClasses + Clsid(i)).c_str());
            }
        }
        for (int v = 0; v < kVendors; ++v) {
            for (const wchar_t* file : {L"\\app.exe", L"\\helper.dll", L"\\svc.dll", L"\\bho.dll"})
                DeleteFileW((Vendor(v) + file).c_str());
            RemoveDirectoryW(Vendor(v).c_str());
        }
        RemoveDirectoryW(kFiles);
    }

    // The files the entries name, empty, at the same places under an image folder.
    static void MirrorFiles(const std::wstring& imageRoot) {
        for (int v = 0; v < kVendors; ++v)
            for (const wchar_t* file : {L"\\app.exe", L"\\helper.dll", L"\\svc.dll", L"\\bho.dll"})
                test::WriteFileBytes(imageRoot + Vendor(v).substr(2) + file, {});
        for (const wchar_t* file : {L"rundll32.exe", L"svchost.exe"})
            test::WriteFileBytes(imageRoot + L"\\windows\\system32\\" + file, {});
    }

    // The same entries as hive contents: SOFTWARE, SYSTEM (control set 1) and the user's hive.
    void Describe(test::HiveKey& software, test::HiveKey& system, test::HiveKey& user) const {
        system.Key(L"Select").Dword(L"Current", 1);
        const std::wstring controlSet = L"ControlSet001\\Services\\";
        for (int i = 0; i < entries_; ++i) {
            int share = i % 10;
            if (share < 7) {
                test::HiveKey& hive = RunRoot(i) == HKEY_LOCAL_MACHINE ? software : user;
                hive.Key(L"Microsoft\\Windows\\CurrentVersion\\Run").String(Name(i), RunCommand(i));
            } else if (share == 7) {
                test::HiveKey& key = system.Key(controlSet + Name(i));
                key.String(L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k zvbench", REG_EXPAND_SZ);
                key.String(L"DisplayName", L"Benchmark service " + std::to_wstring(i));
                key.String(L"Description", L"A service the benchmark seeded and removes again");
                key.Dword(L"Type", SERVICE_WIN32_SHARE_PROCESS);
                key.Dword(L"Start", SERVICE_DEMAND_START);
                key.Key(L"Parameters").String(L"ServiceDll", Vendor(i) + L"\\svc.dll", REG_EXPAND_SZ);
            } else {
                software.Key(L"Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\" + Clsid(i));
                software.Key(L"Classes\\CLSID\\" + Clsid(i) + L"\\InprocServer32")
                    .String(L"", Vendor(i) + L"\\bho.dll");
            }
        }
    }

private:
    static constexpr int kVendors = 50;
    static constexpr const wchar_t* kFiles = L"C:\\zvbench files";
    static inline const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    static inline const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";
    static inline const std::wstring kHelpers =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
    static inline const std::wstring kClasses = L"SOFTWARE\\Classes\\CLSID\\";

    static std::wstring Name(int i) { return L"zvbench " + std::to_wstring(i); }
    static std::wstring Vendor(int i) { return std::wstring(kFiles) + L"\\Vendor " + std::to_wstring(i % kVendors); }
    static std::wstring Clsid(int i) {
        wchar_t text[40];
        std::swprintf(text, 40, L"{2B7A0000-0000-0000-0000-%012d}", i);
        return text;
    }
    static HKEY RunRoot(int i) { return i % 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
    // A quoted path with arguments, a library started by rundll32, and an unquoted path with spaces.
    static std::wstring RunCommand(int i) {
        switch (i / 10 % 3) {
            case 0:
                return L"\"" + Vendor(i) + L"\\app.exe\" /start " + std::to_wstring(i);
            case 1:
                return L"rundll32.exe \"" + Vendor(i) + L"\\helper.dll\",Start" + std::to_wstring(i);
            default:
                return Vendor(i) + L"\\app.exe -x" + std::to_wstring(i);
        }
    }

    static void SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                          DWORD type = REG_SZ) {
        HKEY key;
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)) return;
        RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    static void SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
        HKEY key;
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)) return;
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
    static void DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name) {
        HKEY key;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, &key)) return;
        RegDeleteValueW(key, name.c_str());
        RegCloseKey(key);
    }
    static void AddService(int i) {
        std::wstring key = kServices + Name(i);
        SetString(HKEY_LOCAL_MACHINE, key, L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k zvbench",
                  REG_EXPAND_SZ);
        SetString(HKEY_LOCAL_MACHINE, key, L"DisplayName", L"Benchmark service " + std::to_wstring(i));
        SetString(HKEY_LOCAL_MACHINE, key, L"Description", L"A service the benchmark seeded and removes again");
        SetDword(HKEY_LOCAL_MACHINE, key, L"Type", SERVICE_WIN32_SHARE_PROCESS);
        SetDword(HKEY_LOCAL_MACHINE, key, L"Start", SERVICE_DEMAND_START);
        SetString(HKEY_LOCAL_MACHINE, key + L"\\Parameters", L"ServiceDll", Vendor(i) + L"\\svc.dll", REG_EXPAND_SZ);
    }
    static void AddHelper(int i) {
        HKEY key;
        if (!RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kHelpers + Clsid(i)).c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                             nullptr))
            RegCloseKey(key);
        SetString(HKEY_LOCAL_MACHINE, kClasses + Clsid(i) + L"\\InprocServer32", L"", Vendor(i) + L"\\bho.dll");
    }

    int entries_;
};

// Prints one scale's line and returns its scan time.
double MeasureScale(const std::string& label, int entries, int repeat) {
    std::unique_ptr<Seeder> seeded;
    if (entries) seeded = std::make_unique<Seeder>(entries);
    platform::ComPtr<IZVAutorunScanner> scanner;
    if (FAILED(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0))) return 0;

    size_t items = ScanOnce(scanner.Get()).items;  // builds the scanner's lists and warms the system's caches
    platform::RecordingBackend recorder(platform::Win32());
    {
        platform::ScopedBackend scope(recorder);
        ScanOnce(scanner.Get(), items);
    }

    Scanned best;
    double replay = 0;
    for (int i = 0; i < repeat; ++i) {
        Scanned scanned = ScanOnce(scanner.Get(), items);
        if (i == 0 || scanned.seconds < best.seconds) best = scanned;
        double start = Now();
        platform::Replay(recorder.Calls());
        double replayed = Now() - start;
        if (i == 0 || replayed < replay) replay = replayed;
    }

    double perItem = best.items ? 1.0 / double(best.items) : 0;
    std::printf(
        "%-7s %7zu items  scan %8.3f s  replay %8.3f s  ratio %5.2f  first item %6.3f s  "
        "%5.1f allocations/item  %6.0f bytes/held item\n        calls/item:",
        label.c_str(), best.items, best.seconds, replay, replay > 0 ? best.seconds / replay : 0, best.firstItem,
        double(best.allocations) * perItem, double(best.heldBytes) * perItem);
    for (int kind = 0; kind < platform::kCallKinds; ++kind) {
        size_t count = recorder.Count(static_cast<platform::CallKind>(kind));
        if (count)
            std::printf(" %s %.2f,", platform::CallKindName(static_cast<platform::CallKind>(kind)),
                        double(count) * perItem);
    }
    std::printf(" total %.2f\n", double(recorder.Calls().size()) * perItem);
    std::fflush(stdout);
    return best.seconds;
}

// Files of the user's startup folder and Task Scheduler 1.0 work items, made in the prefix and
// removed again; and the same, with as many 2.0 task documents, in an image folder.
class StartupAndTasks {
public:
    StartupAndTasks(int count, ITaskScheduler* scheduler) : count_(count), scheduler_(scheduler) {
        wchar_t folder[MAX_PATH];
        if (SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, FALSE)) startup_ = folder;
        for (int i = 0; i < count_ && !startup_.empty(); ++i) test::WriteFileBytes(StartupFile(i), {});
        for (int i = 0; i < count_ && scheduler_; ++i) {
            platform::ComPtr<ITask> task;
            platform::ComPtr<IPersistFile> file;
            if (FAILED(scheduler_->NewWorkItem(WorkItem(i).c_str(), CLSID_CTask, IID_ITask,
                                               reinterpret_cast<IUnknown**>(task.Put()))))
                continue;
            task->SetApplicationName(L"C:\\zvbench files\\Vendor 1\\app.exe");
            task->SetParameters((L"/task " + std::to_wstring(i)).c_str());
            if (SUCCEEDED(task->QueryInterface(IID_IPersistFile, file.PutVoid()))) file->Save(nullptr, TRUE);
        }
    }
    ~StartupAndTasks() {
        for (int i = 0; i < count_ && !startup_.empty(); ++i) DeleteFileW(StartupFile(i).c_str());
        for (int i = 0; i < count_ && scheduler_; ++i) scheduler_->Delete(WorkItem(i).c_str());
    }
    StartupAndTasks(const StartupAndTasks&) = delete;
    StartupAndTasks& operator=(const StartupAndTasks&) = delete;

    // The startup files and the work items' files at the same places, and the startup folder named
    // in the user's Shell Folders.
    void Describe(test::TestImage& image, test::HiveKey& user) const {
        if (!startup_.empty()) {
            user.Key(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
                .String(L"Startup", startup_);
            for (int i = 0; i < count_; ++i) test::WriteFileBytes(image.Root() + StartupFile(i).substr(2), {});
        }
        wchar_t windows[MAX_PATH];
        UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
        for (int i = 0; i < count_ && length; ++i) {
            std::wstring job = std::wstring(windows, length) + L"\\Tasks\\" + WorkItem(i) + L".job";
            test::WriteFileBytes(image.Root() + job.substr(2), test::ReadFileBytes(job));
        }
    }
    // One 2.0 task document per work item, in twenty folders.
    void WriteTaskDocuments(const std::wstring& imageRoot) const {
        for (int i = 0; i < count_; ++i) {
            std::wstring document =
                L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><Task version=\"1.2\" "
                L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><Settings>"
                L"<Hidden>false</Hidden></Settings><Actions Context=\"Author\"><Exec><Command>"
                L"C:\\zvbench files\\Vendor 2\\app.exe</Command><Arguments>/xml " +
                std::to_wstring(i) + L"</Arguments></Exec></Actions></Task>";
            std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(document.data()),
                                       reinterpret_cast<const uint8_t*>(document.data() + document.size()));
            test::WriteFileBytes(
                imageRoot + L"\\windows\\system32\\Tasks\\zvbench " + std::to_wstring(i % 20) + L"\\" + WorkItem(i),
                bytes);
        }
    }

private:
    std::wstring StartupFile(int i) const { return startup_ + L"\\zvbench " + std::to_wstring(i) + L".exe"; }
    static std::wstring WorkItem(int i) { return L"zvbench task " + std::to_wstring(i); }

    int count_;
    ITaskScheduler* scheduler_;
    std::wstring startup_;
};

// Counts the programs a task way reports; nothing else is asked of it.
class TaskCounter final : public Tessel::IAutorunContext {
public:
    void AddScheduledTask(const Tessel::LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR) override { ++tasks; }
    void AddRegFileListValue(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override {}
    void AddRegCommandValue(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override {}
    void AddRegValueNameCommand(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override {}
    void AddService(const Tessel::LocationRow*, LPCWSTR, DWORD, DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                    LPCWSTR) override {}
    void AddStartupFile(const Tessel::LocationRow*, LPCWSTR, LPCWSTR) override {}
    void AddIniCommand(const Tessel::LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {}
    void AddInputMethod(const Tessel::LocationRow*, DWORD, LPCWSTR, LPCWSTR, LPCWSTR) override {}
    void AddShellCommand(const Tessel::LocationRow*, LPCWSTR, LPCWSTR) override {}
    const Tessel::ShellFolderTable& GetShellFolderTable() override { return table_; }

    size_t tasks = 0;

private:
    Tessel::ShellFolderTable table_;
};

// The best time of a task way over repeat runs, and what it reported.
double TimeTasks(HRESULT (*way)(Tessel::IAutorunContext*, const Tessel::LocationRow*), int repeat, size_t& reported) {
    double best = 0;
    for (int i = 0; i < repeat; ++i) {
        TaskCounter counter;
        double start = Now();
        way(&counter, &Tessel::kAutorunLocations[1]);
        double seconds = Now() - start;
        if (i == 0 || seconds < best) best = seconds;
        reported = counter.tasks;
    }
    return best;
}

// The live scan of the seeded prefix against the offline scan of an image holding the same entries.
int OfflineAgainstLive(int entries, int repeat) {
    Seeder seeded(entries);
    platform::ComPtr<ITaskScheduler> scheduler;
    CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, scheduler.PutVoid());
    StartupAndTasks extras(entries / 20, scheduler.Get());
    test::TestImage image;
    auto& profile = image.AddProfile(L"S-1-5-21-0-0-0-1000", L"zvbench", 0x01D00001);
    seeded.Describe(image.software, image.system, profile.user.Key(L"Software"));
    seeded.MirrorFiles(image.Root());
    extras.Describe(image, profile.user);
    // The search path, version and Windows directory Wine gives the live scan.
    const wchar_t environment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    for (const wchar_t* name : {L"Path", L"PATHEXT"}) {
        wchar_t value[2048];
        DWORD size = sizeof value;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, environment, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         nullptr, value, &size) == ERROR_SUCCESS)
            image.system.Key(L"ControlSet001\\Control\\Session Manager\\Environment")
                .String(name, value, REG_EXPAND_SZ);
    }
    image.software.Key(L"Microsoft\\Windows NT\\CurrentVersion")
        .String(L"CurrentVersion", L"6.1")
        .String(L"CurrentBuildNumber", L"7601")
        .String(L"SystemRoot", L"C:\\windows");
    image.Write();

    platform::ComPtr<IZVAutorunScanner> live, offline;
    ZV_OFFLINE_SETTINGS settings{sizeof(settings), 0, image.Root().c_str(), nullptr};
    if (FAILED(ZVAtrunCreateObject(&IID_IZVAutorunScanner, live.PutVoid(), 0)) ||
        FAILED(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunScanner, offline.PutVoid())))
        return 1;
    Scanned best[2];
    IZVAutorunScanner* scanners[2] = {live.Get(), offline.Get()};
    for (int which = 0; which < 2; ++which) {
        size_t items = ScanOnce(scanners[which]).items;  // warms caches and the scanner's lists
        for (int i = 0; i < repeat; ++i) {
            Scanned scanned = ScanOnce(scanners[which], items);
            if (i == 0 || scanned.seconds < best[which].seconds) best[which] = scanned;
        }
    }
    const char* names[2] = {"live", "offline"};
    for (int which = 0; which < 2; ++which) {
        double perItem = best[which].items ? 1.0 / double(best[which].items) : 0;
        std::printf("%-8s %7zu items  scan %8.3f s  %8.1f us/item  %5.1f allocations/item  %6.0f bytes/held item",
                    names[which], best[which].items, best[which].seconds, best[which].seconds * 1e6 * perItem,
                    double(best[which].allocations) * perItem, double(best[which].heldBytes) * perItem);
        platform::ComPtr<IZVAutorunPerformView> counters;
        if (SUCCEEDED(scanners[which]->QueryInterface(IID_IZVAutorunPerformView, counters.PutVoid())))
            std::printf("  file probes/item %.2f", double(counters->GetCount(ZV_COUNT_FILE_PROBES)) * perItem);
        std::printf("\n");
    }
    if (best[1].seconds > 0) std::printf("live / offline scan time: %.1f\n", best[0].seconds / best[1].seconds);

    // Wine's scheduler lists no 2.0 task: the documents are read offline alone.
    extras.WriteTaskDocuments(image.Root());
    size_t liveItems = 0, offlineItems = 0, documents = 0;
    double live1 = TimeTasks(Tessel::ScanTaskScheduler1, repeat, liveItems), offline1 = 0, offline2 = 0;
    DWORD error = 0;
    if (auto backend = platform::offline::OfflineBackend::Open({image.Root(), L"", true}, error)) {
        platform::ScopedBackend scope(*backend);
        offline1 = TimeTasks(Tessel::ScanTaskScheduler1, repeat, offlineItems);
        offline2 = TimeTasks(Tessel::ScanTaskScheduler2, repeat, documents);
    }
    std::printf("work items: live %zu in %.3f s, offline %zu in %.3f s, live / offline %.1f\n", liveItems, live1,
                offlineItems, offline1, offline1 > 0 ? live1 / offline1 : 0);
    std::printf("task documents: offline %zu in %.3f s (%.0f us each)\n", documents, offline2,
                documents ? offline2 * 1e6 / double(documents) : 0);
    std::fflush(stdout);
    return 0;
}

// One zvscan run: the wall time until it exits, and until the first item line reached its stdout.
struct ZvscanRun {
    double seconds = 0;
    double firstItem = 0;
    size_t items = 0;
};

std::wstring ProgramFolder() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool RunZvscan(const std::wstring& arguments, ZvscanRun& run) {
    std::wstring exe = ProgramFolder() + L"zvscan.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = nul;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    double start = Now();
    bool started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(nul);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    // Read up to the end record: services the scan starts may keep the pipe open after zvscan ends.
    std::string text;
    char buffer[1 << 16];
    DWORD read = 0;
    run = ZvscanRun();
    while (text.find("{\"scan_end\"") == std::string::npos &&
           ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
        if (run.firstItem == 0 && text.find("{\"index\":") != std::string::npos) run.firstItem = Now() - start;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    run.seconds = Now() - start;
    for (size_t at = 0; (at = text.find("{\"index\":", at)) != std::string::npos; ++at) ++run.items;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return true;
}

// Two one-view scans started together, their output to NUL: the wall time until both ended, what
// this machine allows two concurrent scans without any merge.
double RunTwoAtOnce() {
    std::wstring exe = ProgramFolder() + L"zvscan.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION processes[2] = {};
    double start = Now();
    int started = 0;
    for (PROCESS_INFORMATION& process : processes) {
        std::wstring commandLine = L"\"" + exe + L"\" --format json --view native";
        if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &process))
            ++started;
    }
    for (int i = 0; i < started; ++i) WaitForSingleObject(processes[i].hProcess, INFINITE);
    double seconds = Now() - start;
    for (int i = 0; i < started; ++i) {
        CloseHandle(processes[i].hProcess);
        CloseHandle(processes[i].hThread);
    }
    CloseHandle(nul);
    return started == 2 ? seconds : 0;
}

// The one-view scan, the two-view scan and the other build's scan alone on one scale, best of
// `repeat` rounds each, and two one-view scans at once.
void MeasureViews(const std::string& label, int entries, int repeat) {
    std::unique_ptr<Seeder> seeded;
    if (entries) seeded = std::make_unique<Seeder>(entries);
    std::wstring self = L"\"" + ProgramFolder() + L"zvscan.exe\"";
    const wchar_t* names[3] = {L"one view", L"two views", L"other alone"};
    std::wstring arguments[3] = {L"--format json --view native", L"--format json --other-build-stand-in " + self,
                                 L"view-scan"};
    ZvscanRun best[3];
    ZvscanRun warm;
    RunZvscan(arguments[0], warm);  // warms the system's caches
    double together = 0;
    for (int i = 0; i < repeat; ++i) {
        double seconds = RunTwoAtOnce();
        if (i == 0 || seconds < together) together = seconds;
        for (int which = 0; which < 3; ++which) {
            ZvscanRun run;
            if (!RunZvscan(arguments[which], run)) continue;
            if (i == 0 || run.seconds < best[which].seconds) best[which].seconds = run.seconds;
            if (i == 0 || run.firstItem < best[which].firstItem) best[which].firstItem = run.firstItem;
            best[which].items = run.items;
        }
    }
    for (int which = 0; which < 3; ++which)
        std::printf("%-7s %-11ls %7zu items  %8.3f s  first item %6.3f s\n", label.c_str(), names[which],
                    best[which].items, best[which].seconds, best[which].firstItem);
    std::printf("%-7s two one-view scans at once, output to NUL: %.3f s\n", label.c_str(), together);
    double longer = std::max(best[0].seconds, best[2].seconds);
    if (longer > 0)
        std::printf("%-7s two views / longer one view %.2f (two at once / longer one view %.2f), first item two "
                    "views / one view %.2f\n",
                    label.c_str(), best[1].seconds / longer, together / longer,
                    best[0].firstItem > 0 ? best[1].firstItem / best[0].firstItem : 0);
    std::fflush(stdout);
}

// The scales named in a comma-separated list, as labels and entry counts; false, with a message, for
// a name that is none.
bool ParseScales(const std::wstring& scales, std::vector<std::pair<std::string, int>>& parsed) {
    static const std::map<std::wstring, int> known = {
        {L"prefix", 0}, {L"1k", 1000}, {L"10k", 10000}, {L"100k", 100000}};
    size_t at = 0;
    while (at <= scales.size()) {
        size_t comma = scales.find(L',', at);
        std::wstring name = scales.substr(at, comma == std::wstring::npos ? std::wstring::npos : comma - at);
        at = comma == std::wstring::npos ? scales.size() + 1 : comma + 1;
        auto scale = known.find(name);
        if (scale == known.end()) {
            std::fwprintf(stderr, L"unknown scale %ls (prefix, 1k, 10k, 100k)\n", name.c_str());
            return false;
        }
        parsed.emplace_back(std::string(name.begin(), name.end()), scale->second);
    }
    return true;
}

int ViewScales(const std::wstring& scales, int repeat) {
    std::vector<std::pair<std::string, int>> parsed;
    if (!ParseScales(scales, parsed)) return 2;
    for (const auto& [label, entries] : parsed) MeasureViews(label, entries, repeat);
    return 0;
}

int RealScales(const std::wstring& scales, int repeat) {
    std::vector<std::pair<std::string, int>> parsed;
    if (!ParseScales(scales, parsed)) return 2;
    std::map<int, double> seconds;
    for (const auto& [label, entries] : parsed) seconds[entries] = MeasureScale(label, entries, repeat);
    if (seconds.count(10000) && seconds.count(100000) && seconds[10000] > 0)
        std::printf("growth 10k -> 100k: %.2f\n", seconds[100000] / seconds[10000]);
    return 0;
}

}  // namespace

void* operator new(size_t size) {
    size_t* block = static_cast<size_t*>(std::malloc(size + sizeof(size_t)));
    if (!block) throw std::bad_alloc();
    *block = size;
    ++g_allocations;
    g_liveBytes += size;
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
    return block + 1;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    size_t* block = static_cast<size_t*>(p) - 1;
    g_liveBytes -= *block;
    std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

int wmain(int argc, wchar_t** argv) {
    int scans = 5, repeat = 3;
    bool simulated = false, hostile = false, offline = false, views = false;
    int entries = 10000;
    std::wstring scales = L"prefix,1k,10k";
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--scans") && i + 1 < argc) scans = _wtoi(argv[++i]);
        else if (!wcscmp(argv[i], L"--repeat") && i + 1 < argc) repeat = std::max(1, _wtoi(argv[++i]));
        else if (!wcscmp(argv[i], L"--scales") && i + 1 < argc) scales = argv[++i];
        else if (!wcscmp(argv[i], L"--sim")) simulated = true;
        else if (!wcscmp(argv[i], L"--hostile")) hostile = true;
        else if (!wcscmp(argv[i], L"--offline")) offline = true;
        else if (!wcscmp(argv[i], L"--views")) views = true;
        else if (!wcscmp(argv[i], L"--entries") && i + 1 < argc) entries = std::max(0, _wtoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: zvbench [--scales prefix,1k,10k,100k] [--repeat N] | --sim [--scans N] | "
                                 "--hostile [--scans N] | --offline [--entries N] [--repeat N] | "
                                 "--views [--scales prefix,1k,10k] [--repeat N]\n");
            return 2;
        }
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = views       ? ViewScales(scales, repeat)
                 : offline   ? OfflineAgainstLive(entries, repeat)
                 : hostile   ? CompareHostileMachine(scans)
                 : simulated ? SimulatedScans(scans)
                             : RealScales(scales, repeat);
    CoUninitialize();
    return status;
}
