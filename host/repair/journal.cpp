#include "repair/journal.h"

#include <shlobj.h>

#include <algorithm>

#include "evidence/evidence.h"
#include "repair/repair_report.h"
#include "report/output.h"
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
        unsigned long number = json.at("entry").get<unsigned long>();
        auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == number; });
        if (type == "repair") {
            if (found != entries.end()) throw std::runtime_error("entry " + std::to_string(number) + " written twice");
            JournalEntry entry;
            entry.entry = number;
            entry.time = json.at("time").get<std::string>();
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

std::vector<JournalEntry> ReadJournal(const std::wstring& path) {
    std::vector<JournalEntry> entries;
    FileHandle file = OpenForReading(path);
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return entries;
        Fail(path, "cannot be read", error);
    }
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        ++number;
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        try {
            if (end == std::string::npos) throw std::runtime_error("the line is cut short (no line end)");
            ReadLine(line, entries);
        } catch (const std::runtime_error& error) {
            throw JournalError("journal " + Utf8(path) + ", line " + std::to_string(number) + ": " + error.what());
        }
        start = end + 1;
    }
    return entries;
}

JournalWriter::JournalWriter(const std::wstring& path) : path_(path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) CreateFolders(path.substr(0, slash));
    file_ = FileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) Fail(path, "cannot be opened for writing (another zvscan may be repairing)", GetLastError());
    for (const JournalEntry& entry : ReadJournal(path)) next_ = std::max(next_, entry.entry + 1);
}

std::wstring JournalWriter::QuarantineFolder() const {
    std::string stamp = NowIsoUtc();
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == ':' || c == '-'; }), stamp.end());
    return path_ + L".quarantine\\" + std::to_wstring(next_) + L"-" + Wide(stamp);
}

void JournalWriter::Append(const OrderedJson& line) {
    std::string text = line.dump(-1, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
    DWORD written = 0;
    if (!WriteFile(file_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        Fail(path_, "cannot be written", GetLastError());
    if (!FlushFileBuffers(file_.Get())) Fail(path_, "cannot be flushed to disk", GetLastError());
}

void JournalWriter::Begin(const OrderedJson& item, const std::wstring& requestFile,
                          const std::vector<TargetState>& before) {
    OrderedJson line = {{"type", "repair"}, {"entry", next_}, {"time", NowIsoUtc()}, {"item", item},
                        {"request_file", Utf8(requestFile)}};
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
                             const std::vector<std::string>& after) {
    Append({{"type", "result"}, {"entry", entry}, {"time", NowIsoUtc()},
            {"hresult", Hex32(static_cast<unsigned long>(hr))}, {"result", result}, {"fingerprints_after", after}});
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
            if (before.back().exists && target.kind == TargetKind::File) {
                size_t slash = target.path.find_last_of(L"\\/");
                Quarantine(before.back(), quarantine, target.path.substr(slash == std::wstring::npos ? 0 : slash + 1));
            }
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
    for (const TargetState& state : before) {
        try {
            after.push_back(Fingerprint(Capture(state.target)));
        } catch (const std::runtime_error& error) {
            after.push_back(std::string("unreadable: ") + error.what());
            outcome.problem = std::string("the state after the repair could not be read: ") + error.what();
        }
    }
    journal.Complete(outcome.entry, outcome.hr, DescribeRepairResult(outcome.hr, record.kind, requestFile), after);
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
        text += "\n";
    }
    return text;
}

unsigned long LastUndoable(const std::vector<JournalEntry>& entries) {
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
        if (e->Undoable()) return e->entry;
    return 0;
}

UndoOutcome Undo(const std::vector<JournalEntry>& entries, unsigned long number, JournalWriter& journal) {
    std::string name = "entry " + std::to_string(number);
    auto found = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& e) { return e.entry == number; });
    if (found == entries.end()) return {false, name + " is not in the journal"};
    const JournalEntry& entry = *found;
    if (entry.undone) return {false, name + " was undone already (" + entry.undoneTime + ")"};
    if (!entry.completed)
        return {false, name + ": the repair did not finish, so zvscan cannot tell which state to expect; nothing restored"};
    if (!entry.Undoable()) return {false, name + ": the repair changed nothing (" + entry.result + "); nothing to undo"};

    for (size_t i = 0; i < entry.before.size(); ++i) {
        const Target& target = entry.before[i].target;
        std::string current;
        try {
            current = Fingerprint(Capture(target));
        } catch (const std::runtime_error& error) {
            return {false, name + ": refused, nothing was changed: " + error.what()};
        }
        if (current == entry.fingerprintsAfter[i]) continue;
        std::string message = name + ": refused, nothing was changed: " + Describe(target) +
                              " is not as the repair left it (something changed it since)";
        if (const JournalEntry* later = LaterChangeOf(entries, entry, target))
            message += "; entry " + std::to_string(later->entry) + ", a later repair, changed it: undo that first";
        return {false, message};
    }
    try {
        for (const TargetState& state : entry.before) Restore(state);
    } catch (const std::runtime_error& error) {
        return {false, name + ": the restore failed part way: " + error.what()};
    }
    journal.Undone(number);
    for (size_t i = 0; i < entry.before.size(); ++i) {
        if (Fingerprint(Capture(entry.before[i].target)) != entry.fingerprintsBefore[i])
            return {false, name + ": restored, but " + Describe(entry.before[i].target) +
                               " does not read back as it was before the repair"};
    }
    return {true, name + ": restored " + ItemText(entry.item, "location")};
}

}  // namespace zvscan
