#include "repair/journal.h"

#include <shlobj.h>

#include <algorithm>

#include "evidence/evidence.h"
#include "repair/repair_report.h"
#include "repair/state_change.h"
#include "report/output.h"
#include "win/machine.h"
#include "win/text.h"

namespace zvscan {

namespace {

[[noreturn]] void Fail(const std::wstring& path, const std::string& what, DWORD error) {
    throw JournalError("journal " + Utf8(path) + ": " + what + " (error " + std::to_string(error) + ")");
}

std::vector<std::string> Strings(const OrderedJson& json) {
    std::vector<std::string> list;
    for (const auto& text : json) list.push_back(text.get<std::string>());
    return list;
}

// Reads one line into the entries; throws a plain message for the caller to place.
void ReadLine(const std::string& line, std::vector<JournalEntry>& entries) {
    OrderedJson json;
    try {
        json = OrderedJson::parse(line);
    } catch (const nlohmann::json::exception&) {
        throw std::runtime_error("not a JSON object (cut short or damaged)");
    }
    try {
        std::string type = json.at("type").get<std::string>();
        if (type == "torn") return;
        unsigned long number = json.at("entry").get<unsigned long>();
        auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == number; });
        if (type == "repair") {
            if (found != entries.end()) throw std::runtime_error("entry " + std::to_string(number) + " written twice");
            JournalEntry entry;
            entry.entry = number;
            entry.time = json.at("time").get<std::string>();
            entry.architecture = json.value("architecture", "");
            entry.view = json.value("view", "");
            entry.computer = json.value("computer", "");
            entry.item = json.at("item");
            entry.requestFile = json.at("request_file").get<std::string>();
            for (const auto& state : json.at("before")) entry.before.push_back(TargetStateFromJson(state));
            entry.fingerprintsBefore = Strings(json.at("fingerprints_before"));
            if (entry.fingerprintsBefore.size() != entry.before.size())
                throw std::runtime_error("a fingerprint for every part is missing");
            entries.push_back(std::move(entry));
            return;
        }
        if (found == entries.end()) throw std::runtime_error("entry " + std::to_string(number) + " has no repair record");
        if (type == "result") {
            found->completed = true;
            found->hresult = json.at("hresult").get<std::string>();
            found->result = json.at("result").get<std::string>();
            found->fingerprintsAfter = Strings(json.at("fingerprints_after"));
            if (found->fingerprintsAfter.size() != found->before.size())
                throw std::runtime_error("a fingerprint for every part is missing");
            if (json.contains("after")) {
                for (const auto& state : json.at("after")) found->after.push_back(TargetStateFromJson(state));
                if (found->after.size() != found->before.size())
                    throw std::runtime_error("a state after the repair for every part is missing");
            }
        } else if (type == "undo") {
            found->undone = true;
            found->undoneTime = json.at("time").get<std::string>();
        } else {
            throw std::runtime_error("unknown record type " + type);
        }
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(std::string("a field is missing or of the wrong type: ") + error.what());
    }
}

// The line is a writer's note that the line numbered torn was cut short.
bool MarksTorn(const std::string& line, size_t torn) {
    OrderedJson json = OrderedJson::parse(line, nullptr, false);
    return json.is_object() && json.value("type", "") == "torn" && json.contains("line") &&
           json["line"].is_number_unsigned() && json["line"].get<size_t>() == torn;
}

std::string TornWarning(const std::wstring& path, size_t line) {
    return "journal " + Utf8(path) + ", line " + std::to_string(line) +
           ": passed over: it was cut short by a write that did not finish (zvscan stopped while writing it)";
}

std::string MadeBy(const std::string& architecture, const std::string& view, const std::string& computer) {
    return "the " + architecture + " zvscan (registry view " + view + ") on " + computer;
}

std::string ItemText(const OrderedJson& item, const char* field) {
    return item.contains(field) && item[field].is_string() ? item[field].get<std::string>() : std::string();
}

// An entry after this one that changed the same key or file and was not undone.
const JournalEntry* LaterChangeOf(const std::vector<JournalEntry>& entries, const JournalEntry& entry,
                                  const Target& target) {
    for (const JournalEntry& later : entries) {
        if (later.entry <= entry.entry || !later.Undoable()) continue;
        for (const TargetState& state : later.before)
            if (Describe(state.target) == Describe(target)) return &later;
    }
    return nullptr;
}

}  // namespace

std::string NowIsoUtc() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return IsoUtc(now);
}

