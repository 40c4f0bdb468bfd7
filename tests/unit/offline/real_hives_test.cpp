// Hives of real Windows installations (tests/scripts/real_hives.sh unpacks them), read through the
// offline registry and compared with what hivexregedit, an independent reader, exports from the
// same files; dirty hives with and without their logs; damaged and mutated hives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

#include "platform/handles.h"
#include "platform/offline/offline_backend.h"
#include "scanner/com_object.h"
#include "scanner/offline/offline_scanner.h"
#include "support/hive_writer.h"
#include "support/reg_export.h"

namespace {

using platform::offline::ImageOptions;
using platform::offline::OfflineBackend;

std::wstring RealHive(const wchar_t* name) {
    std::wstring folder = test::RealHivesFolder();
    if (folder.empty()) return L"";
    std::wstring path = folder + L"\\" + name;
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? L"" : path;
}

#define REQUIRE_REAL(var, name)                                                                          \
    std::wstring var = RealHive(name);                                                                   \
    if (var.empty()) GTEST_SKIP() << "real hives not unpacked (ZV_REAL_HIVES; tests/scripts/real_hives.sh)"

#define REQUIRE_EXPORT(var, name)                                                                    \
    std::vector<test::ExportedKey> var = test::ReadRegExport(test::RealHivesFolder() + L"\\" + name); \
    if (var.empty()) GTEST_SKIP() << "no hivexregedit export (hivexregedit missing; scripts/setup.sh installs it)"

// An image holding copies of real hives at the places given (relative paths).
struct RealImage {
    test::TempFolder folder;
    void Put(const std::wstring& relative, const std::wstring& source) {
        test::WriteFileBytes(folder.Path() + L"\\" + relative, test::ReadFileBytes(source));
    }
    std::unique_ptr<OfflineBackend> Open(bool logs = true) {
        DWORD error = 0;
        auto backend = OfflineBackend::Open(ImageOptions{folder.Path(), L"", logs}, error);
        EXPECT_NE(backend, nullptr) << error;
        return backend;
    }
};

std::vector<std::wstring> Subkeys(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD capacity = 256;
        if (platform::RegEnumKeyExW(key, i, name, &capacity, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return names;
}

std::vector<test::ExportedValue> Values(HKEY key) {
    std::vector<test::ExportedValue> values;
    for (DWORD i = 0;; ++i) {
        std::vector<wchar_t> name(16384);
        DWORD capacity = 16384, type = 0, size = 0;
        if (platform::RegEnumValueW(key, i, name.data(), &capacity, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        test::ExportedValue value{std::wstring(name.data(), capacity), type, std::vector<uint8_t>(size)};
        capacity = 16384;
        DWORD read = size;
        EXPECT_EQ(platform::RegEnumValueW(key, i, name.data(), &capacity, nullptr, &type,
                                          size ? value.data.data() : nullptr, &read),
                  ERROR_SUCCESS);
        values.push_back(std::move(value));
    }
    return values;
}

bool operator==(const test::ExportedValue& a, const test::ExportedValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

// Every key of the export exists with exactly its values (names, types, bytes) and its subkeys,
// under root\\prefix, the export's first path component replaced by first when one is given.
// hivexregedit sorts what it lists; the hive's own order is compared by the other tests.
void ExpectSameAsExport(const std::vector<test::ExportedKey>& exported, HKEY root, const std::wstring& prefix,
                        const std::wstring& first = L"") {
    auto byName = [](const std::vector<test::ExportedValue>& values) {
        std::map<std::wstring, test::ExportedValue> sorted;
        for (const auto& value : values) sorted[value.name] = value;
        return sorted;
    };
    std::map<std::wstring, std::set<std::wstring>> children;
    for (const auto& key : exported) {
        size_t slash = key.path.find_last_of(L'\\');
        if (!key.path.empty())
            children[slash == std::wstring::npos ? L"" : key.path.substr(0, slash)].insert(
                slash == std::wstring::npos ? key.path : key.path.substr(slash + 1));
    }
    for (const auto& key : exported) {
        std::wstring path = key.path;
        if (!first.empty()) path = first + path.substr(std::min(path.find(L'\\'), path.size()));
        path = prefix + (path.empty() || prefix.empty() ? L"" : L"\\") + path;
        platform::UniqueHKey open;
        ASSERT_EQ(platform::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, open.put()), ERROR_SUCCESS) << path;
        auto values = byName(Values(open.get())), expected = byName(key.values);
        ASSERT_EQ(values.size(), expected.size()) << path;
        for (const auto& entry : expected) EXPECT_TRUE(values[entry.first] == entry.second) << path << " " << entry.first;
        auto subkeys = Subkeys(open.get());
        std::set<std::wstring> names(subkeys.begin(), subkeys.end());
        // The link Windows makes at boot; no hive file holds it.
        if (key.path.empty()) names.erase(L"CurrentControlSet");
        bool inExport = children.count(key.path) > 0;
        if (inExport) EXPECT_EQ(names, children[key.path]) << path;
        else EXPECT_TRUE(names.empty()) << path;
    }
}

TEST(RealHives, SystemServicesReadAsTheIndependentReaderReadsThem) {
    REQUIRE_REAL(system, L"SYSTEM_B");
    REQUIRE_EXPORT(services, L"SYSTEM_B.services.reg");
    RealImage image;
    image.Put(L"Windows\\System32\\config\\SYSTEM", system);
    auto backend = image.Open(false);
    platform::ScopedBackend scope(*backend);
    // hivexregedit reads the file as it is: so do we, without its logs.
    ExpectSameAsExport(services, HKEY_LOCAL_MACHINE, L"SYSTEM");
    ExpectSameAsExport(services, HKEY_LOCAL_MACHINE, L"SYSTEM", L"CurrentControlSet");
    platform::UniqueHKey key;
    ASSERT_EQ(platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(key.get()).size(), 655u);
}

TEST(RealHives, FormatOnePointThreeHivesOfWindowsNtFourRead) {
    REQUIRE_REAL(software, L"SOFTWARE_NT4");
    REQUIRE_REAL(system, L"SYSTEM_NT4");
    REQUIRE_EXPORT(softwareExport, L"SOFTWARE_NT4.reg");
    REQUIRE_EXPORT(systemExport, L"SYSTEM_NT4.reg");
    RealImage image;
    image.Put(L"Windows\\System32\\config\\SOFTWARE", software);
    image.Put(L"Windows\\System32\\config\\SYSTEM", system);
    auto backend = image.Open();
    ASSERT_EQ(backend->Hives()[0].hive->MinorVersion(), 3u);
    platform::ScopedBackend scope(*backend);
    ExpectSameAsExport(softwareExport, HKEY_LOCAL_MACHINE, L"SOFTWARE");
    ExpectSameAsExport(systemExport, HKEY_LOCAL_MACHINE, L"SYSTEM");
}

TEST(RealHives, AUsersHiveReadsAsTheIndependentReaderReadsIt) {
    REQUIRE_REAL(user, L"NTUSER_WIN7.DAT");
    REQUIRE_EXPORT(userExport, L"NTUSER_WIN7.DAT.reg");
    test::TestImage image;
    // Without a classes hive, Software\Classes is the user hive's own key, as the export has it.
    image.AddProfile(L"S-1-5-21-7-7-7-1001", L"nfury", 0x01D00001).hasClasses = false;
    image.Write();
    test::WriteFileBytes(image.Root() + L"\\Users\\nfury\\NTUSER.DAT", test::ReadFileBytes(user));
    DWORD error = 0;
    auto backend = OfflineBackend::Open(ImageOptions{image.Root(), L"", true}, error);
    ASSERT_NE(backend, nullptr);
    platform::ScopedBackend scope(*backend);
    ExpectSameAsExport(userExport, HKEY_USERS, L"S-1-5-21-7-7-7-1001");
    ExpectSameAsExport(userExport, HKEY_CURRENT_USER, L"");
}

// All items of a whole scan of the image, as "location=data" lines.
std::vector<std::wstring> ScanImage(const std::wstring& root, DWORD offlineFlags = 0, ULONG* itemCount = nullptr) {
    ZV_OFFLINE_SETTINGS settings{sizeof(settings), offlineFlags, root.c_str(), nullptr};
    platform::ComPtr<IZVAutorunScanner> scanner;
    EXPECT_EQ(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunScanner, scanner.PutVoid()), S_OK);
    std::vector<std::wstring> lines;
    if (!scanner) return lines;
    ZV_SCAN_SETTINGS scan{sizeof(scan), ZV_SCAN_SKIP_PROBE, {}};
    EXPECT_EQ(scanner->StartScan(&scan), S_OK);
    IZVAutorunItemEx* item = nullptr;
    ULONG count = 0;
    while (scanner->NextItem(&item)) {
        platform::ComPtr<IZVAutorunItemEx> owned = platform::ComPtr<IZVAutorunItemEx>::Attach(item);
        std::wstring line = item->GetLocation();
        platform::ComPtr<IZVAutorunItem_Reg> reg;
        if (SUCCEEDED(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid()))) line += L"=" + std::wstring(reg->GetValueData());
        for (ULONG i = 0; i < item->GetFileCount(); ++i) line += L"|" + std::wstring(item->GetFile(i));
        lines.push_back(line);
        ++count;
    }
    if (itemCount) *itemCount = count;
    return lines;
}

TEST(RealHives, AProfilesRunValuesAreListedUnderItsSid) {
    REQUIRE_REAL(user, L"NTUSER_WIN7.DAT");
    REQUIRE_EXPORT(userExport, L"NTUSER_WIN7.DAT.reg");
    test::TestImage image;
    image.AddProfile(L"S-1-5-21-7-7-7-1001", L"nfury", 0x01D00001);
    image.Write();
    test::WriteFileBytes(image.Root() + L"\\Users\\nfury\\NTUSER.DAT", test::ReadFileBytes(user));
    auto lines = ScanImage(image.Root());
    auto run = std::find_if(userExport.begin(), userExport.end(), [](const test::ExportedKey& key) {
        return key.path == L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    });
    ASSERT_NE(run, userExport.end());
    ASSERT_FALSE(run->values.empty());
    for (const auto& value : run->values) {
        std::wstring data(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2);
        data.resize(wcslen(data.c_str()));
        std::wstring expected = L"HKEY_USERS\\S-1-5-21-7-7-7-1001\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\[" +
                                value.name + L"]=" + data;
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::wstring& line) { return line.compare(0, expected.size(), expected) == 0; }))
            << expected;
    }
}

