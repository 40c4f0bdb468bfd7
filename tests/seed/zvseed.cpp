// zvseed: seeds the Wine prefix it runs in with demo autostart entries, at least one of every kind
// zvscan reports, pointing at demo files under C:\ZvDemo. Running it again changes nothing that is
// already there and puts back what a repair removed. scripts/seed-demo.sh runs it.
//
// Its copies stand in for the demo's programs (Wine starts some of them at every session start: the
// Run keys, the startup folders): started under any other file name, zvseed does nothing and exits.
#include <initguid.h>

#include <windows.h>

#include <mstask.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kDemoDir[] = L"C:\\ZvDemo";
const wchar_t kSpacedDir[] = L"C:\\Program Files\\Zv Demo";
const wchar_t kHelperClsid[] = L"{5A7D3E10-6C2B-4F8E-9A41-2B7C0D9E1F35}";
const wchar_t kLayoutId[] = L"E0200409";
const wchar_t kTaskName[] = L"ZvDemo Nightly";

const wchar_t kWindowsRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const wchar_t kWindowsNt[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\";
const wchar_t kControl[] = L"System\\CurrentControlSet\\Control\\";
const wchar_t kServices[] = L"System\\CurrentControlSet\\Services\\";

bool g_failed = false;

void Fail(const std::wstring& what, DWORD error) {
    std::fwprintf(stderr, L"zvseed: %ls: error %lu\n", what.c_str(), error);
    g_failed = true;
}

std::wstring Demo(const wchar_t* name) { return std::wstring(kDemoDir) + L"\\" + name; }

class Key {
public:
    Key(HKEY root, const std::wstring& path) : path_(path) {
        LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS) {
            key_ = nullptr;
            Fail(L"create " + path, static_cast<DWORD>(status));
        }
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        if (!key_) return;
        LSTATUS status = RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size);
        if (status != ERROR_SUCCESS) Fail(L"set " + path_ + L"\\[" + (name ? name : L"") + L"]", status);
    }
    void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
        Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const wchar_t* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof(value)); }
    void SetMultiString(const wchar_t* name, const std::vector<std::wstring>& items) {
        std::wstring data;
        for (const std::wstring& item : items) data += item + L'\0';
        data += L'\0';
        Set(name, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }

    // The value's text, or nothing when it is absent or no string. A multi-string comes back with its
    // elements separated by zero characters.
    bool Get(const wchar_t* name, std::wstring& text) const {
        DWORD type = 0, size = 0;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
            ERROR_SUCCESS)
            return false;
        text.assign(buffer.data(), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return true;
    }

private:
    std::wstring path_;
    HKEY key_ = nullptr;
};

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool Contains(const std::vector<std::wstring>& items, const std::wstring& item) {
    for (const std::wstring& existing : items)
        if (CompareStringOrdinal(existing.c_str(), -1, item.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
    return false;
}

// Adds items to a comma-separated list value, keeping what is there.
void AddToList(Key& key, const wchar_t* name, const std::vector<std::wstring>& additions) {
    std::wstring text;
    key.Get(name, text);
    std::vector<std::wstring> items = Split(text, L',');
    for (const std::wstring& item : additions)
        if (!Contains(items, item)) text += (text.empty() ? L"" : L",") + item;
    key.SetString(name, text);
}

void AddToMultiString(Key& key, const wchar_t* name, const std::wstring& addition) {
    std::wstring text;
    key.Get(name, text);
    std::vector<std::wstring> items = Split(text, L'\0');
    if (Contains(items, addition)) return;
    items.push_back(addition);
    key.SetMultiString(name, items);
}

void MakeDirectory(const std::wstring& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail(L"create " + path, GetLastError());
}

// A program the demo's entries start: a copy of this one, which does nothing under another name.
void CopySelf(const std::wstring& target) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return Fail(L"find zvseed.exe", GetLastError());
    if (!CopyFileW(self, target.c_str(), FALSE)) Fail(L"copy to " + target, GetLastError());
}

// A library the demo's entries name; never loaded by anything, so any bytes will do.
void WritePlaceholder(const std::wstring& target) {
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(L"write " + target, GetLastError());
    static const char kText[] = "zvatrun demo placeholder: not a library\r\n";
    DWORD written = 0;
    if (!WriteFile(file, kText, sizeof(kText) - 1, &written, nullptr)) Fail(L"write " + target, GetLastError());
    CloseHandle(file);
}

void SeedFiles() {
    MakeDirectory(kDemoDir);
    MakeDirectory(kSpacedDir);
    CopySelf(std::wstring(kSpacedDir) + L"\\updater.exe");
    for (const wchar_t* program : {L"r\u00e9sum\u00e9.exe", L"zvdemo-debugger.exe", L"zvdemoboot.exe", L"tray.exe",
                                   L"nightly.exe", L"viewer.exe", L"zvdemo-tool.exe"})
        CopySelf(Demo(program));
    for (const wchar_t* library :
         {L"zvdemohelper.dll", L"zvdemobho.dll", L"zvdemohook.dll", L"zvdemohook2.dll", L"zvdemonotify.dll",
          L"zvdemonp.dll", L"zvdemosvc.dll", L"zvdemo.ime", L"zvdemokbd.dll"})
        WritePlaceholder(Demo(library));
}

// The registry families: run keys, a browser helper object, session-manager and Winlogon lists, an
// image-file debugger, a network provider.
void SeedRegistry() {
    Key(HKEY_CURRENT_USER, std::wstring(kWindowsRun) + L"Run")
        .SetString(L"ZvDemoUpdater", L"\"" + std::wstring(kSpacedDir) + L"\\updater.exe\" /background");
    // The user's RunOnce: Wine empties the machine's RunOnce key at every session start.
    Key(HKEY_CURRENT_USER, std::wstring(kWindowsRun) + L"RunOnce")
        .SetString(L"ZvDemoR\u00e9sum\u00e9", Demo(L"r\u00e9sum\u00e9.exe") + L" --once");
    Key(HKEY_LOCAL_MACHINE, std::wstring(kWindowsRun) + L"Run")
        .SetString(L"ZvDemoHelper", L"rundll32.exe " + Demo(L"zvdemohelper.dll") + L",Start");

    Key(HKEY_LOCAL_MACHINE, std::wstring(kWindowsRun) + L"Explorer\\Browser Helper Objects\\" + kHelperClsid)
        .SetString(nullptr, L"Zv Demo Browser Helper");
    const std::wstring classKey = std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + kHelperClsid;
    Key(HKEY_LOCAL_MACHINE, classKey).SetString(nullptr, L"Zv Demo Browser Helper");
    Key server(HKEY_LOCAL_MACHINE, classKey + L"\\InprocServer32");
    server.SetString(nullptr, Demo(L"zvdemobho.dll"));
    server.SetString(L"ThreadingModel", L"Apartment");

    Key sessionManager(HKEY_LOCAL_MACHINE, std::wstring(kControl) + L"Session Manager");
    AddToMultiString(sessionManager, L"BootExecute", Demo(L"zvdemoboot.exe") + L" /scan");
    Key windows(HKEY_LOCAL_MACHINE, std::wstring(kWindowsNt) + L"Windows");
    AddToList(windows, L"AppInit_DLLs", {Demo(L"zvdemohook.dll"), Demo(L"zvdemohook2.dll")});

    Key(HKEY_LOCAL_MACHINE, std::wstring(kWindowsNt) + L"Image File Execution Options\\zvdemo-target.exe")
        .SetString(L"Debugger", L"\"" + Demo(L"zvdemo-debugger.exe") + L"\" -attach");
    Key notify(HKEY_LOCAL_MACHINE, std::wstring(kWindowsNt) + L"Winlogon\\Notify\\ZvDemoNotify");
    notify.SetString(L"DLLName", Demo(L"zvdemonotify.dll"));
    notify.SetString(L"Startup", L"ZvDemoStartup");
    notify.SetDword(L"Asynchronous", 1);

    Key order(HKEY_LOCAL_MACHINE, std::wstring(kControl) + L"NetworkProvider\\Order");
    AddToList(order, L"ProviderOrder", {L"ZvDemoNP"});
    Key provider(HKEY_LOCAL_MACHINE, std::wstring(kServices) + L"ZvDemoNP\\NetworkProvider");
    provider.SetString(L"ProviderPath", Demo(L"zvdemonp.dll"), REG_EXPAND_SZ);
    provider.SetString(L"Name", L"Zv Demo Network");
}

// A shared-process service on demand start: nothing starts it, and it names three files.
void SeedService() {
    Key service(HKEY_LOCAL_MACHINE, std::wstring(kServices) + L"ZvDemoService");
    service.SetDword(L"Type", SERVICE_WIN32_SHARE_PROCESS);
    service.SetDword(L"Start", SERVICE_DEMAND_START);
    service.SetDword(L"ErrorControl", SERVICE_ERROR_NORMAL);
    service.SetString(L"ImagePath", L"%SystemRoot%\\system32\\svchost.exe -k ZvDemo", REG_EXPAND_SZ);
    service.SetString(L"DisplayName", L"Zv Demo Service");
    service.SetString(L"Description", L"A service of the zvatrun demo prefix");
    service.SetString(L"ObjectName", L"LocalSystem");
    Key parameters(HKEY_LOCAL_MACHINE, std::wstring(kServices) + L"ZvDemoService\\Parameters");
    parameters.SetString(L"ServiceDll", Demo(L"zvdemosvc.dll"), REG_EXPAND_SZ);
    parameters.SetString(L"Application", Demo(L"zvdemo-tool.exe"));
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE)) {
        Fail(L"find special folder " + std::to_wstring(csidl), GetLastError());
        return {};
    }
    return path;
}

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

