// The export and the IUnknown rules every object follows.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "support/sim_test.h"
#include "zvatrun.h"

namespace {

using platform::ComPtr;

class ObjectModelTest : public test::SimTest {
protected:
    ComPtr<IZVAutorunScanner> CreateScanner() {
        ComPtr<IZVAutorunScanner> scanner;
        EXPECT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0), S_OK);
        return scanner;
    }
};

TEST_F(ObjectModelTest, ExportChecksThePointerBeforeTheIid) {
    EXPECT_EQ(ZVAtrunCreateObject(nullptr, nullptr, 0), E_POINTER);
    EXPECT_EQ(ZVAtrunCreateObject(&IID_IUnknown, nullptr, 0), E_POINTER);
    EXPECT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, nullptr, 0), E_POINTER);
}

TEST_F(ObjectModelTest, ExportCreatesOnlyTheScannerInterfaceAndLeavesPpvAloneOtherwise) {
    void* const sentinel = reinterpret_cast<void*>(0x1234);
    for (const IID* iid : {&IID_IUnknown, &IID_IZVAutorunPerformView, &IID_IZVAutorunItem,
                           static_cast<const IID*>(nullptr)}) {
        void* out = sentinel;
        EXPECT_EQ(ZVAtrunCreateObject(iid, &out, 0), E_NOTIMPL);
        EXPECT_EQ(out, sentinel);
    }
    void* out = nullptr;
    ASSERT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, &out, 0xFFFFFFFF), S_OK);
    auto* scanner = static_cast<IZVAutorunScanner*>(out);
    EXPECT_EQ(scanner->Release(), 0u) << "the caller holds the only reference";
}

TEST_F(ObjectModelTest, BothScannerInterfacesShareOneIdentityAndOneCount) {
    auto scanner = CreateScanner();
    ComPtr<IZVAutorunPerformView> view;
    ASSERT_EQ(scanner->QueryInterface(IID_IZVAutorunPerformView, view.PutVoid()), S_OK);
    EXPECT_NE(static_cast<void*>(view.Get()), static_cast<void*>(scanner.Get()));

    ComPtr<IUnknown> fromView, fromScanner;
    ASSERT_EQ(view->QueryInterface(IID_IUnknown, fromView.PutVoid()), S_OK);
    ASSERT_EQ(scanner->QueryInterface(IID_IUnknown, fromScanner.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(fromView.Get()), static_cast<void*>(scanner.Get()));
    EXPECT_EQ(fromView.Get(), fromScanner.Get());

    // scanner, view, fromView, fromScanner: four references on one count, through either table.
    EXPECT_EQ(view->AddRef(), 5u);
    EXPECT_EQ(scanner->Release(), 4u);
    ComPtr<IZVAutorunScanner> back;
    ASSERT_EQ(view->QueryInterface(IID_IZVAutorunScanner, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), scanner.Get());
}

TEST_F(ObjectModelTest, QueryInterfaceRejectsNullOutAndUnknownIids) {
    auto scanner = CreateScanner();
    EXPECT_EQ(scanner->QueryInterface(IID_IZVAutorunScanner, nullptr), E_INVALIDARG);
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(scanner->QueryInterface(IID_IZVAutorunItem, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(scanner->QueryInterface(IID_IZVAutorunItem_Reg, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(scanner->AddRef(), 2u) << "failed queries take no reference";
    EXPECT_EQ(scanner->Release(), 1u);
}

}  // namespace
