// The scheduled tasks of an image, from its task files: 2.0 task documents as Windows writes them
// (read with XmlLite), damaged ones as far as they go, 1.0 work items from the published .job
// layout, and the image's task folders walked as the live scheduler walks its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/offline/offline_backend.h"
#include "platform/offline/tasks/task_files.h"
#include "support/hive_writer.h"
#include "support/task_recorder.h"

namespace {

using platform::TaskActionKind;
using platform::TaskEntry;
using platform::TaskWorkItem;
using platform::offline::ReadJobFile;
using platform::offline::ReadTaskXml;
using platform::offline::TaskXmlRead;

const wchar_t kDocument[] =
    LR"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Date>2026-01-01T00:00:00</Date>
    <Author>ZV\bob</Author>
    <URI>\Updater</URI>
  </RegistrationInfo>
  <Triggers>
    <LogonTrigger>
      <Enabled>true</Enabled>
    </LogonTrigger>
  </Triggers>
  <Principals>
    <Principal id="Author">
      <UserId>S-1-5-18</UserId>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>
    <Hidden>true</Hidden>
    <Enabled>true</Enabled>
  </Settings>
  <Actions Context="Author">
    <Exec>
      <Command>"C:\Program Files\Zv Tools\update.exe"</Command>
      <Arguments>/run &amp; <![CDATA[<quiet>]]></Arguments>
      <WorkingDirectory>C:\Temp</WorkingDirectory>
    </Exec>
    <ComHandler>
      <ClassId>{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}</ClassId>
      <Data><![CDATA[nightly]]></Data>
    </ComHandler>
    <Exec>
      <Command>%windir%\system32\cleanup.exe</Command>
    </Exec>
    <SendEmail>
      <Server>mail</Server>
    </SendEmail>
    <ShowMessage>
      <Title>t</Title>
      <Body>b</Body>
    </ShowMessage>
  </Actions>
</Task>
)";

std::vector<uint8_t> Utf16(const std::wstring& text) {
    std::vector<uint8_t> bytes{0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

std::vector<uint8_t> Utf8(const std::wstring& text, bool byteOrderMark) {
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    size_t start = byteOrderMark ? 3 : 0;
    std::vector<uint8_t> bytes(start + static_cast<size_t>(size));
    if (byteOrderMark) bytes[0] = 0xEF, bytes[1] = 0xBB, bytes[2] = 0xBF;
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<char*>(bytes.data() + start), size, nullptr, nullptr);
    return bytes;
}

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    size_t at = text.find(from);
    return at == std::wstring::npos ? text : text.replace(at, from.size(), to);
}

TaskXmlRead Read(const std::vector<uint8_t>& bytes, TaskEntry& task) {
    return ReadTaskXml(bytes.data(), bytes.size(), task);
}

// The actions as kind, command and arguments, one line each.
std::vector<std::wstring> Actions(const TaskEntry& task) {
    const wchar_t* const others[] = {L"", L"com", L"email", L"message"};  // by TaskActionKind
    std::vector<std::wstring> lines;
    for (const auto& action : task.actions)
        lines.push_back(action.kind == TaskActionKind::Execute ? L"exec " + action.path + L" | " + action.arguments
                                                               : others[static_cast<int>(action.kind)]);
    return lines;
}

TEST(TaskXml, WindowsDocumentsInEitherEncodingGiveTheirActionsInOrder) {
    const std::vector<std::wstring> expected = {L"exec \"C:\\Program Files\\Zv Tools\\update.exe\" | /run & <quiet>",
                                                L"com", L"exec %windir%\\system32\\cleanup.exe | ", L"email",
                                                L"message"};
    std::wstring utf8 = Replaced(kDocument, L"UTF-16", L"UTF-8");
    const std::pair<const char*, std::vector<uint8_t>> encodings[] = {
        {"UTF-16 with its byte-order mark", Utf16(kDocument)},
        {"UTF-8 with a byte-order mark", Utf8(utf8, true)},
        {"UTF-8 without a byte-order mark", Utf8(utf8, false)},
        {"UTF-8 without a declaration", Utf8(utf8.substr(utf8.find(L"<Task")), false)},
    };
    for (const auto& [name, bytes] : encodings) {
        TaskEntry task;
        EXPECT_EQ(Read(bytes, task), TaskXmlRead::Whole) << name;
        EXPECT_EQ(Actions(task), expected) << name;
        EXPECT_TRUE(task.hidden) << name;
    }
    TaskEntry shown;
    EXPECT_EQ(Read(Utf16(Replaced(kDocument, L"<Hidden>true</Hidden>", L"<Hidden>false</Hidden>")), shown),
              TaskXmlRead::Whole);
    EXPECT_FALSE(shown.hidden);
}

