// The replay of transaction logs onto a dirty hive, on logs written here from the published layout:
// entries checked and applied in sequence order, across two logs, never past a bad or missing one.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/offline/registry/hive_log.h"
#include "support/hive_writer.h"

namespace {

using platform::offline::ApplyLogs;
using platform::offline::HiveBytesOf;
using platform::offline::Marvin32;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

std::vector<uint8_t> HiveWith(const std::wstring& text, uint32_t primary, uint32_t secondary) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    root.Key(L"Key").String(L"v", text);
    test::HiveLayout layout;
    layout.primarySequence = primary;
    layout.secondarySequence = secondary;
    return test::WriteHive(root, layout);
}

// A log of the new format: the base block of the hive it belongs to, then one entry per sequence
// number, each carrying every page of the bins of target.
std::vector<uint8_t> LogOf(const std::vector<uint8_t>& target, uint32_t baseSequence,
                           const std::vector<uint32_t>& sequences) {
    std::vector<uint8_t> log(target.begin(), target.begin() + 512);
    Put32(log, 4, baseSequence);
    Put32(log, 8, baseSequence);
    Put32(log, 28, 6);
    Put32(log, 508, platform::offline::BaseBlockChecksum(log.data()));
    uint32_t bins = static_cast<uint32_t>(target.size() - 4096);
    for (uint32_t sequence : sequences) {
        std::vector<uint8_t> entry(512 + bins, 0);
        std::memcpy(&entry[0], "HvLE", 4);
        Put32(entry, 4, static_cast<uint32_t>(entry.size()));
        Put32(entry, 12, sequence);
        Put32(entry, 16, bins);
        Put32(entry, 20, 1);
        Put32(entry, 40, 0);
        Put32(entry, 44, bins);
        std::memcpy(&entry[48], &target[4096], bins);
        entry.resize(48 + bins);
        entry.resize((entry.size() + 511) / 512 * 512, 0);
        Put32(entry, 4, static_cast<uint32_t>(entry.size()));
        uint64_t first = Marvin32(entry.data() + 40, entry.size() - 40);
        std::memcpy(&entry[24], &first, 8);
        uint64_t second = Marvin32(entry.data(), 32);
        std::memcpy(&entry[32], &second, 8);
        log.insert(log.end(), entry.begin(), entry.end());
    }
    return log;
}

std::wstring ValueAfter(std::vector<uint8_t> hive) {
    platform::offline::HiveOpenError error;
    auto opened = platform::offline::Hive::Open(HiveBytesOf(std::move(hive)), error);
    if (!opened) return L"<unreadable>";
    platform::offline::KeyNode root, key;
    platform::offline::ValueNode value;
    if (!opened->ReadKey(opened->RootCell(), root) || !opened->FindSubkey(root, L"Key", 3, key) ||
        !opened->FindValue(key, L"v", 1, value))
        return L"<absent>";
    std::wstring text(value.DataSize() / 2, L'\0');
    opened->ReadData(value, reinterpret_cast<uint8_t*>(&text[0]));
    return text.c_str();
}

TEST(HiveLog, Marvin32GivesThePublishedValues) {
    // The reference values of the hash with the seed 0x004FB61A001BDBCC.
    const uint8_t bytes[] = {0xAF};
    EXPECT_EQ(Marvin32(nullptr, 0, 0x004FB61A001BDBCCull), 0x30ED35C100CD3C7Dull);
    EXPECT_EQ(Marvin32(bytes, 1, 0x004FB61A001BDBCCull), 0x48E73FC77D75DDC1ull);
}

TEST(HiveLog, EntriesAreCheckedAndAppliedInSequenceAcrossBothLogs) {
    auto primary = HiveWith(L"old0", 10, 9);
    auto one = HiveWith(L"one1", 10, 10), two = HiveWith(L"two2", 10, 10);
    auto first = LogOf(one, 10, {10});
    auto second = LogOf(two, 11, {11});
    std::vector<std::wstring> names{L"H.LOG1", L"H.LOG2"};
    {
        auto bytes = primary;
        auto a = HiveBytesOf(second), b = HiveBytesOf(first);  // the order given does not matter
        auto replay = ApplyLogs(bytes, {a.get(), b.get()}, {names[1], names[0]});
        EXPECT_EQ(replay.entries, 2u);
        EXPECT_EQ(replay.logs, (std::vector<std::wstring>{L"H.LOG1", L"H.LOG2"}));
        EXPECT_EQ(ValueAfter(bytes), L"two2");
    }
    {
        // A gap in the sequence ends the replay: the second log's entry is not applied.
        auto bytes = primary;
        auto gapped = LogOf(two, 13, {13});
        auto a = HiveBytesOf(first), b = HiveBytesOf(gapped);
        EXPECT_EQ(ApplyLogs(bytes, {a.get(), b.get()}, names).entries, 1u);
        EXPECT_EQ(ValueAfter(bytes), L"one1");
    }
    {
        // One byte changed under the first hash: that entry and all after it are not applied.
        auto bytes = primary;
        auto damaged = first;
        damaged[512 + 48 + 100] ^= 1;
        auto a = HiveBytesOf(damaged), b = HiveBytesOf(second);
        auto replay = ApplyLogs(bytes, {a.get(), b.get()}, names);
        EXPECT_EQ(replay.entries, 1u) << "the second log starts a sequence of its own";
        EXPECT_EQ(ValueAfter(bytes), L"two2");
        auto onlyDamaged = HiveBytesOf(damaged);
        auto untouched = primary;
        EXPECT_EQ(ApplyLogs(untouched, {onlyDamaged.get()}, {names[0]}).entries, 0u);
        EXPECT_EQ(untouched, primary);
    }
    {
        // Logs older than the hive's last complete write, and logs of the older format, are refused.
        auto bytes = primary;
        auto old = LogOf(one, 8, {8});
        auto oldFormat = first;
        Put32(oldFormat, 28, 1);
        Put32(oldFormat, 508, platform::offline::BaseBlockChecksum(oldFormat.data()));
        auto a = HiveBytesOf(old), b = HiveBytesOf(oldFormat);
        auto replay = ApplyLogs(bytes, {a.get(), b.get()}, names);
        EXPECT_EQ(replay.entries, 0u);
        EXPECT_NE(replay.refused.find(L"before Windows 8.1"), std::wstring::npos) << replay.refused;
        EXPECT_EQ(bytes, primary);
    }
    {
        // An entry claiming bins far larger than its pages can fill is not applied.
        auto bytes = primary;
        auto grown = first;
        Put32(grown, 512 + 16, 0x40000000);
        uint64_t hash = Marvin32(grown.data() + 512, 32);
        std::memcpy(&grown[512 + 32], &hash, 8);
        auto a = HiveBytesOf(grown);
        EXPECT_EQ(ApplyLogs(bytes, {a.get()}, {names[0]}).entries, 0u);
        EXPECT_EQ(bytes.size(), primary.size());
    }
}

}  // namespace
