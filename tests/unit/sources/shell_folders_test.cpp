#include <gtest/gtest.h>

#include "paths/shell_folders.h"

namespace {

using Tessel::LookupShellFolder;

TEST(ShellFolders, StartupFoldersAndTheFallbackOnes) {
    Tessel::ShellFolderTable table;
    Tessel::FillShellFolderTable(table);
    auto* common = LookupShellFolder(table, 24);
    ASSERT_TRUE(common);
    EXPECT_STREQ(common->valueName, L"Common Startup");
    EXPECT_TRUE(common->allUsers);
    auto* user = LookupShellFolder(table, 7);
    ASSERT_TRUE(user);
    EXPECT_STREQ(user->valueName, L"Startup");
    EXPECT_FALSE(user->allUsers);
    EXPECT_FALSE(LookupShellFolder(table, 29));
    EXPECT_FALSE(LookupShellFolder(table, 30));
}

TEST(ShellFolders, FillingAgainChangesNothing) {
    Tessel::ShellFolderTable table;
    Tessel::FillShellFolderTable(table);
    table[26].valueName = L"changed";
    Tessel::FillShellFolderTable(table);
    EXPECT_EQ(table.size(), 34u);
    EXPECT_STREQ(table[26].valueName, L"AppData");
    int allUsers = 0;
    for (auto& [csidl, entry] : table) allUsers += entry.allUsers ? 1 : 0;
    EXPECT_EQ(allUsers, 12);
}

}  // namespace
