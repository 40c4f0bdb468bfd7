#include "views/record_json.h"

#include <nlohmann/json.hpp>

#include "diff/saved_text.h"
#include "win/text.h"

namespace zvscan {
namespace {

using Json = nlohmann::json;

std::wstring WideField(const Json& json, const char* name) {
    auto found = json.find(name);
    return found != json.end() && found->is_string() ? KeptTextToWide(found->get<std::string>()) : std::wstring();
}

std::string Utf8Field(const Json& json, const char* name) {
    auto found = json.find(name);
    return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
}

ItemKind KindOf(const std::string& name) {
    for (ItemKind kind : {ItemKind::Registry, ItemKind::AutorunFile, ItemKind::Shortcut, ItemKind::InputMethod,
                          ItemKind::OpenCommand, ItemKind::Service, ItemKind::Task})
        if (name == KindName(kind)) return kind;
    return ItemKind::Other;
}

}  // namespace

std::optional<ItemRecord> RecordFromJson(const std::string& line) try {
    Json json = Json::parse(KeepLoneSurrogates(line), nullptr, false);
    if (!json.is_object() || !json.contains("id") || !json.contains("location")) return std::nullopt;
    ItemRecord r;
    std::optional<unsigned long> id = ParseHex32(Utf8Field(json, "id"));
    std::optional<unsigned long> category = ParseHex32(Utf8Field(json, "category"));
    if (!id || !category) return std::nullopt;
    r.id = *id;
    r.category = *category;
    r.index = json.value("index", 0ul);
    r.kind = KindOf(Utf8Field(json, "kind"));
    r.location = WideField(json, "location");
    r.hive = WideField(json, "hive");
    r.view = Utf8Field(json, "view");
    r.realKey = WideField(json, "real_key");
    r.repairable = json.value("repairable", false);
    if (json.contains("files") && json["files"].is_array())
        for (const Json& file : json["files"])
            if (file.is_string()) r.files.push_back(KeptTextToWide(file.get<std::string>()));
    r.root = WideField(json, "root");
    r.keyPath = WideField(json, "key_path");
    r.valueName = WideField(json, r.kind == ItemKind::AutorunFile ? "" : "value");
    r.valueData = WideField(json, "data");
    r.iniPath = WideField(json, "ini_path");
    r.section = WideField(json, "section");
    r.iniKey = WideField(json, "ini_key");
    if (r.kind == ItemKind::AutorunFile) r.iniValue = WideField(json, "value");
    r.filePath = WideField(json, "file_path");
    r.preloadIndex = json.value("preload_index", 0ul);
    r.layoutId = WideField(json, "layout_id");
    r.extension = WideField(json, "extension");
    r.progId = WideField(json, "progid");
    r.verb = WideField(json, "verb");
    if (json.contains("evidence") && json["evidence"].is_array()) {
        r.evidence.emplace();
        for (const Json& e : json["evidence"]) {
            FileEvidence evidence;
            evidence.exists = e.value("exists", false);
            evidence.sized = e.contains("size");
            evidence.size = e.value("size", 0ull);
            evidence.lastWrite = Utf8Field(e, "last_write");
            evidence.sha256 = Utf8Field(e, "sha256");
            evidence.reason = Utf8Field(e, "reason");
            r.evidence->push_back(evidence);
        }
    }
    if (json.contains("signatures") && json["signatures"].is_array()) {
        r.signatures.emplace();
        for (const Json& s : json["signatures"])
            r.signatures->push_back(
                {Utf8Field(s, "status"), Utf8Field(s, "signer"), Utf8Field(s, "issuer"), Utf8Field(s, "reason")});
    }
    return r;
} catch (const nlohmann::json::exception&) {
    return std::nullopt;  // a field of another type than the helper writes
}

}  // namespace zvscan
