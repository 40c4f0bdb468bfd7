// The offline registry over image folders written by the tests: how the hives are assembled (HKLM,
// CurrentControlSet, HKEY_USERS, HKEY_CURRENT_USER, merged classes), the Win32 call semantics, and
// that nothing is ever written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/handles.h"
#include "platform/offline/offline_backend.h"
#include "support/hive_writer.h"

namespace {

using platform::offline::ImageOptions;
using platform::offline::OfflineBackend;

std::unique_ptr<OfflineBackend> OpenImage(const test::TestImage& image, const std::wstring& user = L"") {
    DWORD error = 0;
    auto backend = OfflineBackend::Open(ImageOptions{image.Root(), user, true}, error);
    EXPECT_NE(backend, nullptr) << error;
    return backend;
}

std::wstring ReadString(HKEY root, const wchar_t* path, const wchar_t* name) {
    platform::UniqueHKey key;
    if (platform::RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"<no key>";
    wchar_t text[256] = {};
    DWORD size = sizeof text - 2, type = 0;
    if (platform::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
        return L"<no value>";
    return text;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const wchar_t* path) {
    std::vector<std::wstring> names;
    platform::UniqueHKey key;
    if (platform::RegOpenKeyExW(root, path, 0, KEY_ENUMERATE_SUB_KEYS, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD capacity = 256;
        if (platform::RegEnumKeyExW(key.get(), i, name, &capacity, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

bool HasNote(const OfflineBackend& backend, const std::wstring& text) {
    return std::any_of(backend.Notes().begin(), backend.Notes().end(),
                       [&](const std::wstring& note) { return note.find(text) != std::wstring::npos; });
}

TEST(OfflineRegistry, MachineHivesAndTheCurrentControlSetAreWhereWindowsPutsThem) {
    test::TestImage image;
    image.software.Key(L"Microsoft\\Windows\\CurrentVersion\\Run").String(L"Tool", L"C:\\tool.exe");
    image.system.Key(L"Select").values.clear();
    image.system.Key(L"Select").Dword(L"Current", 2);
    image.system.Key(L"ControlSet001\\Services\\Old").String(L"ImagePath", L"old.sys");
    image.system.Key(L"ControlSet002\\Services\\New").String(L"ImagePath", L"new.sys");
    image.Write();
    auto backend = OpenImage(image);
    ASSERT_NE(backend, nullptr);
    platform::ScopedBackend scope(*backend);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"software\\Microsoft\\Windows\\CurrentVersion\\Run", L"tool"),
              L"C:\\tool.exe");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\New", L"ImagePath"), L"new.sys");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Old", L"ImagePath"), L"<no key>");
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, L""), (std::vector<std::wstring>{L"SOFTWARE", L"SYSTEM"}));
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, L"SYSTEM"),
              (std::vector<std::wstring>{L"ControlSet001", L"ControlSet002", L"CurrentControlSet", L"Select"}));
    EXPECT_EQ(backend->OpenHandles(), 0u);
}