TEST(RealHives, WhatTheLogsOfADirtyHiveChangeIsSeenOnlyWithThem) {
    REQUIRE_REAL(system, L"SYSTEM_B");
    RealImage bare, logged;
    bare.Put(L"Windows\\System32\\config\\SYSTEM", system);
    logged.Put(L"Windows\\System32\\config\\SYSTEM", system);
    logged.Put(L"Windows\\System32\\config\\SYSTEM.LOG1", system + L".LOG1");
    logged.Put(L"Windows\\System32\\config\\SYSTEM.LOG2", system + L".LOG2");
    auto before = test::Snapshot(logged.folder.Path());
    auto withLogs = logged.Open();
    const auto& report = withLogs->Hives()[1].report;
    EXPECT_TRUE(report.dirty);
    EXPECT_EQ(report.primarySequence, 1622u);
    EXPECT_EQ(report.secondarySequence, 1621u);
    EXPECT_EQ(report.replay.entries, 24u);
    EXPECT_EQ(report.replay.logs, (std::vector<std::wstring>{L"SYSTEM.LOG1", L"SYSTEM.LOG2"}));
    auto withoutLogs = bare.Open();
    EXPECT_TRUE(withoutLogs->Hives()[1].report.dirty);
    EXPECT_EQ(withoutLogs->Hives()[1].report.replay.entries, 0u);
    EXPECT_NE(std::find_if(withoutLogs->Notes().begin(), withoutLogs->Notes().end(),
                           [](const std::wstring& n) { return n.find(L"no usable log") != std::wstring::npos; }),
              withoutLogs->Notes().end());
    auto servicesOf = [](OfflineBackend& backend) {
        platform::ScopedBackend scope(backend);
        platform::UniqueHKey key;
        EXPECT_EQ(platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ,
                                          key.put()),
                  ERROR_SUCCESS);
        return Subkeys(key.get());
    };
    auto with = servicesOf(*withLogs), without = servicesOf(*withoutLogs);
    std::sort(with.begin(), with.end());
    std::sort(without.begin(), without.end());
    std::vector<std::wstring> added;
    std::set_difference(with.begin(), with.end(), without.begin(), without.end(), std::back_inserter(added));
    EXPECT_EQ(added, std::vector<std::wstring>{L"ad_driver"});
    EXPECT_EQ(without.size(), 655u);
    withLogs.reset();
    EXPECT_EQ(test::Snapshot(logged.folder.Path()), before);
}

