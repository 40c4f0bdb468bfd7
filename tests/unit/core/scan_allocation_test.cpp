// A whole scan of the location table with every allocation failed in turn: the host's calls end
// cleanly, nothing leaks, nothing is written, and the scanner works again afterwards.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "support/alloc_failure.h"
#include "support/sim_test.h"
#include "zvatrun.h"

namespace {

class ScanAllocationTest : public test::SimTest {
protected:
    void SetUp() override {
        const std::wstring run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
        sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
        sim.AddFile(L"C:\\windows\\system32\\shell32.dll");
        sim.AddFile(L"C:\\apps\\app.exe");
        sim.SetString(HKEY_LOCAL_MACHINE, run, L"App", L"\"C:\\apps\\app.exe\" /x");
        sim.SetString(HKEY_CURRENT_USER, run, L"Desk", L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl");
        sim.SetString(HKEY_CLASSES_ROOT, L"CLSID\\{1}\\InprocServer32", L"", L"C:\\apps\\bho.dll");
        sim.AddKey(HKEY_LOCAL_MACHINE,
                   L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\{1}");
        sim.SetMultiString(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                           L"BootExecute", {L"autocheck autochk *", L"C:\\apps\\app.exe"});
    }

    // Items of a complete scan, or -1 when a call failed.
    int Scan(IZVAutorunScanner* scanner) {
        if (scanner->StartScan(nullptr) != S_OK) return -1;
        int items = 0;
        IZVAutorunItemEx* item = nullptr;
        while (scanner->NextItem(&item)) {
            ++items;
            item->Release();
        }
        return items;
    }
};

TEST_F(ScanAllocationTest, EveryAllocationOfAScanFailedInTurn) {
    platform::ComPtr<IZVAutorunScanner> scanner;
    ASSERT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0), S_OK);
    const int expected = Scan(scanner.Get());
    ASSERT_EQ(expected, 5) << "two run values, a browser helper object, two boot programs";

    bool completed = false;
    size_t failures = 0;
    for (size_t n = 0; !completed; ++n) {
        int items;
        bool failed;
        {
            test::ScopedAllocationFailure failure(n);
            items = Scan(scanner.Get());
            failed = test::AllocationFailed();
        }
        if (failed) {
            ++failures;
            EXPECT_LE(items, expected) << "a failure past the last entry still ends the scan early";
        } else {
            completed = true;
            EXPECT_EQ(items, expected);
        }
        ASSERT_LE(sim.OpenHandles(), 2u) << "only the hives of the last StartScan may stay open, n=" << n;
    }
    EXPECT_GT(failures, 50u) << "the loop reached the allocations of the scan routines";
    EXPECT_EQ(Scan(scanner.Get()), expected);
}

}  // namespace
