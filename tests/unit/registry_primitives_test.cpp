// Registry enumerators and value readers, on the simulated machine and on the real registry.
#include <gtest/gtest.h>

#include "platform/handles.h"
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

TEST(HResultFromWin32, ConvertsPositiveCodesOnly) {
    EXPECT_EQ(Basalt::HResultFromWin32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(Basalt::HResultFromWin32(0x12345), static_cast<HRESULT>(0x80072345));
    EXPECT_EQ(Basalt::HResultFromWin32(0), S_OK);
    EXPECT_EQ(Basalt::HResultFromWin32(E_FAIL), E_FAIL);
}

}  // namespace
