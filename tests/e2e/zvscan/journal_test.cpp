// The repair journal and undo against the real (Wine) registry and files: who made a record, a last
// line cut short, what undo compares and puts back, parallel writers, quarantine names and what a
// repair will change. Keys and files carry ZvJournal in their names and are removed at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "commands/cli_options.h"
#include "commands/commands.h"
#include "evidence/sha256.h"
#include "repair/journal.h"
#include "repair/repair_effect.h"
#include "repair/repair_state.h"
#include "win/handles.h"
#include "win/machine.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

std::string ReadAll(const std::wstring& path) {
    FileHandle file = OpenForReading(path);
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The names of the files in a folder and the folders below it.
std::vector<std::wstring> FilesBelow(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::wstring& inner : FilesBelow(folder + L"\\" + name)) names.push_back(inner);
        } else {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// An item whose Repair runs the test's own change.
class FakeItem : public IZVAutorunItemEx {
public:
    explicit FakeItem(std::function<HRESULT()> repair) : repair_(std::move(repair)) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(ULONG) GetId() override { return 0; }
    STDMETHODIMP_(ULONG) GetCategory() override { return 0; }
    STDMETHODIMP_(LPCWSTR) GetLocation() override { return L""; }
    STDMETHODIMP_(ULONG) GetFileCount() override { return 0; }
    STDMETHODIMP_(LPCWSTR) GetFile(ULONG) override { return nullptr; }
    STDMETHODIMP_(BOOL) CanRepair() override { return TRUE; }
    STDMETHODIMP Repair(const ZV_REPAIR_REQUEST*) override { return repair_(); }
    STDMETHODIMP_(void) SetOwner(IZVAutorunScanner*) override {}

private:
    std::function<HRESULT()> repair_;
};

// A Run-like key of the test under HKEY_CURRENT_USER holding Updater and Other, and a folder for the
// journal; both removed at the end.
class ZvscanJournalUndo : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        folder_ = std::wstring(base) + L"ZvJournal-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        journal_ = folder_ + L"\\journal.jsonl";
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        RegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  0);
        SetString(L"Updater", L"C:\\ZvJournal\\updater.exe");
        SetString(L"Other", L"C:\\ZvJournal\\other.exe");
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        test::RemoveFolder(folder_);
    }
    void SetString(const wchar_t* name, const std::wstring& text) {
        RegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  0);
        std::string bytes = Utf16(text);
        ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  0);
    }
    // The value's text, or nothing when it is not there.
    std::optional<std::wstring> Value(const wchar_t* name) const {
        wchar_t text[512] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(text);
    }
    ItemRecord RunValue() const {
        ItemRecord record;
        record.id = 0x10101015;
        record.kind = ItemKind::Registry;
        record.repairable = true;
        record.root = L"HKEY_CURRENT_USER";
        record.keyPath = key_;
        record.valueName = L"Updater";
        record.location = L"HKEY_CURRENT_USER\\" + key_ + L"\\[Updater]";
        return record;
    }
    // The repair of the Updater value through the journal, as zvscan repair makes it.
    JournaledRepair RepairUpdater() {
        JournalWriter journal(journal_);
        FakeItem item([&] {
            RegKey key;
            LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_SET_VALUE, key.Put());
            if (status == ERROR_SUCCESS) status = RegDeleteValueW(key.Get(), L"Updater");
            return HRESULT_FROM_WIN32(status);
        });
        return RepairWithJournal(journal, &item, RunValue(), L"C:\\ZvJournal\\updater.exe");
    }
    UndoOutcome UndoEntry(unsigned long entry, bool force = false) {
        JournalWriter journal(journal_, JournalOpen::Existing);
        return Undo(journal.Reading().entries, entry, journal, force);
    }

    std::wstring folder_, journal_;
    std::wstring key_ = L"Software\\ZvJournalTest-" + std::to_wstring(GetCurrentProcessId());
};

