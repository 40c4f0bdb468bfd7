// The .reg text hivexregedit --export writes (keys in brackets, values as dword: or hex(N): bytes),
// read back into keys and values, for comparing the offline registry with an independent reader.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test {

struct ExportedValue {
    std::wstring name;
    DWORD type = 0;
    std::vector<uint8_t> data;
};

struct ExportedKey {
    std::wstring path;  // as the export gives it, without the leading backslash
    std::vector<ExportedValue> values;
};

// Keys in the export's order; empty when the file cannot be read.
std::vector<ExportedKey> ReadRegExport(const std::wstring& file);

// Where the tests' real hives are unpacked (tests/scripts/real_hives.sh): ZV_REAL_HIVES, or empty.
std::wstring RealHivesFolder();

}  // namespace test