// A program in the common startup folder and a shortcut in the user's.
void SeedStartupFolders() {
    std::wstring common = SpecialFolder(CSIDL_COMMON_STARTUP);
    if (!common.empty()) CopySelf(common + L"\\zvdemo-agent.exe");
    std::wstring user = SpecialFolder(CSIDL_STARTUP);
    if (user.empty()) return;
    Released<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link.p));
    if (FAILED(hr)) return Fail(L"create a shell link", static_cast<DWORD>(hr));
    link.p->SetPath(Demo(L"tray.exe").c_str());
    link.p->SetArguments(L"/minimized");
    link.p->SetDescription(L"Zv Demo Tray");
    Released<IPersistFile> file;
    hr = link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p));
    if (SUCCEEDED(hr)) hr = file.p->Save((user + L"\\Zv Demo Tray.lnk").c_str(), TRUE);
    if (FAILED(hr)) Fail(L"save the startup shortcut", static_cast<DWORD>(hr));
}

// A Task Scheduler 1.0 work item (C:\windows\Tasks\ZvDemo Nightly.job) without a trigger: it never runs.
void SeedWorkItem() {
    Released<ITaskScheduler> scheduler;
    HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                  reinterpret_cast<void**>(&scheduler.p));
    if (FAILED(hr)) return Fail(L"create the task scheduler", static_cast<DWORD>(hr));
    Released<ITask> task;
    hr = scheduler.p->NewWorkItem(kTaskName, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(&task.p));
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
        hr = scheduler.p->Activate(kTaskName, IID_ITask, reinterpret_cast<IUnknown**>(&task.p));
    if (FAILED(hr)) return Fail(L"create the work item", static_cast<DWORD>(hr));
    task.p->SetApplicationName(Demo(L"nightly.exe").c_str());
    task.p->SetParameters(L"--quiet");
    task.p->SetComment(L"A work item of the zvatrun demo prefix");
    Released<IPersistFile> file;
    hr = task.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p));
    if (SUCCEEDED(hr)) hr = file.p->Save(nullptr, TRUE);
    if (FAILED(hr)) Fail(L"save the work item", static_cast<DWORD>(hr));
}