TEST_F(ZvscanJournalUndo, ARecordFromAnotherViewOrComputerIsRefusedNamingTheZvscanThatCanUndoIt) {
    ASSERT_TRUE(RepairUpdater().recorded);
    std::string text = ReadAll(journal_);
    std::string view = RegistryView(), computer = ComputerName();
    ASSERT_FALSE(computer.empty());
    OrderedJson record = OrderedJson::parse(text.substr(0, text.find('\n')));
    EXPECT_EQ(record.value("architecture", ""), ProgramArchitecture());
    EXPECT_EQ(record.value("view", ""), view);
    EXPECT_EQ(record.value("computer", ""), computer);

    std::string otherView = view == "native" ? "wow64" : "native";
    std::string otherArchitecture = std::string(ProgramArchitecture()) == "x86" ? "x86-64" : "x86";
    test::WriteText(journal_, Replaced(Replaced(text, "\"view\":\"" + view + "\"", "\"view\":\"" + otherView + "\""),
                                       "\"architecture\":\"" + std::string(ProgramArchitecture()) + "\"",
                                       "\"architecture\":\"" + otherArchitecture + "\""));
    UndoOutcome refused = UndoEntry(1);
    EXPECT_FALSE(refused.restored);
    EXPECT_NE(refused.message.find("refused, nothing was changed"), std::string::npos) << refused.message;
    EXPECT_NE(refused.message.find("undo it with the " + otherArchitecture + " zvscan (registry view " + otherView +
                                   ") on " + computer),
              std::string::npos)
        << refused.message;
    EXPECT_FALSE(Value(L"Updater")) << "a refused undo wrote the value";
    // zvscan undo hands an entry of the other view to the other build, and says so when there is none.
    test::ProcessRun handed =
        test::RunZvscan(L"--other-build C:\\no\\such\\zvscan.exe undo 1 --journal \"" + journal_ + L"\"");
    EXPECT_EQ(handed.exitCode, 1u);
    EXPECT_NE(
        handed.err.find("entry 1 was repaired in the " + otherView +
                        " view, and the build that undoes it cannot be run: C:\\no\\such\\zvscan.exe does not exist"),
        std::string::npos)
        << handed.err;
    EXPECT_FALSE(Value(L"Updater"));

    test::WriteText(journal_,
                    Replaced(text, "\"computer\":\"" + computer + "\"", "\"computer\":\"ZVJOURNAL-ELSEWHERE\""));
    refused = UndoEntry(1);
    EXPECT_FALSE(refused.restored);
    EXPECT_NE(refused.message.find("undo it with the " + std::string(ProgramArchitecture()) +
                                   " zvscan (registry view " + view + ") on ZVJOURNAL-ELSEWHERE"),
              std::string::npos)
        << refused.message;
    EXPECT_FALSE(Value(L"Updater"));

    test::WriteText(journal_, text);
    UndoOutcome restored = UndoEntry(1);
    EXPECT_TRUE(restored.restored) << restored.message;
    EXPECT_EQ(Value(L"Updater"), std::wstring(L"C:\\ZvJournal\\updater.exe"));
}

