// The built DLL, loaded the way a host loads it, against the real system of the test prefix.
#include <gtest/gtest.h>

#include "support/loaded_dll.h"

#include "zvatrun.h"

namespace {

class DllTest : public test::LoadedDll {
protected:
    IZVAutorunScanner* NewScanner() {
        IZVAutorunScanner* scanner = nullptr;
        EXPECT_EQ(create(&IID_IZVAutorunScanner, reinterpret_cast<void**>(&scanner), 0), S_OK);
        return scanner;
    }

};

TEST_F(DllTest, ExportsOnlyTheFactoryUnderItsPlainName) {
    EXPECT_NE(GetProcAddress(dll, "ZVAtrunCreateObject"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "ZVAtrunCreateObject@12"), nullptr);
    auto* base = reinterpret_cast<BYTE*>(dll);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_EQ(exports->NumberOfNames, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
}

TEST_F(DllTest, FactoryResults) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(create(nullptr, nullptr, 0), E_POINTER);
    EXPECT_EQ(create(&IID_IUnknown, &out, 0), E_NOTIMPL);
    EXPECT_EQ(create(&IID_IZVAutorunPerformView, &out, 0), E_NOTIMPL);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
    IZVAutorunScanner* scanner = NewScanner();
    ASSERT_NE(scanner, nullptr);
    EXPECT_EQ(scanner->QueryInterface(IID_IZVAutorunScanner, nullptr), E_INVALIDARG);
    IZVAutorunPerformView* view = nullptr;
    ASSERT_EQ(scanner->QueryInterface(IID_IZVAutorunPerformView, reinterpret_cast<void**>(&view)), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(view->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(scanner));
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(view->Release(), 1u);
    EXPECT_EQ(scanner->Release(), 0u);
}

TEST_F(DllTest, WalksAScanToItsEndAndStaysFinished) {
    IZVAutorunScanner* scanner = NewScanner();
    ASSERT_NE(scanner, nullptr);
    IZVAutorunItemEx* item = nullptr;
    EXPECT_FALSE(scanner->NextItem(&item)) << "never started";
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(scanner->StartScan(nullptr), S_OK);
        int items = 0;
        while (scanner->NextItem(&item)) {
            EXPECT_EQ(item->GetCategory(), item->GetId() & 0xFFF00000u);
            ++items;
            item->Release();
        }
        EXPECT_FALSE(scanner->NextItem(&item));
        EXPECT_GE(items, 0);
    }
    EXPECT_EQ(scanner->Release(), 0u);
}

}  // namespace