// An input-method layout in the user's preload list, a hijacked .txt open command, a MUI-cache value.
void SeedShellEntries() {
    Key layout(HKEY_LOCAL_MACHINE, std::wstring(kControl) + L"Keyboard Layouts\\" + kLayoutId);
    layout.SetString(L"Ime File", Demo(L"zvdemo.ime"));
    layout.SetString(L"Layout File", Demo(L"zvdemokbd.dll"));
    layout.SetString(L"Layout Text", L"Zv Demo Input Method");
    // The preload list is read up to its first gap: the layout goes there unless it is listed already.
    Key preload(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload");
    for (unsigned long number = 1;; ++number) {
        std::wstring name = std::to_wstring(number), text;
        if (!preload.Get(name.c_str(), text)) {
            preload.SetString(name.c_str(), kLayoutId);
            break;
        }
        if (CompareStringOrdinal(text.c_str(), -1, kLayoutId, -1, TRUE) == CSTR_EQUAL) break;
    }

    Key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.txt").SetString(nullptr, L"txtfile");
    Key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\txtfile\\shell\\open\\command")
        .SetString(nullptr, Demo(L"viewer.exe") + L" %1");

    Key(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache")
        .SetString(Demo(L"zvdemo-tool.exe").c_str(), L"Zv Demo Tool");
}

// Wine gives zvscan the version of Windows XP in this prefix, so that the scan lists tasks through
// the Task Scheduler 1.0 interfaces: Wine's 2.0 interfaces cannot enumerate tasks.
void SeedWineSettings() {
    Key(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\zvscan.exe").SetString(L"Version", L"winxp");
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool NamedZvseed() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return false;
    std::wstring path(self, length);
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    return CompareStringOrdinal(name.c_str(), -1, L"zvseed.exe", -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (!NamedZvseed()) return 0;
    if (argc != 2 || std::wstring(argv[1]) != L"seed") {
        std::fputs("usage: zvseed seed\n  Seeds the Wine prefix it runs in with the demo's autostart entries.\n",
                   stderr);
        return 2;
    }
    // The entries are autostart entries: never on a real Windows system.
    if (!RunningUnderWine()) {
        std::fputs("zvseed: seeds Wine prefixes only\n", stderr);
        return 2;
    }
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SeedFiles();
    SeedRegistry();
    SeedService();
    SeedStartupFolders();
    SeedWorkItem();
    SeedShellEntries();
    SeedWineSettings();
    if (SUCCEEDED(com)) CoUninitialize();
    return g_failed ? 1 : 0;
}