TEST(TaskXml, DamagedDocumentsKeepTheActionsReadBeforeTheDamage) {
    std::wstring document = kDocument;
    size_t secondExec = document.find(L"<Exec>", document.find(L"</Exec>"));
    TaskEntry task;
    // Cut inside the second Exec's command: the first Exec and the COM handler were read whole.
    EXPECT_EQ(Read(Utf16(document.substr(0, document.find(L"cleanup", secondExec))), task), TaskXmlRead::Damaged);
    EXPECT_EQ(Actions(task), (std::vector<std::wstring>{
                                 L"exec \"C:\\Program Files\\Zv Tools\\update.exe\" | /run & <quiet>", L"com"}));
    // Cut inside the first Exec: nothing of it.
    EXPECT_EQ(Read(Utf16(document.substr(0, document.find(L"<Arguments>"))), task), TaskXmlRead::Damaged);
    EXPECT_TRUE(task.actions.empty());
    // Broken markup after the actions ends the document there.
    EXPECT_EQ(Read(Utf16(Replaced(document, L"</Actions>", L"</Actions><<")), task), TaskXmlRead::Damaged);
    EXPECT_EQ(task.actions.size(), 5u);
    // Deeper than any task document nests.
    std::wstring nested;
    for (int i = 0; i < 100; ++i) nested = L"<a>" + nested + L"</a>";
    EXPECT_NE(Read(Utf16(Replaced(document, L"<Title>t</Title>", nested)), task), TaskXmlRead::Whole);

    const std::pair<const char*, std::vector<uint8_t>> notTasks[] = {
        {"no bytes", {}},
        {"not XML", {'M', 'Z', 0x90, 0, 3, 0}},
        {"another document", Utf16(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Job><Exec/></Job>")},
        {"an entity the document declares",
         Utf8(L"<?xml version=\"1.0\"?><!DOCTYPE Task [<!ENTITY x \"a.exe\">]><Task><Actions><Exec><Command>&x;"
              L"</Command></Exec></Actions></Task>",
              false)},
    };
    for (const auto& [name, bytes] : notTasks) {
        TaskEntry other;
        EXPECT_EQ(Read(bytes, other), TaskXmlRead::NotATask) << name;
        EXPECT_TRUE(other.actions.empty()) << name;
    }
}

// A work item file of the published layout: the fixed-length data, the running-instance count,
// then counted strings (application, parameters, working directory, author, comment).
std::vector<uint8_t> JobBytes(const std::vector<std::wstring>& strings, uint16_t applicationOffset = 0x46) {
    std::vector<uint8_t> bytes(0x46, 0);
    bytes[0] = 0x01;
    bytes[1] = 0x06;
    bytes[2] = 0x01;
    bytes[0x14] = static_cast<uint8_t>(applicationOffset & 0xFF);
    bytes[0x15] = static_cast<uint8_t>(applicationOffset >> 8);
    auto put16 = [&](size_t value) {
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    };
    for (const std::wstring& text : strings) {
        put16(text.empty() ? 0 : text.size() + 1);
        for (wchar_t c : text) put16(c);
        if (!text.empty()) put16(0);
    }
    put16(0);  // user data
    put16(0);  // reserved data
    put16(0);  // triggers
    return bytes;
}

TEST(JobFile, ApplicationAndParametersComeFromThePublishedLayout) {
    TaskWorkItem item;
    std::vector<uint8_t> bytes = JobBytes({L"C:\\Tools\\nightly.exe", L"--quiet /x", L"C:\\Tools", L"bob", L""});
    ASSERT_TRUE(ReadJobFile(bytes.data(), bytes.size(), item));
    EXPECT_EQ(item.application, L"C:\\Tools\\nightly.exe");
    EXPECT_EQ(item.parameters, L"--quiet /x");
    bytes = JobBytes({L"a.exe", L""});
    ASSERT_TRUE(ReadJobFile(bytes.data(), bytes.size(), item));
    EXPECT_EQ(item.application, L"a.exe");
    EXPECT_EQ(item.parameters, L"");

    std::vector<uint8_t> whole = JobBytes({L"C:\\Tools\\nightly.exe", L"--quiet"});
    std::vector<uint8_t> overLong = whole;
    overLong[0x46] = 0xFF;  // more characters than the file holds
    const std::pair<const char*, std::vector<uint8_t>> damaged[] = {
        {"shorter than its fixed part", std::vector<uint8_t>(whole.begin(), whole.begin() + 0x40)},
        {"cut inside the application name", std::vector<uint8_t>(whole.begin(), whole.begin() + 0x50)},
        {"cut before the parameters", std::vector<uint8_t>(whole.begin(), whole.begin() + 0x48 + 2 * 21)},
        {"a name longer than the file", overLong},
        {"the name's offset past the end", JobBytes({L"a.exe", L"-q"}, 0x7FFF)},
        {"the name's offset inside the fixed part", JobBytes({L"a.exe", L"-q"}, 0x10)},
    };
    for (const auto& [name, bytes] : damaged) {
        TaskWorkItem none;
        EXPECT_FALSE(ReadJobFile(bytes.data(), bytes.size(), none)) << name;
    }
}

class OfflineTasks : public ::testing::Test {
protected:
    void Version(const wchar_t* currentVersion, DWORD major) {
        auto& key =
            image.software.Key(L"Microsoft\\Windows NT\\CurrentVersion").String(L"CurrentVersion", currentVersion);
        if (major) key.Dword(L"CurrentMajorVersionNumber", major);
    }
    std::vector<test::TaskCall> Scan() {
        image.Write();
        auto before = test::Snapshot(image.Root());
        DWORD error = 0;
        auto backend = platform::offline::OfflineBackend::Open({image.Root(), L"", true}, error);
        EXPECT_NE(backend, nullptr) << error;
        if (!backend) return {};
        test::TaskRecorder recorder;
        {
            platform::ScopedBackend scope(*backend);
            EXPECT_EQ(Tessel::ScanScheduledTasks(&recorder, &test::kTaskRow), S_OK);
        }
        EXPECT_EQ(backend->LiveTaskObjects(), 0u);
        EXPECT_EQ(test::Snapshot(image.Root()), before);
        return recorder.calls;
    }
    void Task(const std::wstring& path, const std::vector<uint8_t>& bytes) {
        test::WriteFileBytes(image.Root() + L"\\Windows\\System32\\Tasks\\" + path, bytes);
    }
    std::wstring Exec(const std::wstring& command, const std::wstring& arguments = L"") {
        return L"<Exec><Command>" + command + L"</Command><Arguments>" + arguments + L"</Arguments></Exec>";
    }
    std::vector<uint8_t> TaskFile(const std::wstring& actions, bool hidden = false) {
        return Utf16(
            L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Task version=\"1.2\" "
            L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><Settings><Hidden>" +
            std::wstring(hidden ? L"true" : L"false") + L"</Hidden></Settings><Actions>" + actions +
            L"</Actions></Task>");
    }

    test::TestImage image;
};

std::vector<std::wstring> Lines(const std::vector<test::TaskCall>& calls) {
    std::vector<std::wstring> lines;
    for (const auto& call : calls)
        lines.push_back(call.name + L" " + call.program.value_or(L"<null>") + L" " +
                        call.arguments.value_or(L"<null>"));
    return lines;
}

TEST_F(OfflineTasks, TheImagesTaskFoldersAreWalkedBreadthFirstInNameOrder) {
    Version(L"6.3", 10);
    Task(L"Zeta", TaskFile(Exec(L"C:\\z.exe", L"-z")));
    Task(L"alpha", Utf8(Replaced(std::wstring(kDocument), L"UTF-16", L"UTF-8"), true));
    // Cut inside the second action.
    std::vector<uint8_t> broken = TaskFile(Exec(L"C:\\b.exe") + Exec(L"C:\\never.exe"));
    broken.resize(broken.size() - 80);
    Task(L"Broken", broken);
    Task(L"notes.txt", {'h', 'i'});
    Task(L"Sub\\B", TaskFile(Exec(L"C:\\sub\\b.exe")));
    Task(L"Sub\\Deeper\\C", TaskFile(Exec(L"C:\\deep\\c.exe"), true));
    Task(L"Other\\D", TaskFile(Exec(L"C:\\d1.exe", L"1") + L"<ShowMessage><Title>x</Title></ShowMessage>" +
                               Exec(L"C:\\d2.exe", L"2")));
    // Windows keeps work items for old readers beside the tasks; the 2.0 walk does not list them.
    test::WriteFileBytes(image.Root() + L"\\Windows\\Tasks\\Old.job", JobBytes({L"C:\\old.exe", L""}));

    EXPECT_EQ(Lines(Scan()), (std::vector<std::wstring>{
                                 L"\\alpha \"C:\\Program Files\\Zv Tools\\update.exe\" /run & <quiet>",
                                 L"\\alpha %windir%\\system32\\cleanup.exe ",
                                 L"\\Broken C:\\b.exe ",
                                 L"\\Zeta C:\\z.exe -z",
                                 L"\\Other\\D C:\\d1.exe 1",
                                 L"\\Other\\D C:\\d2.exe 2",
                                 L"\\Sub\\B C:\\sub\\b.exe ",
                                 L"\\Sub\\Deeper\\C C:\\deep\\c.exe ",
                             }));
}

TEST_F(OfflineTasks, AnImageBeforeVistaListsItsJobFiles) {
    Version(L"5.1", 0);
    test::WriteFileBytes(image.Root() + L"\\WINDOWS\\Tasks\\Nightly.job",
                         JobBytes({L"C:\\Tools\\nightly.exe", L"--quiet"}));
    test::WriteFileBytes(image.Root() + L"\\WINDOWS\\Tasks\\Backup.job", JobBytes({L"C:\\backup.exe", L""}));
    test::WriteFileBytes(image.Root() + L"\\WINDOWS\\Tasks\\Damaged.job", {1, 2, 3});
    test::WriteFileBytes(image.Root() + L"\\WINDOWS\\Tasks\\SA.DAT", {1, 2, 3});
    Task(L"New", TaskFile(Exec(L"C:\\new.exe")));

    EXPECT_EQ(Lines(Scan()), (std::vector<std::wstring>{L"Backup.job C:\\backup.exe ",
                                                        L"Nightly.job C:\\Tools\\nightly.exe --quiet"}));
}

}  // namespace