TEST(OfflineRegistry, UsersComeFromTheProfileListAndTheCurrentUserIsChosenByRule) {
    test::TestImage image;
    image.defaultUser.Key(L"Software").String(L"Who", L"default");
    image.AddProfile(L"S-1-5-21-1-2-3-1001", L"alice", 0x01D00001).user.Key(L"Software").String(L"Who", L"alice");
    image.AddProfile(L"S-1-5-21-1-2-3-1002", L"bob", 0x01D00009).user.Key(L"Software").String(L"Who", L"bob");
    image.AddProfile(L"S-1-5-18", L"system", 0x01D0FFFF).user.Key(L"Software").String(L"Who", L"system");
    image.profiles[0].hasClasses = false;
    image.Write();
    {
        auto backend = OpenImage(image);
        platform::ScopedBackend scope(*backend);
        // The user profile written last, never a service account's.
        EXPECT_EQ(backend->CurrentUserSid(), L"S-1-5-21-1-2-3-1002");
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software", L"Who"), L"bob");
        EXPECT_EQ(SubkeyNames(HKEY_USERS, L""),
                  (std::vector<std::wstring>{L".DEFAULT", L"S-1-5-18", L"S-1-5-18_Classes", L"S-1-5-21-1-2-3-1001",
                                             L"S-1-5-21-1-2-3-1002", L"S-1-5-21-1-2-3-1002_Classes"}));
        EXPECT_EQ(ReadString(HKEY_USERS, L".DEFAULT\\Software", L"Who"), L"default");
        EXPECT_TRUE(HasNote(*backend, L"S-1-5-21-1-2-3-1001_Classes: the profile has no UsrClass.dat"));
        EXPECT_TRUE(HasNote(*backend, L"HKEY_CURRENT_USER: HKEY_USERS\\S-1-5-21-1-2-3-1002"));
    }
    for (const wchar_t* user : {L"ALICE", L"s-1-5-21-1-2-3-1001"}) {
        auto backend = OpenImage(image, user);
        platform::ScopedBackend scope(*backend);
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software", L"Who"), L"alice") << user;
    }
    DWORD error = 0;
    EXPECT_EQ(OfflineBackend::Open(ImageOptions{image.Root(), L"carol", true}, error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_SUCH_USER));
    EXPECT_EQ(OfflineBackend::Open(ImageOptions{image.Root() + L"\\absent", L"", true}, error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(OfflineRegistry, ClassesMergeTheUsersOverTheMachines) {
    test::TestImage image;
    image.software.Key(L"Classes\\txtfile\\shell\\open\\command").String(L"", L"machine.exe %1");
    image.software.Key(L"Classes\\machineonly").String(L"", L"m");
    auto& bob = image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    bob.classes.Key(L"txtfile\\shell\\open\\command").String(L"", L"user.exe %1");
    bob.classes.Key(L"useronly").String(L"", L"u");
    image.Write();
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", L""), L"user.exe %1");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"machineonly", nullptr), L"m");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"useronly", nullptr), L"u");
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L""), (std::vector<std::wstring>{L"machineonly", L"txtfile", L"useronly"}));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\txtfile\\shell\\open\\command", L""),
              L"machine.exe %1");
}

TEST(OfflineRegistry, AUsersSoftwareClassesIsTheProfilesClassesHive) {
    test::TestImage image;
    auto& bob = image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    bob.user.Key(L"Software\\Classes\\stub").String(L"", L"ntuser");
    bob.classes.Key(L"*\\ShellEx\\ContextMenuHandlers\\Tool").String(L"", L"{00000000-0000-0000-0000-000000000001}");
    auto& carol = image.AddProfile(L"S-1-5-21-9-1001", L"carol", 0x01D00000);
    carol.user.Key(L"Software\\Classes\\stub").String(L"", L"ntuser");
    carol.hasClasses = false;
    image.Write();
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);
    EXPECT_EQ(ReadString(HKEY_USERS, L"S-1-5-21-9-1000\\SOFTWARE\\Classes\\*\\ShellEx\\ContextMenuHandlers\\Tool", L""),
              L"{00000000-0000-0000-0000-000000000001}");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\stub", L""), L"<no key>");
    // Without a classes hive, the key the profile's own hive holds.
    EXPECT_EQ(ReadString(HKEY_USERS, L"S-1-5-21-9-1001\\Software\\Classes\\stub", L""), L"ntuser");
}

TEST(OfflineRegistry, AMissingHiveLeavesItsKeysAbsentAndIsNamed) {
    test::TestImage image;
    image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    image.Write({L"SYSTEM"});
    test::WriteFileBytes(image.ConfigPath(L"DEFAULT"), std::vector<uint8_t>(9000, 'x'));
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);
    platform::UniqueHKey key;
    EXPECT_EQ(platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM", 0, KEY_READ, key.put()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, L""), std::vector<std::wstring>{L"SOFTWARE"});
    EXPECT_TRUE(HasNote(*backend, L"HKEY_LOCAL_MACHINE\\SYSTEM: Windows\\System32\\config\\SYSTEM missing"));
    EXPECT_TRUE(HasNote(*backend, L"HKEY_USERS\\.DEFAULT: Windows\\System32\\config\\DEFAULT not a readable hive"));
}