std::wstring DefaultJournalPath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder)))
        throw JournalError("cannot find the local application data folder for the journal; name one with --journal");
    return std::wstring(folder) + L"\\zvscan\\journal.jsonl";
}

JournalReading ReadJournalFile(const std::wstring& path) {
    JournalReading reading;
    FileHandle file = OpenForReading(path);
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return reading;
        Fail(path, "cannot be read", error);
    }
    reading.exists = true;
    std::string text;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) Fail(path, "cannot be read", GetLastError());
        if (read == 0) break;
        text.append(buffer, read);
    }
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    bool terminated = text.empty() || text.back() == '\n';
    for (size_t i = 0; i < lines.size(); ++i) {
        try {
            ReadLine(lines[i], reading.entries);
        } catch (const std::runtime_error& error) {
            bool last = i + 1 == lines.size();
            // Only a write that did not finish leaves a last line without its end; a writer after it
            // marks it on the next line.
            if ((last && !terminated) || (!last && MarksTorn(lines[i + 1], i + 1))) {
                reading.warnings.push_back(TornWarning(path, i + 1));
                if (last) reading.tornLine = i + 1;
                continue;
            }
            throw JournalError("journal " + Utf8(path) + ", line " + std::to_string(i + 1) + ": " + error.what());
        }
    }
    reading.unterminated = !terminated && reading.tornLine == 0;
    return reading;
}

std::vector<JournalEntry> ReadJournal(const std::wstring& path) { return ReadJournalFile(path).entries; }

JournalWriter::JournalWriter(const std::wstring& path, JournalOpen open, DWORD waitMilliseconds) : path_(path) {
    size_t slash = path.find_last_of(L"\\/");
    if (open == JournalOpen::CreateIfMissing && slash != std::wstring::npos) CreateFolders(path.substr(0, slash));
    ULONGLONG deadline = GetTickCount64() + waitMilliseconds;
    for (;;) {
        file_ = FileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                       open == JournalOpen::Existing ? OPEN_EXISTING : OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) break;
        DWORD error = GetLastError();
        if (open == JournalOpen::Existing && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            Fail(path, "does not exist", error);
        if (error != ERROR_SHARING_VIOLATION) Fail(path, "cannot be opened for writing", error);
        // Another zvscan is writing it: its repairs take moments, so wait for it.
        if (GetTickCount64() >= deadline)
            Fail(path, "is still held by another zvscan after " + std::to_string(waitMilliseconds) + " ms of waiting",
                 error);
        Sleep(50);
    }
    reading_ = ReadJournalFile(path);
    for (const JournalEntry& entry : reading_.entries) next_ = std::max(next_, entry.entry + 1);
    if (reading_.tornLine) {
        AppendText("\n");
        Append({{"type", "torn"}, {"line", reading_.tornLine}, {"time", NowIsoUtc()}});
    } else if (reading_.unterminated) {
        AppendText("\n");
    }
}

std::wstring QuarantineName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return path.substr(slash == std::wstring::npos ? 0 : slash + 1) + L".quarantined";
}

std::wstring JournalWriter::QuarantineFolder() const {
    std::string stamp = NowIsoUtc();
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == ':' || c == '-'; }), stamp.end());
    return path_ + L".quarantine\\" + std::to_wstring(next_) + L"-" + Wide(stamp);
}

void JournalWriter::Append(const OrderedJson& line) {
    AppendText(line.dump(-1, ' ', false, OrderedJson::error_handler_t::replace) + "\n");
}

