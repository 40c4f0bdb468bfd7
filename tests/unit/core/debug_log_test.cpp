// The debug level read from zv.local.ini beside the host program, and its announcement.
#include <gtest/gtest.h>

#include "diag/debug_log.h"
#include "support/sim_test.h"

namespace {

class DebugLogTest : public test::SimTest {
protected:
    void SetUp() override {
        sim.SetModulePath(nullptr, L"C:\\Program Files\\Host\\host.exe");
        sim.SetModulePath(reinterpret_cast<HMODULE>(1), L"C:\\Program Files\\Host\\zvatrun.dll");
    }
    void TearDown() override {
        sim.RemoveFile(L"C:\\Program Files\\Host\\zv.local.ini");
        Tessel::InitDebugLevel();  // back to the default for the other tests
        SimTest::TearDown();
    }
    void WriteSettings(const std::string& text) { sim.AddFile(L"C:\\Program Files\\Host\\zv.local.ini", text); }
};

TEST_F(DebugLogTest, WithoutSettingsTheLevelIsCritAndNothingIsWritten) {
    EXPECT_EQ(Tessel::InitDebugLevel(), 10u);
    EXPECT_TRUE(sim.DebugOutput().empty());
    Tessel::LogDebug(Tessel::kLogError, L"not written %d", 1);
    EXPECT_TRUE(sim.DebugOutput().empty());
}

TEST_F(DebugLogTest, InfoLevelAnnouncesItself) {
    WriteSettings("[debug]\r\nzvatrun.dll=40\r\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 40u);
    ASSERT_EQ(sim.DebugOutput().size(), 1u);
    EXPECT_EQ(sim.DebugOutput()[0], L"[zavel][Release] zvatrun.dll DebugLevel info\r\n");

    Tessel::LogDebug(Tessel::kLogInfo, L"%s=%d", L"x", 5);
    Tessel::LogDebug(Tessel::kLogDebug, L"too detailed");
    ASSERT_EQ(sim.DebugOutput().size(), 2u);
    EXPECT_EQ(sim.DebugOutput()[1], L"x=5");
}

TEST_F(DebugLogTest, UnnamedLevelsAreReportedByNumber) {
    WriteSettings("[Debug]\nZVATRUN.DLL = 45\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 45u);
    ASSERT_EQ(sim.DebugOutput().size(), 1u);
    EXPECT_EQ(sim.DebugOutput()[0], L"[zavel][Release] zvatrun.dll DebugLevel 45\r\n");
}

TEST_F(DebugLogTest, LevelsBelowInfoTakeEffectWithoutAnnouncement) {
    WriteSettings("[debug]\nzvatrun.dll=35\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 35u);
    EXPECT_TRUE(sim.DebugOutput().empty()) << "the announcement is an info line";
    Tessel::LogDebug(Tessel::kLogWarn, L"warned");
    EXPECT_EQ(sim.DebugOutput(), (std::vector<std::wstring>{L"warned"}));
}

TEST_F(DebugLogTest, OtherLibrariesKeysAndMinusOneLeaveTheDefault) {
    WriteSettings("[debug]\nother.dll=60\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 10u);
    WriteSettings("[debug]\nzvatrun.dll=-1\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 10u);
    WriteSettings("[debug]\nzvatrun.dll=0\n");
    EXPECT_EQ(Tessel::InitDebugLevel(), 0u);
    EXPECT_TRUE(sim.DebugOutput().empty());
}

TEST(DebugLevelNames, NamedAndNumbered) {
    EXPECT_EQ(Tessel::DebugLevelName(0), L"always");
    EXPECT_EQ(Tessel::DebugLevelName(60), L"trace");
    EXPECT_EQ(Tessel::DebugLevelName(0xFFFFFFFF), L"default");
    EXPECT_EQ(Tessel::DebugLevelName(4000000000u), L"4000000000");
}

}  // namespace
