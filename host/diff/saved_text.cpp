#include "diff/saved_text.h"

#include <optional>

#include "win/text.h"

namespace zvscan {

namespace {

constexpr std::string_view kMarker = "\xEF\xBF\xBF";  // U+FFFF in UTF-8

std::optional<unsigned> HexUnit(std::string_view text, size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    unsigned unit = 0;
    for (size_t i = at; i < at + 4; ++i) {
        char c = text[i];
        unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                         : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                         : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                : 16u;
        if (digit == 16) return std::nullopt;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool IsHigh(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string LowerHex(unsigned unit) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(4, '0');
    for (int i = 3; i >= 0; --i, unit >>= 4) hex[static_cast<size_t>(i)] = kDigits[unit & 0xF];
    return hex;
}

// Calls kept(hex) for each kept surrogate and literal() for each U+FFFF of the text; copies the rest.
template <class Kept, class Literal>
std::string Unmark(std::string_view text, Kept kept, Literal literal) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, kMarker.size(), kMarker) != 0) {
            out += text[i++];
            continue;
        }
        i += kMarker.size();
        if (text.compare(i, kMarker.size(), kMarker) == 0) {
            out += literal();
            i += kMarker.size();
        } else {
            out += kept(text.substr(i, 4));
            i += 4;
        }
    }
    return out;
}

}  // namespace

std::string KeepLoneSurrogates(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    bool inString = false;
    for (size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (!inString || (c != '\\' && c != '"' && json.compare(i, kMarker.size(), kMarker) != 0)) {
            inString = inString || c == '"';
            out += c;
            continue;
        }
        if (c == '"') {
            inString = false;
            out += c;
            continue;
        }
        if (c != '\\') {  // a U+FFFF of the text, written as it is
            out.append(kMarker).append(kMarker);
            i += kMarker.size() - 1;
            continue;
        }
        std::optional<unsigned> unit = i + 1 < json.size() && json[i + 1] == 'u' ? HexUnit(json, i + 2) : std::nullopt;
        if (!unit) {  // another escape, or a broken one the parser will name
            out += c;
            if (i + 1 < json.size()) out += json[++i];
            continue;
        }
        std::optional<unsigned> next =
            i + 8 <= json.size() && json.compare(i + 6, 2, "\\u") == 0 ? HexUnit(json, i + 8) : std::nullopt;
        if (IsHigh(*unit) && next && IsLow(*next)) {
            out.append(json.substr(i, 12));
            i += 11;
        } else if (IsHigh(*unit) || IsLow(*unit)) {
            out.append(kMarker).append(LowerHex(*unit));
            i += 5;
        } else if (*unit == 0xFFFF) {
            out.append(kMarker).append(kMarker);
            i += 5;
        } else {
            out.append(json.substr(i, 6));
            i += 5;
        }
    }
    return out;
}

std::string EscapeLoneSurrogates(std::string_view json) {
    return Unmark(
        json, [](std::string_view hex) { return "\\u" + std::string(hex); }, [] { return std::string(kMarker); });
}

std::string PrintableText(std::string_view text) {
    return Unmark(
        text, [](std::string_view hex) { return "\\u" + std::string(hex); }, [] { return std::string(kMarker); });
}

std::wstring KeptTextToWide(std::string_view text) {
    std::string wtf8 = Unmark(
        text,
        [](std::string_view hex) {
            unsigned unit = HexUnit(hex, 0).value_or(0xFFFD);
            std::string bytes;
            bytes += static_cast<char>(0xE0 | (unit >> 12));
            bytes += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
            return bytes;
        },
        [] { return std::string(kMarker); });
    return FromWtf8(wtf8);
}

}  // namespace zvscan