void JournalWriter::AppendText(const std::string& text) {
    DWORD written = 0;
    if (!WriteFile(file_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        Fail(path_, "cannot be written", GetLastError());
    if (!FlushFileBuffers(file_.Get())) Fail(path_, "cannot be flushed to disk", GetLastError());
}

void JournalWriter::Begin(const OrderedJson& item, const std::wstring& requestFile,
                          const std::vector<TargetState>& before) {
    OrderedJson line = {{"type", "repair"}, {"entry", next_}, {"time", NowIsoUtc()},
                        {"architecture", ProgramArchitecture()}, {"view", RegistryView()}, {"computer", ComputerName()},
                        {"item", item}, {"request_file", Utf8(requestFile)}};
    line["before"] = OrderedJson::array();
    line["fingerprints_before"] = OrderedJson::array();
    for (const TargetState& state : before) {
        line["before"].push_back(ToJson(state));
        line["fingerprints_before"].push_back(Fingerprint(state));
    }
    Append(line);
    ++next_;
}

void JournalWriter::Complete(unsigned long entry, HRESULT hr, const std::string& result,
                             const std::vector<std::string>& after, const std::vector<TargetState>& afterStates) {
    OrderedJson line = {{"type", "result"}, {"entry", entry}, {"time", NowIsoUtc()},
                        {"hresult", Hex32(static_cast<unsigned long>(hr))}, {"result", result},
                        {"fingerprints_after", after}};
    if (!afterStates.empty()) {
        line["after"] = OrderedJson::array();
        for (const TargetState& state : afterStates) line["after"].push_back(ToJson(state));
    }
    Append(line);
}

void JournalWriter::Undone(unsigned long entry) { Append({{"type", "undo"}, {"entry", entry}, {"time", NowIsoUtc()}}); }

JournaledRepair RepairWithJournal(JournalWriter& journal, IZVAutorunItemEx* item, const ItemRecord& record,
                                  const std::wstring& requestFile) {
    JournaledRepair outcome;
    std::optional<std::vector<Target>> targets = RepairTargets(record);
    if (!targets) {
        outcome.problem = "zvscan cannot tell what this item's repair changes, so it cannot be journaled";
        return outcome;
    }
    std::vector<TargetState> before;
    try {
        std::wstring quarantine = journal.QuarantineFolder();
        for (const Target& target : *targets) {
            before.push_back(Capture(WidenToFirstMissing(target)));
            if (before.back().exists && target.kind == TargetKind::File)
                Quarantine(before.back(), quarantine, QuarantineName(target.path));
        }
        outcome.entry = journal.NextEntry();
        journal.Begin(OrderedJson::parse(JsonItem(record)), requestFile, before);
    } catch (const std::runtime_error& error) {
        outcome.problem = std::string("the journal record could not be written: ") + error.what();
        return outcome;
    }
    outcome.recorded = true;

    ZV_REPAIR_REQUEST request{sizeof(request), requestFile.empty() ? nullptr : requestFile.c_str()};
    outcome.hr = item->Repair(&request);

    std::vector<std::string> after;
    std::vector<TargetState> afterStates;
    for (const TargetState& state : before) {
        try {
            afterStates.push_back(Capture(state.target));
            after.push_back(Fingerprint(afterStates.back()));
        } catch (const std::runtime_error& error) {
            after.push_back(std::string("unreadable: ") + error.what());
            outcome.problem = std::string("the state after the repair could not be read: ") + error.what();
        }
    }
    if (afterStates.size() != before.size()) afterStates.clear();
    for (size_t i = 0; i < before.size() && !outcome.changed; ++i) outcome.changed = after[i] != Fingerprint(before[i]);
    journal.Complete(outcome.entry, outcome.hr, DescribeRepairResult(outcome.hr, record.kind, requestFile), after,
                     afterStates);
    return outcome;
}

std::string JournalListing(const std::vector<JournalEntry>& entries) {
    std::string text = "ENTRY  TIME                  UNDO             ID          LOCATION\n";
    for (const JournalEntry& e : entries) {
        const char* state = e.undone        ? "undone"
                            : !e.completed  ? "incomplete"
                            : e.Undoable()  ? "can undo"
                                            : "nothing to undo";
        char head[96];
        std::snprintf(head, sizeof(head), "%5lu  %-20s  %-15s  %-10s  ", e.entry, e.time.c_str(), state,
                      ItemText(e.item, "id").c_str());
        text += head + ItemText(e.item, "location") + "\n";
        text += std::string(7, ' ') + (e.completed ? e.result : "the repair did not finish (zvscan stopped during it)");
        if (e.undone) text += "; undone " + e.undoneTime;
        if (!e.view.empty()) text += "; by " + MadeBy(e.architecture, e.view, e.computer);
        text += "\n";
    }
    return text;
}

unsigned long LastUndoable(const std::vector<JournalEntry>& entries) {
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
        if (e->Undoable()) return e->entry;
    return 0;
}

std::string LastUndoableNote(const std::vector<JournalEntry>& entries, unsigned long chosen) {
    auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == chosen; });
    if (found == entries.end() || found + 1 == entries.end()) return {};
    std::string later;
    for (auto e = found + 1; e != entries.end(); ++e)
        later += (later.empty() ? "" : ", ") + std::to_string(e->entry) + " (" +
                 (e->undone ? "undone" : !e->completed ? "incomplete" : "nothing to undo") + ")";
    return "undo --last: entry " + std::to_string(chosen) + ", the repair of " + found->time +
           ", is the latest entry that can be undone; the entries after it cannot be: " + later;
}