TEST(OfflineRegistry, CallsAnswerAsWindowsDoes) {
    test::TestImage image;
    auto& key = image.software.Key(L"Test");
    key.String(L"a", L"12345678");
    key.String(L"longer-name", L"x");
    key.Key(L"Sub").className = L"Klass";
    key.Key(L"AnotherSub");
    image.Write();
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);
    platform::UniqueHKey test;
    ASSERT_EQ(platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test", 0, KEY_READ, test.put()), ERROR_SUCCESS);

    DWORD subkeys = 0, longestKey = 0, longestClass = 0, values = 0, longestName = 0, longestData = 0, sd = 0;
    FILETIME written{};
    ASSERT_EQ(platform::RegQueryInfoKeyW(test.get(), nullptr, nullptr, nullptr, &subkeys, &longestKey, &longestClass,
                                         &values, &longestName, &longestData, &sd, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(longestKey, 10u);
    EXPECT_EQ(longestClass, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestName, 11u);
    EXPECT_EQ(longestData, 18u);
    EXPECT_EQ(sd, 20u);
    EXPECT_EQ(written.dwHighDateTime, test::HiveLayout{}.lastWritten.dwHighDateTime);

    wchar_t name[4];
    DWORD capacity = 4;
    EXPECT_EQ(platform::RegEnumKeyExW(test.get(), 0, name, &capacity, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    wchar_t longName[32], className[8];
    capacity = 32;
    DWORD classCapacity = 8;
    ASSERT_EQ(platform::RegEnumKeyExW(test.get(), 1, longName, &capacity, nullptr, className, &classCapacity, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(longName), L"Sub");
    EXPECT_EQ(capacity, 3u);
    EXPECT_EQ(std::wstring(className), L"Klass");
    capacity = 32;
    EXPECT_EQ(platform::RegEnumKeyExW(test.get(), 2, longName, &capacity, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    BYTE data[32];
    DWORD type = 0, size = 4;
    EXPECT_EQ(platform::RegQueryValueExW(test.get(), L"A", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 18u);
    size = 0;
    EXPECT_EQ(platform::RegQueryValueExW(test.get(), L"A", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 18u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    std::memset(data, 0xCC, sizeof data);
    size = sizeof data;
    ASSERT_EQ(platform::RegQueryValueExW(test.get(), L"a", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"12345678");
    EXPECT_EQ(platform::RegQueryValueExW(test.get(), L"none", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);

    capacity = 2;
    size = sizeof data;
    EXPECT_EQ(platform::RegEnumValueW(test.get(), 1, longName, &capacity, nullptr, &type, data, &size), ERROR_MORE_DATA);
    capacity = 32;
    size = 2;
    EXPECT_EQ(platform::RegEnumValueW(test.get(), 0, longName, &capacity, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 18u);
    capacity = 32;
    EXPECT_EQ(platform::RegEnumValueW(test.get(), 2, longName, &capacity, nullptr, &type, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    HKEY stale = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(platform::RegQueryValueExW(stale, L"a", nullptr, &type, data, &size), ERROR_INVALID_HANDLE);
}

TEST(OfflineRegistry, EveryWriteIsRefusedAndTheImageStaysAsItWas) {
    test::TestImage image;
    image.software.Key(L"Microsoft\\Windows\\CurrentVersion\\Run").String(L"Tool", L"C:\\tool.exe");
    image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    image.Write();
    auto before = test::Snapshot(image.Root());
    {
        auto backend = OpenImage(image);
        platform::ScopedBackend scope(*backend);
        platform::UniqueHKey run, created;
        ASSERT_EQ(platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                          KEY_ALL_ACCESS, run.put()),
                  ERROR_SUCCESS);
        const BYTE bytes[] = {'a', 0, 0, 0};
        EXPECT_EQ(platform::RegSetValueExW(run.get(), L"Tool", 0, REG_SZ, bytes, 4), ERROR_ACCESS_DENIED);
        EXPECT_EQ(platform::RegDeleteValueW(run.get(), L"Tool"), ERROR_ACCESS_DENIED);
        EXPECT_EQ(platform::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"), ERROR_ACCESS_DENIED);
        EXPECT_EQ(platform::RegCreateKeyExW(HKEY_CURRENT_USER, L"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                            created.put(), nullptr),
                  ERROR_ACCESS_DENIED);
        EXPECT_FALSE(platform::DeleteFileW((image.ConfigPath(L"SOFTWARE")).c_str()));
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        HANDLE file = platform::CreateFileW(image.ConfigPath(L"SOFTWARE").c_str(), GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"Tool"),
                  L"C:\\tool.exe");
        // The image's hives stay open to every other reader and writer while they are mapped.
        HANDLE other = CreateFileW(image.ConfigPath(L"SOFTWARE").c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(other, INVALID_HANDLE_VALUE);
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
    EXPECT_EQ(test::Snapshot(image.Root()), before);
}

}  // namespace
