// JSON Lines written from the host's texts exactly (RFC 8259): UTF-16 from the library becomes UTF-8,
// and an unpaired surrogate, which UTF-8 cannot hold, its escape ("\ud800"), so that no two different
// texts are ever written alike.
#pragma once

#include <string>
#include <vector>

namespace zvscan {

// A JSON string literal, quotes included: '"', '\' and control characters escaped, the rest as UTF-8.
std::string JsonString(const std::wstring& text);
std::string JsonString(const std::string& utf8);  // text that is UTF-8 already

// One object, its members in the order they are added.
class JsonObject {
public:
    JsonObject& Text(const char* name, const std::wstring& text);
    JsonObject& Text(const char* name, const std::string& utf8);
    JsonObject& Number(const char* name, unsigned long long value);
    JsonObject& Seconds(const char* name, double seconds);  // three decimals
    JsonObject& Bool(const char* name, bool value);
    JsonObject& Texts(const char* name, const std::vector<std::wstring>& texts);
    JsonObject& Member(const char* name, const std::string& json);  // a value written already
    JsonObject& Member(const char* name, const JsonObject& object);
    JsonObject& Array(const char* name, const std::vector<std::string>& jsons);  // of values written already

    std::string Json() const { return "{" + members_ + "}"; }
    std::string Line() const { return Json() + "\n"; }

private:
    JsonObject& Add(const char* name, const std::string& json);
    std::string members_;
};

}  // namespace zvscan
