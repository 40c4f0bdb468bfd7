#include "support/reg_export.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "support/hive_writer.h"

namespace test {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<uint8_t> HexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return bytes;
}

std::wstring Wide(const std::string& utf8) {
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    if (size) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], size);
    return text;
}

}  // namespace

std::vector<ExportedKey> ReadRegExport(const std::wstring& file) {
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    std::string text(bytes.begin(), bytes.end());
    std::vector<ExportedKey> keys;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == '\\') path.erase(0, 1);
            keys.push_back(ExportedKey{Wide(path), {}});
            continue;
        }
        if (keys.empty() || line.empty() || (line[0] != '"' && line[0] != '@')) continue;
        ExportedValue value;
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else {
            std::string name;
            for (at = 1; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && at + 1 < line.size()) ++at;
                name += line[at];
            }
            ++at;
            value.name = Wide(name);
        }
        if (at >= line.size() || line[at] != '=') continue;
        std::string stored = line.substr(at + 1);
        if (stored.compare(0, 6, "dword:") == 0) {
            value.type = REG_DWORD;
            DWORD number = static_cast<DWORD>(std::strtoul(stored.c_str() + 6, nullptr, 16));
            value.data.resize(4);
            std::memcpy(value.data.data(), &number, 4);
        } else if (stored.compare(0, 4, "hex:") == 0) {
            value.type = REG_BINARY;
            value.data = HexBytes(stored.substr(4));
        } else if (stored.compare(0, 4, "hex(") == 0) {
            size_t close = stored.find("):");
            if (close == std::string::npos) continue;
            value.type = static_cast<DWORD>(std::strtoul(stored.c_str() + 4, nullptr, 16));
            value.data = HexBytes(stored.substr(close + 2));
        } else {
            continue;
        }
        keys.back().values.push_back(std::move(value));
    }
    return keys;
}

std::wstring RealHivesFolder() {
    const wchar_t* folder = _wgetenv(L"ZV_REAL_HIVES");
    return folder ? folder : L"";
}

}  // namespace test
