// Registry enumerators and value readers, on the simulated machine and on the real registry.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/recording_backend.h"
#include "support/machine.h"
#include "winhelpers/hresult.h"
#include "winhelpers/reg_find.h"
#include "winhelpers/reg_values.h"

namespace {

using Basalt::CWinRegKeyFind;
using Basalt::CWinRegValueFind;
using test::Machine;
using test::MachineKind;

std::vector<BYTE> Bytes(const std::wstring& text, size_t chars) {
    auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + chars * sizeof(wchar_t));
}

class RegistryPrimitivesTest : public ::testing::TestWithParam<MachineKind> {
protected:
    void SetUp() override { machine.AddKey(HKEY_CURRENT_USER, key); }

    platform::UniqueHKey Open() {
        platform::UniqueHKey handle;
        EXPECT_EQ(platform::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()), 0);
        return handle;
    }
    LONG ReadString(const wchar_t* name, std::wstring& text) { return Basalt::ReadStringValue(Open().get(), name, text); }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        CWinRegValueFind find;
        for (bool more = find.FindFirstValue(HKEY_CURRENT_USER, key); more; more = find.Advance())
            names.push_back(find.CurrentName());
        EXPECT_FALSE(find.IsOpen()) << "the enumeration ends closed";
        return names;
    }

    Machine machine{GetParam()};
    std::wstring key = machine.TestKey();
};

