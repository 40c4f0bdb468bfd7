#include "platform/offline/tasks/task_files.h"

#include <shlwapi.h>
#include <xmllite.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "diag/debug_log.h"
#include "platform/handles.h"
#include "platform/offline/le_bytes.h"
#include "platform/offline/offline_backend.h"

namespace platform {
namespace offline {

namespace {

// Windows' task files are a few kilobytes; a larger one is no task the scheduler wrote.
constexpr size_t kMaxTaskFile = 4 * 1024 * 1024;
// Folders below Windows\System32\Tasks nest no deeper than a path's length allows; a link that loops
// in the image folder stops here.
constexpr unsigned kMaxFolderDepth = 64;
constexpr UINT kMaxElementDepth = 64;

// The fixed-length part of a .job file, then the running-instance count.
constexpr size_t kJobFixedLength = 0x44;
constexpr size_t kJobApplicationOffsetField = 0x14;

bool Named(const wchar_t* name, std::wstring_view wanted) { return name && wanted == name; }

// xmllite.dll of the scanning machine; it has no import library in every tool set, so it is loaded
// by its path in the system directory.
class XmlLiteLibrary {
public:
    XmlLiteLibrary() {
        wchar_t folder[MAX_PATH];
        UINT length = Win32().GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        module_ = ::LoadLibraryExW((std::wstring(folder, length) + L"\\xmllite.dll").c_str(), nullptr, 0);
        if (module_)
            create_ = reinterpret_cast<decltype(&CreateXmlReader)>(
                reinterpret_cast<void*>(::GetProcAddress(module_, "CreateXmlReader")));
    }
    ~XmlLiteLibrary() {
        if (module_) ::FreeLibrary(module_);
    }
    XmlLiteLibrary(const XmlLiteLibrary&) = delete;
    XmlLiteLibrary& operator=(const XmlLiteLibrary&) = delete;

    HRESULT CreateReader(ComPtr<IXmlReader>& reader) const {
        if (!create_) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        return create_(__uuidof(IXmlReader), reader.PutVoid(), nullptr);
    }

private:
    HMODULE module_ = nullptr;
    decltype(&CreateXmlReader) create_ = nullptr;
};

// What the walk of one document is inside of: the element path that matters, by depth.
class TaskDocument {
public:
    explicit TaskDocument(TaskEntry& task) : task_(task) {}

    // False when the root is no Task element.
    bool Start(const wchar_t* name) {
        size_t depth = path_.size();
        if (depth == 0 && !Named(name, L"Task")) return false;
        if (depth == 2 && path_[1] == L"Actions") {
            if (Named(name, L"Exec")) {
                exec_ = TaskAction{};
                inExec_ = true;
            } else if (Named(name, L"ComHandler")) {
                Other(TaskActionKind::ComHandler);
            } else if (Named(name, L"SendEmail")) {
                Other(TaskActionKind::Email);
            } else if (Named(name, L"ShowMessage")) {
                Other(TaskActionKind::Message);
            }
        }
        path_.emplace_back(name ? name : L"");
        text_.clear();
        return true;
    }
    // False when the text grows past limit characters.
    bool Text(const wchar_t* text, UINT length, size_t limit) {
        if (length > limit - std::min(limit, text_.size())) return false;
        if (text) text_.append(text, length);
        return true;
    }
    void End() {
        if (path_.empty()) return;
        size_t depth = path_.size();
        const std::wstring& name = path_.back();
        if (depth == 4 && inExec_) {
            if (name == L"Command") exec_.path = text_;
            if (name == L"Arguments") exec_.arguments = text_;
        } else if (depth == 3 && inExec_) {
            task_.actions.push_back(exec_);
            inExec_ = false;
        } else if (depth == 3 && path_[1] == L"Settings" && name == L"Hidden") {
            task_.hidden = text_ == L"true" || text_ == L"1";
        }
        path_.pop_back();
        text_.clear();
    }
    bool Rooted() const { return rooted_; }
    void SetRooted() { rooted_ = true; }

private:
    void Other(TaskActionKind kind) {
        TaskAction action;
        action.kind = kind;
        task_.actions.push_back(action);
    }

