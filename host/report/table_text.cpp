#include "report/output.h"

#include <cstdio>

#include "win/text.h"

namespace zvscan {

std::string TableText(const std::wstring& text) {
    std::string out;
    std::wstring plain;
    auto escape = [&](const char* format, unsigned value) {
        out += Utf8(plain);
        plain.clear();
        char code[8];
        std::snprintf(code, sizeof(code), format, value);
        out += code;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            plain += c;
            plain += text[++i];
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            escape("\\x%02x", c);  // a terminal runs C0 and C1 controls (escape sequences among them)
        } else if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || high || low) {
            escape("\\u%04x", c);  // embeddings, overrides and isolates reorder the line they stand in
        } else {
            plain += c;
        }
    }
    return out + Utf8(plain);
}

std::string TableText(const std::string& utf8) { return TableText(Wide(utf8)); }

}  // namespace zvscan
