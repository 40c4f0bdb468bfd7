#include "report/json_line.h"

#include <cstdio>

#include "win/text.h"

namespace zvscan {
namespace {

// Escapes '"', '\' and the C0 controls of UTF-8 text (\b \t \n \f \r, else \u00XX); the rest is
// written as it is.
std::string Quoted(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

std::string JsonString(const std::string& utf8) { return Quoted(utf8); }

std::string JsonString(const std::wstring& text) {
    // The text between unpaired surrogates is quoted; each surrogate becomes its own escape.
    std::string out;
    std::wstring run;
    auto flush = [&] {
        std::string quoted = Quoted(Utf8(run));
        out += quoted.substr(1, quoted.size() - 2);
        run.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            run += c;
            run += text[++i];
        } else if (high || low) {
            flush();
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            run += c;
        }
    }
    flush();
    return "\"" + out + "\"";
}

JsonObject& JsonObject::Add(const char* name, const std::string& json) {
    if (!members_.empty()) members_ += ',';
    members_ += Quoted(name) + ":" + json;
    return *this;
}

JsonObject& JsonObject::Text(const char* name, const std::wstring& text) { return Add(name, JsonString(text)); }
JsonObject& JsonObject::Text(const char* name, const std::string& utf8) { return Add(name, JsonString(utf8)); }
JsonObject& JsonObject::Number(const char* name, unsigned long long value) { return Add(name, std::to_string(value)); }
JsonObject& JsonObject::Bool(const char* name, bool value) { return Add(name, value ? "true" : "false"); }
JsonObject& JsonObject::Member(const char* name, const std::string& json) { return Add(name, json); }
JsonObject& JsonObject::Member(const char* name, const JsonObject& object) { return Add(name, object.Json()); }

JsonObject& JsonObject::Seconds(const char* name, double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", seconds);
    return Add(name, text);
}

JsonObject& JsonObject::Texts(const char* name, const std::vector<std::wstring>& texts) {
    std::vector<std::string> values;
    for (const std::wstring& text : texts) values.push_back(JsonString(text));
    return Array(name, values);
}

JsonObject& JsonObject::Array(const char* name, const std::vector<std::string>& jsons) {
    std::string array = "[";
    for (size_t i = 0; i < jsons.size(); ++i) array += (i ? "," : "") + jsons[i];
    return Add(name, array + "]");
}

}  // namespace zvscan