TEST_P(RegistryPrimitivesTest, StringReadsAndTheirLimits) {
    std::wstring text;
    machine.SetString(HKEY_CURRENT_USER, key, L"max", std::wstring(65535, L'a'));
    machine.SetString(HKEY_CURRENT_USER, key, L"over", std::wstring(65536, L'a'));
    machine.SetString(HKEY_CURRENT_USER, key, L"expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    machine.SetValue(HKEY_CURRENT_USER, key, L"unterminated", REG_SZ, Bytes(L"abc", 3));
    machine.SetValue(HKEY_CURRENT_USER, key, L"odd", REG_SZ, {'a', 0, 0});
    machine.SetValue(HKEY_CURRENT_USER, key, L"empty", REG_SZ, {});
    machine.SetValue(HKEY_CURRENT_USER, key, L"dword", REG_DWORD, {1, 0, 0, 0});

    EXPECT_EQ(ReadString(L"max", text), ERROR_SUCCESS);
    EXPECT_EQ(text.size(), 65535u);
    text = L"kept";
    EXPECT_EQ(ReadString(L"over", text), ERROR_MORE_DATA);
    EXPECT_EQ(text, L"kept") << "refused before reading";
    EXPECT_EQ(ReadString(L"expand", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"%SystemRoot%\\x.exe") << "never expanded";
    EXPECT_EQ(ReadString(L"unterminated", text), ERROR_INVALID_DATA);
    EXPECT_EQ(text, L"") << "emptied after a failed read";
    EXPECT_EQ(ReadString(L"odd", text), ERROR_INVALID_DATA);
    EXPECT_EQ(ReadString(L"empty", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(ReadString(L"dword", text), ERROR_INVALID_DATA);
    EXPECT_EQ(ReadString(L"missing", text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Basalt::ReadStringValue(nullptr, L"max", text), ERROR_INVALID_HANDLE);
}

TEST_P(RegistryPrimitivesTest, MultiStringsEndAtTheFirstEmptyElement) {
    machine.SetValue(HKEY_CURRENT_USER, key, L"two", REG_MULTI_SZ, Bytes(std::wstring(L"a\0b\0\0", 5), 5));
    machine.SetValue(HKEY_CURRENT_USER, key, L"gap", REG_MULTI_SZ, Bytes(std::wstring(L"a\0\0b\0\0", 6), 6));
    machine.SetValue(HKEY_CURRENT_USER, key, L"one char", REG_MULTI_SZ, Bytes(std::wstring(L"\0", 1), 1));
    machine.SetValue(HKEY_CURRENT_USER, key, L"single end", REG_MULTI_SZ, Bytes(std::wstring(L"a\0", 2), 2));
    machine.SetValue(HKEY_CURRENT_USER, key, L"none", REG_MULTI_SZ, {});
    std::vector<std::wstring> items;
    auto handle = Open();
    EXPECT_EQ(Basalt::ReadMultiStringValue(handle.get(), L"two", items), ERROR_SUCCESS);
    EXPECT_EQ(items, (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(Basalt::ReadMultiStringValue(handle.get(), L"gap", items), ERROR_SUCCESS);
    EXPECT_EQ(items, std::vector<std::wstring>{L"a"});
    EXPECT_EQ(Basalt::ReadMultiStringValue(handle.get(), L"one char", items), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Basalt::ReadMultiStringValue(handle.get(), L"single end", items), ERROR_INVALID_DATA)
        << "two characters must end with two terminators";
    EXPECT_EQ(Basalt::ReadMultiStringValue(handle.get(), L"none", items), ERROR_SUCCESS);
    EXPECT_TRUE(items.empty());

    std::vector<BYTE> bytes;
    machine.SetValue(HKEY_CURRENT_USER, key, L"bin", REG_BINARY, {1, 2, 3});
    EXPECT_EQ(Basalt::ReadBytesValue(handle.get(), L"bin", bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(Basalt::ReadBytesValue(handle.get(), L"two", bytes), ERROR_INVALID_DATA);
}

TEST_P(RegistryPrimitivesTest, LongValueNamesAreEnumeratedWhole) {
    std::wstring longName(600, L'n');
    machine.SetString(HKEY_CURRENT_USER, key, L"a", L"1");
    machine.SetString(HKEY_CURRENT_USER, key, longName, L"2");
    machine.SetString(HKEY_CURRENT_USER, key, L"z", L"3");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"a", longName, L"z"}));
}

TEST_P(RegistryPrimitivesTest, SubkeysAndTheirFullPaths) {
    CWinRegKeyFind find;
    EXPECT_FALSE(find.FindFirstKey(HKEY_CURRENT_USER, key)) << "a key without subkeys";
    EXPECT_FALSE(find.IsOpen());
    EXPECT_FALSE(find.FindFirstKey(HKEY_CURRENT_USER, key + L"\\missing"));

    machine.AddKey(HKEY_CURRENT_USER, key + L"\\B");
    machine.AddKey(HKEY_CURRENT_USER, key + L"\\a");
    std::vector<std::wstring> paths;
    for (bool more = find.FindFirstKey(HKEY_CURRENT_USER, key + L"\\"); more; more = find.Advance())
        paths.push_back(find.GetFullPath());
    EXPECT_EQ(paths, (std::vector<std::wstring>{key + L"\\a", key + L"\\B"}))
        << "a parent path ending in a backslash gets no second one";
}

// Strings on both sides of the first query's buffer (260 characters with the terminator), odd
// sizes among them: each read gives what the reading rules say, in one query when it fits.
TEST_P(RegistryPrimitivesTest, StringsAroundTheFirstQuerysBuffer) {
    struct Case {
        const wchar_t* name;
        size_t bytes;  // stored bytes: text of 'x' characters, a terminator when the size is even
    };
    const Case cases[] = {{L"258", 516}, {L"259", 518}, {L"260", 520}, {L"261", 522}, {L"odd519", 519},
                          {L"odd521", 521}, {L"odd523", 523}, {L"2000", 4000}};
    for (const Case& c : cases) {
        std::vector<BYTE> bytes(c.bytes, 'x');
        if (c.bytes % 2 == 0) bytes[c.bytes - 1] = bytes[c.bytes - 2] = 0;
        machine.SetValue(HKEY_CURRENT_USER, key, c.name, REG_SZ, bytes);
    }
    for (const Case& c : cases) {
        std::wstring text = L"kept";
        LONG status = ReadString(c.name, text);
        if (c.bytes % 2 != 0) {
            EXPECT_EQ(status, c.bytes < 520 ? ERROR_INVALID_DATA : ERROR_MORE_DATA) << c.name;
            EXPECT_EQ(text, L"") << c.name;
        } else {
            EXPECT_EQ(status, ERROR_SUCCESS) << c.name;
            EXPECT_EQ(text, std::wstring(c.bytes / 2 - 1, L'\x7878')) << c.name;
        }
    }
}

// Every value of a key read during its enumeration exactly as a read by its name reads it.
TEST_P(RegistryPrimitivesTest, EnumeratedValuesReadAsByName) {
    for (size_t chars : {1u, 259u, 260u, 261u, 511u, 512u, 513u, 3000u})
        machine.SetString(HKEY_CURRENT_USER, key, L"len" + std::to_wstring(chars), std::wstring(chars - 1, L'a'));
    machine.SetString(HKEY_CURRENT_USER, key, L"expand", L"%TEMP%\\x.exe", REG_EXPAND_SZ);
    machine.SetString(HKEY_CURRENT_USER, key, std::wstring(600, L'n'), L"long name");
    machine.SetString(HKEY_CURRENT_USER, key, L"", L"default");
    machine.SetValue(HKEY_CURRENT_USER, key, L"unterminated", REG_SZ, Bytes(L"abc", 3));
    machine.SetValue(HKEY_CURRENT_USER, key, L"odd", REG_SZ, {'a', 0, 0});
    machine.SetValue(HKEY_CURRENT_USER, key, L"odd big", REG_SZ, std::vector<BYTE>(701, 'a'));
    machine.SetValue(HKEY_CURRENT_USER, key, L"inner nul", REG_SZ, Bytes(std::wstring(L"a\0b\0", 4), 4));
    machine.SetValue(HKEY_CURRENT_USER, key, L"empty", REG_SZ, {});
    machine.SetValue(HKEY_CURRENT_USER, key, L"dword", REG_DWORD, {1, 0, 0, 0});
    machine.SetValue(HKEY_CURRENT_USER, key, L"multi", REG_MULTI_SZ, Bytes(std::wstring(L"a\0\0", 3), 3));

    auto handle = Open();
    size_t values = 0;
    CWinRegValueFind find;
    for (bool more = find.FindFirstValue(HKEY_CURRENT_USER, key, true); more; more = find.Advance(), ++values) {
        std::wstring enumerated = L"kept", byName = L"kept";
        LONG status = find.ReadString(enumerated);
        EXPECT_EQ(status, Basalt::ReadStringValue(handle.get(), find.CurrentName(), byName)) << find.CurrentName();
        EXPECT_EQ(enumerated, byName) << find.CurrentName();
    }
    EXPECT_EQ(values, 18u);
}

INSTANTIATE_TEST_SUITE_P(Machines, RegistryPrimitivesTest,
                         ::testing::Values(MachineKind::Simulated, MachineKind::Real),
                         [](const auto& info) { return test::MachineName(info.param); });

// Names Wine cannot store: value names past 16383 and key names past 256 characters.
class SimulatedRegistryPrimitivesTest : public RegistryPrimitivesTest {};

TEST_P(SimulatedRegistryPrimitivesTest, OverlongNamesEndTheEnumeration) {
    machine.SetString(HKEY_CURRENT_USER, key, L"a", L"1");
    machine.SetString(HKEY_CURRENT_USER, key, L"b" + std::wstring(19999, L'n'), L"2");
    machine.SetString(HKEY_CURRENT_USER, key, L"c", L"3");
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"a"});

    std::wstring fits(258, L'k'), tooLong = L"l" + std::wstring(258, L'k');
    machine.AddKey(HKEY_CURRENT_USER, key + L"\\" + fits);
    machine.AddKey(HKEY_CURRENT_USER, key + L"\\" + tooLong);
    machine.AddKey(HKEY_CURRENT_USER, key + L"\\m");
    std::vector<std::wstring> names;
    CWinRegKeyFind find;
    for (bool more = find.FindFirstKey(HKEY_CURRENT_USER, key); more; more = find.Advance())
        names.push_back(find.CurrentName());
    EXPECT_EQ(names, std::vector<std::wstring>{fits});
    EXPECT_EQ(machine.Sim()->OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Machines, SimulatedRegistryPrimitivesTest, ::testing::Values(MachineKind::Simulated),
                         [](const auto& info) { return test::MachineName(info.param); });

// Reads counted through a recording of the simulated machine's calls.
class CountedRegistryTest : public SimulatedRegistryPrimitivesTest {
protected:
    size_t Queries() const { return recorder.Count(platform::CallKind::RegQuery); }
    size_t Enumerations() const { return recorder.Count(platform::CallKind::RegEnum); }

    platform::RecordingBackend recorder{*machine.Sim()};
    platform::ScopedBackend scope{recorder};
};

TEST_P(CountedRegistryTest, OneQueryWhenTheStringFitsTheFirstBuffer) {
    machine.SetString(HKEY_CURRENT_USER, key, L"fits", std::wstring(259, L'a'));
    machine.SetString(HKEY_CURRENT_USER, key, L"larger", std::wstring(260, L'a'));
    auto handle = Open();
    std::wstring text;
    recorder.Clear();
    EXPECT_EQ(Basalt::ReadStringValue(handle.get(), L"fits", text), ERROR_SUCCESS);
    EXPECT_EQ(Queries(), 1u) << "260 characters with the terminator fit the first query";
    EXPECT_EQ(Basalt::ReadStringValue(handle.get(), L"larger", text), ERROR_SUCCESS);
    EXPECT_EQ(text.size(), 260u);
    EXPECT_EQ(Queries(), 3u) << "one more character takes a second query, never a third";
}

// The value changes its type between the first query and the second.
class TypeChangingBackend : public platform::RecordingBackend {
public:
    TypeChangingBackend(platform::SimulatedBackend& sim, std::wstring key) : RecordingBackend(sim), sim_(sim), key_(std::move(key)) {}
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) override {
        LSTATUS status = RecordingBackend::RegQueryValueExW(key, name, reserved, type, data, size);
        if (status == ERROR_MORE_DATA)
            sim_.SetValue(HKEY_CURRENT_USER, key_, name, REG_EXPAND_SZ, sim_.ValueBytes(HKEY_CURRENT_USER, key_, name));
        return status;
    }

private:
    platform::SimulatedBackend& sim_;
    std::wstring key_;
};

TEST_P(CountedRegistryTest, ATypeChangedBetweenTheQueriesIsRefused) {
    machine.SetString(HKEY_CURRENT_USER, key, L"changes", std::wstring(300, L'a'));
    TypeChangingBackend changing(*machine.Sim(), key);
    platform::ScopedBackend changingScope(changing);
    std::wstring text = L"kept";
    EXPECT_EQ(ReadString(L"changes", text), ERROR_INVALID_DATA);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(ReadString(L"changes", text), ERROR_SUCCESS) << "stable since the change";
    EXPECT_EQ(text.size(), 300u);
}

TEST_P(CountedRegistryTest, EnumeratedValuesNeedNoReadByName) {
    machine.SetString(HKEY_CURRENT_USER, key, L"a", L"one");
    machine.SetString(HKEY_CURRENT_USER, key, L"b", std::wstring(511, L'b'));
    machine.SetString(HKEY_CURRENT_USER, key, L"Nul", L"read under the shortened name");
    machine.SetString(HKEY_CURRENT_USER, key, std::wstring(L"Nul\0hidden", 10), L"hidden");
    machine.SetString(HKEY_CURRENT_USER, key, L"c", std::wstring(512, L'c'));
    recorder.Clear();
    std::vector<std::wstring> texts;
    CWinRegValueFind find;
    for (bool more = find.FindFirstValue(HKEY_CURRENT_USER, key, true); more; more = find.Advance()) {
        std::wstring text;
        EXPECT_EQ(find.ReadString(text), ERROR_SUCCESS);
        texts.push_back(text);
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"one", std::wstring(511, L'b'), std::wstring(512, L'c'),
                                                L"read under the shortened name", L"read under the shortened name"}))
        << "a name with a NUL inside reads the value a read by name finds";
    EXPECT_EQ(Queries(), 1u + 2u) << "by name only the value named with a NUL and the one too large for the step";
    EXPECT_EQ(Enumerations(), 6u + 1u) << "a step per value and its end, and one more for the large value's name";
}

INSTANTIATE_TEST_SUITE_P(Machines, CountedRegistryTest, ::testing::Values(MachineKind::Simulated),
                         [](const auto& info) { return test::MachineName(info.param); });

TEST(HResultFromWin32, ConvertsPositiveCodesOnly) {
    EXPECT_EQ(Basalt::HResultFromWin32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(Basalt::HResultFromWin32(0x12345), static_cast<HRESULT>(0x80072345));
    EXPECT_EQ(Basalt::HResultFromWin32(0), S_OK);
    EXPECT_EQ(Basalt::HResultFromWin32(E_FAIL), E_FAIL);
}

}  // namespace