namespace {

// The parts each target's repair changed, or none when the record holds no state after the repair.
std::optional<std::vector<std::vector<PartChange>>> ChangesOf(const JournalEntry& entry) {
    if (entry.after.size() != entry.before.size()) return std::nullopt;
    std::vector<std::vector<PartChange>> changes;
    for (size_t i = 0; i < entry.before.size(); ++i) changes.push_back(ChangedParts(entry.before[i], entry.after[i]));
    return changes;
}

std::string ShowDrift(const std::vector<PartDrift>& drift) {
    std::string text;
    for (const PartDrift& part : drift)
        text += "\n  " + DescribePart(part.target, part.left) + ": the repair left it " + DescribeContent(part.left) +
                ", now " + DescribeContent(part.now);
    return text;
}

}  // namespace

UndoOutcome Undo(const std::vector<JournalEntry>& entries, unsigned long number, JournalWriter& journal, bool force) {
    std::string name = "entry " + std::to_string(number);
    auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == number; });
    if (found == entries.end()) return {false, name + " is not in the journal"};
    const JournalEntry& entry = *found;
    name += " (the repair of " + entry.time + ")";
    if (entry.undone) return {false, name + " was undone already (" + entry.undoneTime + ")"};
    if (!entry.completed)
        return {false, name + ": the repair did not finish, so zvscan cannot tell which state to expect; nothing restored"};
    if (!entry.Undoable()) return {false, name + ": the repair changed nothing (" + entry.result + "); nothing to undo"};
    std::string computer = ComputerName();
    bool otherComputer = !entry.computer.empty() && !computer.empty() &&
                         !EqualsIgnoreCase(Wide(entry.computer), Wide(computer));
    if (!entry.view.empty() && (entry.view != RegistryView() || otherComputer))
        return {false, name + ": refused, nothing was changed: it was made by " +
                           MadeBy(entry.architecture, entry.view, entry.computer) + ", and this is " +
                           MadeBy(ProgramArchitecture(), RegistryView(), computer) + ", which sees other keys; undo it with " +
                           MadeBy(entry.architecture, entry.view, entry.computer)};

    std::optional<std::vector<std::vector<PartChange>>> changes = ChangesOf(entry);
    std::string overwritten;
    for (size_t i = 0; i < entry.before.size(); ++i) {
        const Target& target = entry.before[i].target;
        TargetState current;
        try {
            current = Capture(target);
        } catch (const std::runtime_error& error) {
            return {false, name + ": refused, nothing was changed: " + error.what()};
        }
        std::string difference;
        if (changes) {
            difference = ShowDrift(DriftSince((*changes)[i], entry.after[i], current));
        } else if (Fingerprint(current) != entry.fingerprintsAfter[i]) {
            difference = "\n  " + Describe(target) + ": its state differs from the one the repair left";
        }
        if (difference.empty()) continue;
        if (force) {
            overwritten += difference;
            continue;
        }
        std::string message = name + ": refused, nothing was changed: " + Describe(target) +
                              " is not as the repair left it (something changed it since):" + difference;
        if (const JournalEntry* later = LaterChangeOf(entries, entry, target))
            message += "\nentry " + std::to_string(later->entry) + ", a later repair, changed it: undo that first";
        else
            message += "\nundo --force puts back what the repair changed over these changes";
        return {false, message};
    }
    try {
        for (size_t i = 0; i < entry.before.size(); ++i) {
            if (changes) {
                RestoreParts((*changes)[i], entry.before[i]);
            } else {
                Restore(entry.before[i]);
            }
        }
    } catch (const std::runtime_error& error) {
        return {false, name + ": the restore failed part way: " + error.what()};
    }
    journal.Undone(number);
    std::string restored = name + ": restored " + ItemText(entry.item, "location");
    if (!overwritten.empty()) restored = name + ": --force overwrote what changed since the repair:" + overwritten + "\n" + restored;
    for (size_t i = 0; i < entry.before.size(); ++i) {
        const Target& target = entry.before[i].target;
        try {
            TargetState now = Capture(target);
            bool same = changes ? NotRestored((*changes)[i], now).empty()
                                : Fingerprint(now) == entry.fingerprintsBefore[i];
            if (!same) return {false, restored + ", but " + Describe(target) + " does not read back as it was before the repair"};
        } catch (const std::runtime_error& error) {
            return {false, restored + ", but it cannot be read back: " + error.what()};
        }
    }
    return {true, restored};
}

}  // namespace zvscan