TEST_F(ZvscanJournalUndo, ALastLineCutShortIsPassedOverWithOneWarningAndTheNextRecordStartsALine) {
    ASSERT_TRUE(RepairUpdater().recorded);
    SetString(L"Updater", L"C:\\ZvJournal\\updater.exe");
    ASSERT_TRUE(RepairUpdater().recorded);
    SetString(L"Updater", L"C:\\ZvJournal\\updater.exe");
    ASSERT_TRUE(RepairUpdater().recorded);
    std::string whole = ReadAll(journal_);
    size_t lines = static_cast<size_t>(std::count(whole.begin(), whole.end(), '\n'));
    ASSERT_EQ(lines, 6u);
    ASSERT_GT(whole.size() - whole.rfind('\n', whole.size() - 2), 100u) << "the cut stays inside the last line";
    test::WriteText(journal_, whole.substr(0, whole.size() - 100));

    JournalReading reading = ReadJournalFile(journal_);
    ASSERT_EQ(reading.warnings.size(), 1u);
    EXPECT_NE(reading.warnings[0].find("line 6: passed over: it was cut short"), std::string::npos)
        << reading.warnings[0];
    ASSERT_EQ(reading.entries.size(), 3u);
    EXPECT_TRUE(reading.entries[0].completed && reading.entries[1].completed);
    EXPECT_FALSE(reading.entries[2].completed) << "its result record was the line cut short";

    // Earlier records stay usable: the second entry is undone.
    UndoOutcome refused = UndoEntry(3);
    EXPECT_FALSE(refused.restored);
    EXPECT_NE(refused.message.find("did not finish"), std::string::npos) << refused.message;
    UndoOutcome restored = UndoEntry(2);
    EXPECT_TRUE(restored.restored) << restored.message;

    // The next record starts on a line of its own, and the cut line stays passed over.
    ASSERT_TRUE(RepairUpdater().recorded);
    reading = ReadJournalFile(journal_);
    EXPECT_EQ(reading.warnings.size(), 1u);
    ASSERT_EQ(reading.entries.size(), 4u);
    EXPECT_EQ(reading.entries[3].entry, 4u);
    EXPECT_TRUE(reading.entries[3].completed);
    EXPECT_TRUE(reading.entries[1].undone);
}

TEST_F(ZvscanJournalUndo, OnlyWhatTheRepairChangedIsComparedAndPutBackAndForceOverwritesSayingWhat) {
    // An unrelated value added to the key since the repair: undo puts the entry back and keeps it.
    ASSERT_TRUE(RepairUpdater().recorded);
    SetString(L"Added", L"C:\\ZvJournal\\added.exe");
    UndoOutcome outcome = UndoEntry(1);
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_EQ(Value(L"Updater"), std::wstring(L"C:\\ZvJournal\\updater.exe"));
    EXPECT_EQ(Value(L"Added"), std::wstring(L"C:\\ZvJournal\\added.exe")) << "a later, unrelated value was lost";

    // The entry itself changed since: refused with the difference, changing nothing; --force
    // overwrites and says what it overwrote.
    ASSERT_TRUE(RepairUpdater().recorded);
    SetString(L"Updater", L"C:\\ZvJournal\\by-hand.exe");
    outcome = UndoEntry(2);
    EXPECT_FALSE(outcome.restored);
    EXPECT_NE(outcome.message.find("[Updater]: the repair left it absent, now REG_SZ \"C:\\ZvJournal\\by-hand.exe\""),
              std::string::npos)
        << outcome.message;
    EXPECT_NE(outcome.message.find("undo --force"), std::string::npos) << outcome.message;
    EXPECT_EQ(Value(L"Updater"), std::wstring(L"C:\\ZvJournal\\by-hand.exe"));
    outcome = UndoEntry(2, true);
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_NE(outcome.message.find("overwrote"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find("by-hand.exe"), std::string::npos) << outcome.message;
    EXPECT_EQ(Value(L"Updater"), std::wstring(L"C:\\ZvJournal\\updater.exe"));

    // The whole key deleted since: refused, naming the key; --force recreates it with the entry.
    ASSERT_TRUE(RepairUpdater().recorded);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()), 0);
    outcome = UndoEntry(3);
    EXPECT_FALSE(outcome.restored);
    EXPECT_NE(outcome.message.find(Utf8(key_) + ": the repair left it present, now absent"), std::string::npos)
        << outcome.message;
    RegKey gone;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, gone.Put()), ERROR_FILE_NOT_FOUND);
    outcome = UndoEntry(3, true);
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_EQ(Value(L"Updater"), std::wstring(L"C:\\ZvJournal\\updater.exe"));
    EXPECT_FALSE(Value(L"Other")) << "only the entry the repair changed comes back";
}