    TaskEntry& task_;
    std::vector<std::wstring> path_;
    std::wstring text_;
    TaskAction exec_;
    bool inExec_ = false;
    bool rooted_ = false;
};

TaskXmlRead ReadTaskXmlWith(const XmlLiteLibrary& xmlLite, const uint8_t* data, size_t size, TaskEntry& task) {
    if (size > kMaxTaskFile) return TaskXmlRead::NotATask;
    ComPtr<IXmlReader> reader;
    if (FAILED(xmlLite.CreateReader(reader))) return TaskXmlRead::NotATask;
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(::SHCreateMemStream(data, static_cast<UINT>(size)));
    if (!stream || FAILED(reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
        FAILED(reader->SetProperty(XmlReaderProperty_MaxElementDepth, kMaxElementDepth)) ||
        FAILED(reader->SetInput(stream.Get())))
        return TaskXmlRead::NotATask;

    task.actions.clear();
    task.hidden = false;
    TaskDocument document(task);
    XmlNodeType type;
    HRESULT hr;
    // Every node takes at least one byte of the document, and no text is longer than it: a reader
    // that goes on past that (Wine's, at a document cut inside a text, repeats the text node
    // without end) has met damage.
    size_t nodes = 0;
    while ((hr = reader->Read(&type)) == S_OK) {
        if (++nodes > size) return TaskXmlRead::Damaged;
        const wchar_t* text = nullptr;
        UINT length = 0;
        switch (type) {
            case XmlNodeType_Element:
                if (FAILED(reader->GetLocalName(&text, nullptr)) || !document.Start(text))
                    return document.Rooted() ? TaskXmlRead::Damaged : TaskXmlRead::NotATask;
                document.SetRooted();
                if (reader->IsEmptyElement()) document.End();
                break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA:
            case XmlNodeType_Whitespace:
                if (FAILED(reader->GetValue(&text, &length)) || !document.Text(text, length, size))
                    return TaskXmlRead::Damaged;
                break;
            case XmlNodeType_EndElement:
                document.End();
                break;
            default:
                break;
        }
    }
    if (!document.Rooted()) return TaskXmlRead::NotATask;
    return FAILED(hr) ? TaskXmlRead::Damaged : TaskXmlRead::Whole;
}

// A counted string of a .job file: its length in characters (the terminator included, 0 for none),
// then the characters. Advances offset past it.
bool ReadJobString(const uint8_t* data, size_t size, size_t& offset, std::wstring& text) {
    if (offset > size || size - offset < 2) return false;
    size_t count = U16(data + offset);
    offset += 2;
    if (count > (size - offset) / 2) return false;
    text.clear();
    for (size_t i = 0; i < count; ++i) {
        wchar_t c = static_cast<wchar_t>(U16(data + offset + 2 * i));
        if (c == 0) break;
        text.push_back(c);
    }
    offset += 2 * count;
    return true;
}

void LogPassedOver(const std::wstring& file, const wchar_t* why) {
    Tessel::LogDebug(Tessel::kLogWarn, L"[zavel] offline task file %ls: %ls\r\n", file.c_str(), why);
}

struct FileTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE file) { Win32().CloseHandle(file); }
};

// A task file's bytes, read whole: one open and one read, as task files are small. False for a file
// that cannot be read or is larger than any task Windows writes.
bool ReadTaskFile(const std::wstring& hostPath, std::vector<uint8_t>& bytes) {
    UniqueHandle<FileTraits> file(Win32().CreateFileW(hostPath.c_str(), GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxTaskFile))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

struct FindTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE find) { Win32().FindClose(find); }
};

struct Listed {
    std::wstring name;
    bool folder;
};

// The entries of a folder of the scanning machine, in name order, letter case aside.
std::vector<Listed> ListFolder(const std::wstring& hostFolder, const wchar_t* pattern) {
    std::vector<Listed> entries;
    WIN32_FIND_DATAW data;
    UniqueHandle<FindTraits> find(Win32().FindFirstFileW((hostFolder + L"\\" + pattern).c_str(), &data));
    if (!find) return entries;
    do {
        std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (Win32().FindNextFileW(find.get(), &data));
    std::sort(entries.begin(), entries.end(), [](const Listed& a, const Listed& b) {
        return ::CompareStringOrdinal(a.name.c_str(), -1, b.name.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return entries;
}

void ReadTaskFolder(const XmlLiteLibrary& xmlLite, const std::wstring& hostFolder, const std::wstring& imageFolder,
                    unsigned depth, TaskFolderEntry& folder) {
    std::vector<uint8_t> bytes;
    for (Listed& entry : ListFolder(hostFolder, L"*")) {
        std::wstring host = hostFolder + L"\\" + entry.name, image = imageFolder + L"\\" + entry.name;
        if (entry.folder) {
            if (depth + 1 >= kMaxFolderDepth) continue;
            TaskFolderEntry child;
            child.name = entry.name;
            ReadTaskFolder(xmlLite, host, image, depth + 1, child);
            folder.folders.push_back(std::move(child));
            continue;
        }
        bool readable = ReadTaskFile(host, bytes);
        TaskEntry task;
        task.name = entry.name;
        TaskXmlRead read =
            readable ? ReadTaskXmlWith(xmlLite, bytes.data(), bytes.size(), task) : TaskXmlRead::NotATask;
        if (read == TaskXmlRead::NotATask) {
            LogPassedOver(image, readable ? L"not a task, passed over" : L"unreadable, passed over");
            continue;
        }
        if (read == TaskXmlRead::Damaged) LogPassedOver(image, L"damaged, read up to the damage");
        folder.tasks.push_back(std::move(task));
    }
}

// A folder of the image's Windows directory: its image path and where it lies on this machine.
bool ImageFolder(const OfflineBackend& backend, const wchar_t* below, std::wstring& image, std::wstring& host) {
    image = backend.WindowsDirectory() + below;
    DWORD error = ERROR_SUCCESS;
    return backend.HostPath(image.c_str(), host, error);
}

}  // namespace

TaskXmlRead ReadTaskXml(const uint8_t* data, size_t size, TaskEntry& task) {
    XmlLiteLibrary xmlLite;
    return ReadTaskXmlWith(xmlLite, data, size, task);
}

bool ReadJobFile(const uint8_t* data, size_t size, TaskWorkItem& item) {
    if (size < kJobFixedLength + 2) return false;
    size_t offset = U16(data + kJobApplicationOffsetField);
    if (offset < kJobFixedLength + 2) return false;
    std::wstring application, parameters;
    if (!ReadJobString(data, size, offset, application) || !ReadJobString(data, size, offset, parameters)) return false;
    item.application = std::move(application);
    item.parameters = std::move(parameters);
    return true;
}

std::shared_ptr<TaskTree> ReadImageTaskFolders(const OfflineBackend& backend) {
    auto tree = std::make_shared<TaskTree>();
    std::wstring image, host;
    if (!ImageFolder(backend, L"\\System32\\Tasks", image, host)) return tree;
    XmlLiteLibrary xmlLite;
    ReadTaskFolder(xmlLite, host, image, 0, tree->root);
    return tree;
}

std::shared_ptr<TaskTree> ReadImageWorkItems(const OfflineBackend& backend) {
    auto tree = std::make_shared<TaskTree>();
    std::wstring image, host;
    if (!ImageFolder(backend, L"\\Tasks", image, host)) return tree;
    std::vector<uint8_t> bytes;
    for (Listed& entry : ListFolder(host, L"*.job")) {
        if (entry.folder) continue;
        TaskWorkItem item;
        item.name = entry.name;
        if (!ReadTaskFile(host + L"\\" + entry.name, bytes) || !ReadJobFile(bytes.data(), bytes.size(), item)) {
            LogPassedOver(image + L"\\" + entry.name, L"no work item, passed over");
            continue;
        }
        tree->workItems.push_back(std::move(item));
    }
    return tree;
}

}  // namespace offline
}  // namespace platform
