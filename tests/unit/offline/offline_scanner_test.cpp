// Offline scanners through the export: each runs on its own image, two in one process never mix,
// their items keep their image for repairs, which are refused, and the live system is not touched.
#include <gtest/gtest.h>

#include <set>

#include "platform/handles.h"
#include "platform/sim_backend.h"
#include "support/hive_writer.h"
#include "zvoffline.h"

namespace {

const wchar_t kRun[] = L"Microsoft\\Windows\\CurrentVersion\\Run";

platform::ComPtr<IZVAutorunScanner> Create(const std::wstring& root, const wchar_t* user = nullptr) {
    ZV_OFFLINE_SETTINGS settings{sizeof(settings), 0, root.c_str(), user};
    platform::ComPtr<IZVAutorunScanner> scanner;
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunScanner, scanner.PutVoid()), S_OK);
    return scanner;
}

std::wstring RunData(IZVAutorunItemEx* item) {
    platform::ComPtr<IZVAutorunItem_Reg> reg;
    if (FAILED(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid()))) return L"";
    return reg->GetValueData();
}

TEST(OfflineScanner, TheExportChecksItsArguments) {
    test::TestImage image;
    image.Write();
    ZV_OFFLINE_SETTINGS settings{sizeof(settings), 0, image.Root().c_str(), nullptr};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunScanner, nullptr), E_POINTER);
    EXPECT_EQ(ZVAtrunCreateOfflineObject(nullptr, &IID_IZVAutorunScanner, &object), E_POINTER);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunItem, &object), E_NOTIMPL);
    ZV_OFFLINE_SETTINGS small = settings;
    small.cbSize = 8;
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&small, &IID_IZVAutorunScanner, &object), E_INVALIDARG);
    ZV_OFFLINE_SETTINGS noRoot = settings;
    noRoot.pszImageRoot = L"";
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&noRoot, &IID_IZVAutorunScanner, &object), E_INVALIDARG);
    std::wstring absent = image.Root() + L"\\absent";
    ZV_OFFLINE_SETTINGS missing = settings;
    missing.pszImageRoot = absent.c_str();
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&missing, &IID_IZVAutorunScanner, &object),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    ZV_OFFLINE_SETTINGS nobody = settings;
    nobody.pszUser = L"nobody";
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&nobody, &IID_IZVAutorunScanner, &object),
              HRESULT_FROM_WIN32(ERROR_NO_SUCH_USER));

    auto scanner = Create(image.Root());
    platform::ComPtr<IZVOfflineImage> offline;
    ASSERT_EQ(scanner->QueryInterface(IID_IZVOfflineImage, offline.PutVoid()), S_OK);
    ASSERT_GT(offline->GetNoteCount(), 0u);
    EXPECT_NE(offline->GetNote(offline->GetNoteCount() - 1), nullptr);
    EXPECT_EQ(offline->GetNote(offline->GetNoteCount()), nullptr);
    EXPECT_EQ(std::wstring(offline->GetCurrentUser()), L".DEFAULT");
    platform::ComPtr<IZVAutorunPerformView> view;
    EXPECT_EQ(offline->QueryInterface(IID_IZVAutorunPerformView, view.PutVoid()), S_OK);
}

TEST(OfflineScanner, TwoImagesInOneProcessNeverMixAndRepairsAreRefused) {
    // The live system stands in as a simulated machine, so a write that went there would show.
    platform::SimulatedBackend live;
    live.SetString(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\") + kRun, L"Live", L"C:\\live.exe");
    platform::ScopedBackend scope(live);
    test::TestImage first, second;
    first.software.Key(kRun).String(L"First", L"C:\\first.exe");
    second.software.Key(kRun).String(L"Second", L"C:\\second.exe");
    first.Write();
    second.Write();
    auto before = test::Snapshot(first.Root());
    auto a = Create(first.Root()), b = Create(second.Root());
    ZV_SCAN_SETTINGS settings{sizeof(settings), ZV_SCAN_SKIP_PROBE, {}};
    ASSERT_EQ(a->StartScan(&settings), S_OK);
    ASSERT_EQ(b->StartScan(&settings), S_OK);
    std::set<std::wstring> seenA, seenB;
    platform::ComPtr<IZVAutorunItemEx> kept;
    for (bool more = true; more;) {
        IZVAutorunItemEx* item = nullptr;
        more = false;
        if (a->NextItem(&item)) {
            more = true;
            auto owned = platform::ComPtr<IZVAutorunItemEx>::Attach(item);
            seenA.insert(RunData(item));
            if (RunData(item) == L"C:\\first.exe") kept = owned;
        }
        if (b->NextItem(&item)) {
            more = true;
            auto owned = platform::ComPtr<IZVAutorunItemEx>::Attach(item);
            seenB.insert(RunData(item));
        }
    }
    EXPECT_TRUE(seenA.count(L"C:\\first.exe"));
    EXPECT_FALSE(seenA.count(L"C:\\second.exe"));
    EXPECT_TRUE(seenB.count(L"C:\\second.exe"));
    EXPECT_FALSE(seenB.count(L"C:\\first.exe"));
    EXPECT_FALSE(seenA.count(L"C:\\live.exe") || seenB.count(L"C:\\live.exe"));
    a.Reset();
    b.Reset();
    // The item outlives its scanner and repairs on its image, which refuses.
    ASSERT_TRUE(kept);
    ASSERT_TRUE(kept->CanRepair());
    ZV_REPAIR_REQUEST request{sizeof(request), nullptr};
    EXPECT_EQ(kept->Repair(&request), E_ACCESSDENIED);
    kept.Reset();
    EXPECT_EQ(live.Writes(), 0u);
    EXPECT_EQ(live.OpenHandles(), 0u);
    EXPECT_TRUE(live.HasValue(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\") + kRun, L"Live"));
    EXPECT_EQ(test::Snapshot(first.Root()), before);
}

}  // namespace