TEST_F(ZvscanJournalUndo, UndoLastSaysWhichEntryItRestoresAndWhenItWasMade) {
    ASSERT_TRUE(RepairUpdater().recorded);
    // A repair that finds nothing to delete changes nothing.
    JournaledRepair nothing = RepairUpdater();
    ASSERT_TRUE(nothing.recorded);
    EXPECT_FALSE(nothing.changed);
    std::vector<JournalEntry> entries = ReadJournal(journal_);
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_EQ(LastUndoable(entries), 1u);
    std::string note = LastUndoableNote(entries, 1);
    EXPECT_NE(note.find("entry 1, the repair of " + entries[0].time), std::string::npos) << note;
    EXPECT_NE(note.find("2 (nothing to undo)"), std::string::npos) << note;
    EXPECT_EQ(LastUndoableNote(entries, 2), "") << "nothing to say when the last entry is the one undone";
    UndoOutcome outcome = UndoEntry(1);
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_EQ(outcome.message.find("entry 1 (the repair of " + entries[0].time + "): restored"), 0u) << outcome.message;
}

TEST_F(ZvscanJournalUndo, WritersWaitForTheJournalABoundedTime) {
    {
        JournalWriter holder(journal_);
        try {
            JournalWriter impatient(journal_, JournalOpen::CreateIfMissing, 200);
            ADD_FAILURE() << "a second writer opened a held journal";
        } catch (const JournalError& error) {
            EXPECT_NE(std::string(error.what()).find("still held by another zvscan"), std::string::npos)
                << error.what();
        }
    }
    // Six writers at once: each waits for the others and gets an entry of its own.
    std::vector<std::thread> writers;
    std::vector<std::string> failures(6);
    for (size_t i = 0; i < 6; ++i) {
        writers.emplace_back([&, i] {
            try {
                JournalWriter journal(journal_);
                TargetState state;
                state.target = {TargetKind::Key, L"HKEY_CURRENT_USER", key_ + L"\\Absent"};
                unsigned long entry = journal.NextEntry();
                journal.Begin({{"id", "0x10101015"}, {"location", "parallel"}}, L"", {state});
                Sleep(20);
                journal.Complete(entry, S_OK, "S_OK", {Fingerprint(state)});
            } catch (const JournalError& error) {
                failures[i] = error.what();
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");
    std::vector<JournalEntry> entries = ReadJournal(journal_);
    ASSERT_EQ(entries.size(), 6u);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].entry, i + 1);
        EXPECT_TRUE(entries[i].completed);
    }
}

TEST_F(ZvscanJournalUndo, UndoOfAJournalThatDoesNotExistIsAnErrorAndCreatesNothing) {
    std::wstring missing = folder_ + L"\\none.jsonl";
    EXPECT_THROW(JournalWriter(missing, JournalOpen::Existing), JournalError);
    EXPECT_FALSE(ReadJournalFile(missing).exists);
    Options listing;
    listing.command = Command::Undo;
    listing.journalPath = missing;
    EXPECT_EQ(RunUndo(listing), kExitFailure);
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "the listing created the journal";
    for (bool last : {false, true}) {
        Options options = listing;
        options.undoLast = last;
        options.undoEntry = last ? 0 : 5;
        EXPECT_THROW(RunUndo(options), JournalError) << (last ? "undo --last" : "undo 5");
        EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "the undo created the journal";
    }
}

TEST_F(ZvscanJournalUndo, QuarantinedCopiesDoNotKeepARunnableNameAndUndoRestoresTheOriginal) {
    std::wstring program = folder_ + L"\\zvjournal-agent.exe";
    test::WriteText(program, "agent");
    std::wstring name = QuarantineName(program);
    EXPECT_EQ(name, L"zvjournal-agent.exe.quarantined");
    wchar_t pathext[1024] = {};
    GetEnvironmentVariableW(L"PATHEXT", pathext, 1024);
    std::wstring extension = Folded(name.substr(name.rfind(L'.')));
    EXPECT_EQ(Folded(std::wstring(L";") + pathext + L";").find(L";" + extension + L";"), std::wstring::npos);

    ItemRecord record;
    record.id = 0x10400001;
    record.kind = ItemKind::Shortcut;
    record.repairable = true;
    record.filePath = program;
    record.location = program;
    JournaledRepair repair;
    {
        JournalWriter journal(journal_);
        FakeItem item([&] { return DeleteFileW(program.c_str()) ? S_OK : HRESULT_FROM_WIN32(GetLastError()); });
        repair = RepairWithJournal(journal, &item, record, program);
    }
    ASSERT_TRUE(repair.recorded) << repair.problem;
    EXPECT_TRUE(repair.changed);
    std::vector<std::wstring> kept = FilesBelow(journal_ + L".quarantine");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], L"zvjournal-agent.exe.quarantined");
    EXPECT_EQ(ReadJournal(journal_)[0].before[0].target.path, program) << "the journal keeps the original";
    UndoOutcome outcome = UndoEntry(1);
    EXPECT_TRUE(outcome.restored) << outcome.message;
    EXPECT_EQ(ReadAll(program), "agent");
}