TEST(RealHives, TheDamagedSystemHiveScansToItsEnd) {
    REQUIRE_REAL(damaged, L"corrupted_system_hive");
    RealImage image;
    image.Put(L"Windows\\System32\\config\\SYSTEM", damaged);
    ULONG count = 0;
    auto lines = ScanImage(image.folder.Path(), 0, &count);
    EXPECT_GT(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& l) { return l.find(L"\\Services\\") != std::wstring::npos; }),
              100);
}

// Mutated real hives: bytes overwritten at seeded random places, in the bins and the base block.
// Each round reads every key and value through the offline registry (bounded by a visit count) and
// scans the image: both end, nothing stays open, and the image is not changed. ZV_HIVE_FUZZ_ROUNDS
// sets the rounds (default 3) and ZV_HIVE_FUZZ_SEED the first seed; a failure names its seed.
void WalkAll(HKEY key, unsigned depth, size_t& visited) {
    if (depth > 64 || visited > 20000) return;
    ++visited;
    Values(key);
    for (const std::wstring& name : Subkeys(key)) {
        platform::UniqueHKey child;
        if (platform::RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, child.put()) == ERROR_SUCCESS)
            WalkAll(child.get(), depth + 1, visited);
    }
}

TEST(HiveFuzz, MutatedRealHivesNeverCrashHangOrLeak) {
    REQUIRE_REAL(user, L"NTUSER_WIN7.DAT");
    REQUIRE_REAL(system, L"SYSTEM_NT4");
    const char* roundsText = std::getenv("ZV_HIVE_FUZZ_ROUNDS");
    const char* seedText = std::getenv("ZV_HIVE_FUZZ_SEED");
    unsigned rounds = roundsText ? static_cast<unsigned>(std::atoi(roundsText)) : 3;
    unsigned firstSeed = seedText ? static_cast<unsigned>(std::atoi(seedText)) : 20261209;
    auto userBytes = test::ReadFileBytes(user), systemBytes = test::ReadFileBytes(system);
    size_t keysRead = 0;
    for (unsigned round = 0; round < rounds; ++round) {
        unsigned seed = firstSeed + round;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        auto mutate = [&](std::vector<uint8_t> bytes) {
            std::uniform_int_distribution<size_t> place(0, bytes.size() - 1);
            for (int i = 0; i < 400; ++i) {
                size_t at = random() % 8 == 0 ? place(random) % 4096 : place(random);
                switch (random() % 3) {
                    case 0: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
                    case 1: bytes[at] = static_cast<uint8_t>(random()); break;
                    default: bytes[at] = random() % 2 ? 0xFF : 0x00; break;
                }
            }
            // Half the rounds keep a valid base block, so the damage reaches the cells.
            if (random() % 2) {
                uint32_t sum = platform::offline::BaseBlockChecksum(bytes.data());
                std::memcpy(&bytes[508], &sum, 4);
            }
            return bytes;
        };
        test::TestImage image;
        image.AddProfile(L"S-1-5-21-7-7-7-1001", L"fuzz", 0x01D00001);
        image.Write();
        test::WriteFileBytes(image.Root() + L"\\Users\\fuzz\\NTUSER.DAT", mutate(userBytes));
        test::WriteFileBytes(image.ConfigPath(L"SYSTEM"), mutate(systemBytes));
        auto before = test::Snapshot(image.Root());
        {
            DWORD error = 0;
            auto backend = OfflineBackend::Open(ImageOptions{image.Root(), L"", true}, error);
            ASSERT_NE(backend, nullptr);
            {
                platform::ScopedBackend scope(*backend);
                size_t visited = 0;
                WalkAll(HKEY_USERS, 0, visited);
                WalkAll(HKEY_LOCAL_MACHINE, 0, visited);
                keysRead += visited;
            }
            EXPECT_EQ(backend->OpenHandles(), 0u);
        }
        ScanImage(image.Root());
        EXPECT_EQ(test::Snapshot(image.Root()), before);
    }
    // Half the rounds keep a valid base block: their damage must have reached the keys.
    if (rounds >= 3) {
        EXPECT_GT(keysRead, 1000u) << "no mutated hive could be read at all";
    }
}

}  // namespace
