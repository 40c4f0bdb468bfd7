// End-to-end fixtures start from the built DLL loaded the way a host loads it: COM initialised on
// the thread, the library by name, the factory by its export name.
#pragma once

#include <gtest/gtest.h>

// The identifiers are defined where they are used (selectany, so every test file may).
#include <initguid.h>

#include "zvatrun.h"

namespace test {

class LoadedDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dll = LoadLibraryW(L"zvatrun.dll");
        ASSERT_NE(dll, nullptr) << GetLastError();
        create = reinterpret_cast<PFN_ZVAtrunCreateObject>(
            reinterpret_cast<void*>(GetProcAddress(dll, "ZVAtrunCreateObject")));
        ASSERT_NE(create, nullptr);
    }
    static void TearDownTestSuite() {
        FreeLibrary(dll);
        CoUninitialize();
    }

    static inline HMODULE dll = nullptr;
    static inline PFN_ZVAtrunCreateObject create = nullptr;
};

}  // namespace test