TEST_F(ZvscanJournalUndo, TheEffectOfARepairIsToldInWordsAndARepairThatChangedNothingSaysSo) {
    ItemRecord appInit;
    appInit.id = 0x1010A001;
    appInit.kind = ItemKind::Registry;
    appInit.repairable = true;
    appInit.root = L"HKEY_LOCAL_MACHINE";
    appInit.keyPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
    appInit.valueName = L"AppInit_DLLs";
    appInit.valueData = L"C:\\windows\\system32\\legitav.dll,C:\\ZvDemo\\zvdemohook.dll";
    EXPECT_EQ(DescribeRepairEffect(appInit, L"C:\\ZvDemo\\zvdemohook.dll"),
              "clears AppInit_DLLs (also removes C:\\windows\\system32\\legitav.dll)");
    EXPECT_EQ(DescribeRepairEffect(appInit, L""),
              "clears AppInit_DLLs (removes C:\\windows\\system32\\legitav.dll, C:\\ZvDemo\\zvdemohook.dll)");

    EXPECT_EQ(DescribeRepairEffect(RunValue(), L"C:\\ZvJournal\\updater.exe"),
              "deletes value Updater of key HKEY_CURRENT_USER\\" + Utf8(key_));

    ItemRecord shell;
    shell.id = 0x1010100A;
    shell.kind = ItemKind::Registry;
    shell.repairable = true;
    shell.root = L"HKEY_LOCAL_MACHINE";
    shell.keyPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    shell.valueName = L"Shell";
    shell.valueData = L"C:\\ZvDemo\\zvdemo-shell.exe";
    EXPECT_EQ(DescribeRepairEffect(shell, L""), "restores Shell to explorer.exe");
    shell.valueData = L"explorer.exe";
    EXPECT_EQ(DescribeRepairEffect(shell, L""),
              "restores Shell to explorer.exe (it holds that already: nothing will change)");

    ItemRecord notify = shell;
    notify.id = 0x1010C005;
    notify.keyPath += L"\\Notify\\ZvDemoNotify";
    EXPECT_EQ(DescribeRepairEffect(notify, L""),
              "deletes key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\"
              "ZvDemoNotify with all its values and subkeys");
    ItemRecord none = shell;
    none.repairable = false;
    EXPECT_EQ(DescribeRepairEffect(none, L""), "");

    // S_OK with the state after the repair equal to the state before: nothing changed.
    JournaledRepair repair;
    {
        JournalWriter journal(journal_);
        FakeItem item([] { return S_OK; });
        repair = RepairWithJournal(journal, &item, RunValue(), L"");
    }
    ASSERT_TRUE(repair.recorded) << repair.problem;
    EXPECT_EQ(repair.hr, S_OK);
    EXPECT_FALSE(repair.changed);
    EXPECT_TRUE(RepairUpdater().changed);
}

}  // namespace
}  // namespace zvscan
