// The hive reader on hives written from the published layout: base block checks, every subkey list
// form, names, values and their exact bytes, big data, classes and security cells, and damage.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/offline/registry/hive.h"
#include "support/hive_writer.h"

namespace {

using platform::offline::Hive;
using platform::offline::HiveBytesOf;
using platform::offline::HiveOpenError;
using platform::offline::KeyNode;
using platform::offline::ValueNode;

std::unique_ptr<Hive> OpenBytes(std::vector<uint8_t> bytes, HiveOpenError& error, Hive::DamageSink damage = nullptr) {
    return Hive::Open(HiveBytesOf(std::move(bytes)), error, std::move(damage));
}

void Reseal(std::vector<uint8_t>& file) {
    uint32_t sum = platform::offline::BaseBlockChecksum(file.data());
    std::memcpy(&file[508], &sum, 4);
}

KeyNode Root(const Hive& hive) {
    KeyNode root;
    EXPECT_TRUE(hive.ReadKey(hive.RootCell(), root));
    return root;
}

bool Find(const Hive& hive, const KeyNode& key, const std::wstring& name, KeyNode& out) {
    return hive.FindSubkey(key, name.c_str(), name.size(), out);
}

std::vector<uint8_t> Data(const Hive& hive, const ValueNode& value) {
    std::vector<uint8_t> bytes(value.DataSize());
    EXPECT_TRUE(hive.ReadData(value, bytes.data()));
    return bytes;
}

TEST(HiveReader, BaseBlockIsCheckedBeforeAnythingIsRead) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    auto good = test::WriteHive(root);
    HiveOpenError error;
    EXPECT_NE(OpenBytes(good, error), nullptr);
    EXPECT_EQ(error, HiveOpenError::None);

    EXPECT_EQ(OpenBytes(std::vector<uint8_t>(good.begin(), good.begin() + 4096), error), nullptr);
    EXPECT_EQ(error, HiveOpenError::TooSmall);

    auto unsigned_ = good;
    unsigned_[0] = 'x';
    Reseal(unsigned_);
    EXPECT_EQ(OpenBytes(unsigned_, error), nullptr);
    EXPECT_EQ(error, HiveOpenError::NoSignature);

    auto flipped = good;
    flipped[100] ^= 1;
    EXPECT_EQ(OpenBytes(flipped, error), nullptr);
    EXPECT_EQ(error, HiveOpenError::BadChecksum);

    // A field of the base block patched and the checksum made right again: each is refused by itself.
    struct Patch {
        size_t offset;
        uint32_t value;
        HiveOpenError error;
    };
    for (const Patch& patch :
         {Patch{24, 2, HiveOpenError::BadVersion}, Patch{24, 7, HiveOpenError::BadVersion},
          Patch{28, 1, HiveOpenError::NotPrimary}, Patch{36, 0x7FFFFFF0, HiveOpenError::BadRoot}}) {
        auto patched = good;
        std::memcpy(&patched[patch.offset], &patch.value, 4);
        Reseal(patched);
        EXPECT_EQ(OpenBytes(patched, error), nullptr) << patch.offset << " " << patch.value;
        EXPECT_EQ(error, patch.error) << patch.offset << " " << patch.value;
    }
    for (uint32_t minor : {3u, 4u, 5u, 6u}) {
        test::HiveLayout layout;
        layout.minor = minor;
        EXPECT_NE(OpenBytes(test::WriteHive(root, layout), error), nullptr) << minor;
    }
}

TEST(HiveReader, SequenceNumbersTellADirtyHive) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    test::HiveLayout layout;
    layout.primarySequence = 8;
    layout.secondarySequence = 7;
    HiveOpenError error;
    auto dirty = OpenBytes(test::WriteHive(root, layout), error);
    ASSERT_NE(dirty, nullptr);
    EXPECT_TRUE(dirty->Dirty());
    EXPECT_EQ(dirty->PrimarySequence(), 8u);
    EXPECT_EQ(dirty->SecondarySequence(), 7u);
    EXPECT_FALSE(OpenBytes(test::WriteHive(root), error)->Dirty());
}

TEST(HiveReader, EverySubkeyListFormEnumeratesInOrderAndFindsWithoutRegardToCase) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    auto& parent = root.Key(L"Parent");
    for (int i = 0; i < 40; ++i) parent.Key(L"Key" + std::to_wstring(100 + i));
    for (auto form :
         {test::ListForm::Li, test::ListForm::Lf, test::ListForm::Lh, test::ListForm::RiOfLh, test::ListForm::RiOfLi}) {
        test::HiveLayout layout;
        layout.form = form;
        HiveOpenError error;
        auto hive = OpenBytes(test::WriteHive(root, layout), error);
        ASSERT_NE(hive, nullptr);
        KeyNode key;
        ASSERT_TRUE(Find(*hive, Root(*hive), L"pArEnT", key)) << int(form);
        ASSERT_EQ(hive->SubkeyCount(key), 40u) << int(form);
        for (uint32_t i = 0; i < 40; ++i) {
            KeyNode subkey;
            ASSERT_TRUE(hive->SubkeyAt(key, i, subkey)) << int(form) << " " << i;
            EXPECT_EQ(subkey.Name(), L"Key" + std::to_wstring(100 + i)) << int(form);
            KeyNode found;
            EXPECT_TRUE(Find(*hive, key, L"KEY" + std::to_wstring(100 + i), found)) << int(form);
            EXPECT_EQ(found.cell, subkey.cell) << int(form);
        }
        KeyNode none;
        EXPECT_FALSE(hive->SubkeyAt(key, 40, none)) << int(form);
        EXPECT_FALSE(Find(*hive, key, L"Key99", none)) << int(form);
    }
}

TEST(HiveReader, NamesAreCompressedOrUtf16AndCompareAsWindowsCompares) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    root.Key(L"Stra\u00dfe-\u00c4").String(L"Wert-\u00e9", L"latin");
    root.Key(L"\u0416\u0443\u043a").String(L"\u0438\u043c\u044f", L"cyrillic");
    for (bool ascii : {true, false}) {
        test::HiveLayout layout;
        layout.asciiNames = ascii;
        HiveOpenError error;
        auto hive = OpenBytes(test::WriteHive(root, layout), error);
        ASSERT_NE(hive, nullptr);
        KeyNode latin, cyrillic;
        ASSERT_TRUE(Find(*hive, Root(*hive), L"STRA\u00dfE-\u00e4", latin)) << ascii;
        EXPECT_EQ(latin.asciiName, ascii);
        EXPECT_EQ(latin.Name(), L"Stra\u00dfe-\u00c4");
        ValueNode value;
        EXPECT_TRUE(hive->FindValue(latin, L"WERT-\u00c9", 6, value));
        ASSERT_TRUE(Find(*hive, Root(*hive), L"\u0436\u0423\u041a", cyrillic)) << ascii;
        EXPECT_FALSE(cyrillic.asciiName);
        EXPECT_TRUE(hive->FindValue(cyrillic, L"\u0418\u041c\u042f", 3, value));
        EXPECT_EQ(value.Name(), L"\u0438\u043c\u044f");
    }
}

TEST(HiveReader, ValuesKeepTheirExactTypesAndBytes) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    auto& key = root.Key(L"Values");
    std::vector<uint8_t> big(40000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> exact(16344, 0x5A);
    key.values = {{L"", REG_SZ, test::TextBytes(L"default")},
                  {L"odd", REG_SZ, {'a', 0, 'b'}},
                  {L"empty", REG_EXPAND_SZ, {}},
                  {L"dword", REG_DWORD, {1, 2, 3, 4}},
                  {L"three", REG_BINARY, {9, 8, 7}},
                  {L"odd type", 0x12345678, {1, 2, 3, 4, 5, 6}},
                  {L"big", REG_BINARY, big},
                  {L"segment", REG_BINARY, exact}};
    for (uint32_t minor : {3u, 5u}) {
        test::HiveLayout layout;
        layout.minor = minor;
        HiveOpenError error;
        auto hive = OpenBytes(test::WriteHive(root, layout), error);
        ASSERT_NE(hive, nullptr);
        KeyNode node;
        ASSERT_TRUE(Find(*hive, Root(*hive), L"Values", node));
        ASSERT_EQ(hive->ValueCount(node), key.values.size());
        for (uint32_t i = 0; i < key.values.size(); ++i) {
            ValueNode value;
            ASSERT_TRUE(hive->ValueAt(node, i, value)) << i;
            EXPECT_EQ(value.Name(), key.values[i].name) << i;
            EXPECT_EQ(value.type, key.values[i].type) << i;
            EXPECT_EQ(Data(*hive, value), key.values[i].data) << minor << " " << i;
        }
        ValueNode found;
        EXPECT_TRUE(hive->FindValue(node, L"", 0, found));
        EXPECT_EQ(found.Name(), L"");
        EXPECT_FALSE(hive->FindValue(node, L"missing", 7, found));
    }
}

TEST(HiveReader, ClassNamesAndSecurityCellsAreRead) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    root.Key(L"Classy").className = L"MyClass";
    HiveOpenError error;
    auto hive = OpenBytes(test::WriteHive(root), error);
    ASSERT_NE(hive, nullptr);
    KeyNode key;
    ASSERT_TRUE(Find(*hive, Root(*hive), L"Classy", key));
    std::wstring className;
    EXPECT_TRUE(hive->ReadClass(key, className));
    EXPECT_EQ(className, L"MyClass");
    EXPECT_TRUE(hive->ReadClass(Root(*hive), className));
    EXPECT_EQ(className, L"");
    DWORD size = 0;
    EXPECT_TRUE(hive->SecurityDescriptorSize(key, size));
    EXPECT_EQ(size, 20u);
}

// Offsets of the first cell whose bytes start with the signature and hold the given text after
// the fixed part.
size_t FindRecord(const std::vector<uint8_t>& file, const char* signature, const std::string& name, size_t fixed) {
    for (size_t at = 4096 + 32; at + fixed + name.size() < file.size(); at += 8) {
        if (std::memcmp(&file[at + 4], signature, 2) == 0 &&
            std::memcmp(&file[at + 4 + fixed], name.data(), name.size()) == 0)
            return at;
    }
    return 0;
}

TEST(HiveDamage, ABadCellMakesOnlyItsKeyOrValueUnreadableAndIsReported) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    auto& run = root.Key(L"Run");
    run.String(L"first", L"a.exe").String(L"broken", L"b.exe").String(L"last", L"c.exe");
    run.Key(L"A");
    run.Key(L"B");
    auto file = test::WriteHive(root);
    size_t broken = FindRecord(file, "vk", "broken", 20);
    ASSERT_NE(broken, 0u);
    file[broken + 4] = 'x';
    size_t subkey = FindRecord(file, "nk", "A", 76);
    ASSERT_NE(subkey, 0u);
    int32_t huge = -0x7FFFFFF0;
    std::memcpy(&file[subkey], &huge, 4);
    std::vector<std::wstring> reports;
    HiveOpenError error;
    auto hive = OpenBytes(file, error, [&](const std::wstring& what) { reports.push_back(what); });
    ASSERT_NE(hive, nullptr);
    KeyNode key;
    ASSERT_TRUE(Find(*hive, Root(*hive), L"Run", key));
    ValueNode value;
    EXPECT_TRUE(hive->ValueAt(key, 0, value));
    EXPECT_FALSE(hive->ValueAt(key, 1, value));
    EXPECT_TRUE(hive->ValueAt(key, 2, value));
    EXPECT_EQ(value.Name(), L"last");
    KeyNode child;
    EXPECT_FALSE(hive->SubkeyAt(key, 0, child));
    EXPECT_TRUE(hive->SubkeyAt(key, 1, child));
    EXPECT_EQ(child.Name(), L"B");
    ASSERT_GE(reports.size(), 2u);
    wchar_t where[16];
    std::swprintf(where, 16, L"0x%08lX", static_cast<unsigned long>(broken - 4096));
    EXPECT_NE(reports[0].find(where), std::wstring::npos) << reports[0];
}

TEST(HiveDamage, ListsThatLoopOrNestAreBounded) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    auto& parent = root.Key(L"Parent");
    for (int i = 0; i < 6; ++i) parent.Key(L"K" + std::to_wstring(i));
    test::HiveLayout layout;
    layout.form = test::ListForm::RiOfLi;
    layout.leafSize = 2;
    auto file = test::WriteHive(root, layout);
    HiveOpenError error;
    auto clean = OpenBytes(file, error);
    KeyNode key;
    ASSERT_TRUE(Find(*clean, Root(*clean), L"Parent", key));
    uint32_t ri = key.subkeyList;
    size_t riAt = 4096 + ri;
    ASSERT_EQ(std::memcmp(&file[riAt + 4], "ri", 2), 0);

    // The index root lists itself as its first leaf: that leaf is passed over.
    auto looping = file;
    std::memcpy(&looping[riAt + 8], &ri, 4);
    auto hive = OpenBytes(looping, error);
    ASSERT_TRUE(Find(*hive, Root(*hive), L"Parent", key));
    EXPECT_EQ(hive->SubkeyCount(key), 4u);
    KeyNode found;
    EXPECT_FALSE(Find(*hive, key, L"K0", found));
    EXPECT_TRUE(Find(*hive, key, L"K5", found));

    // A key listed as its own subkey is refused.
    auto self = file;
    uint32_t leaf;
    std::memcpy(&leaf, &file[riAt + 8], 4);
    std::memcpy(&self[4096 + leaf + 8], &key.cell, 4);
    hive = OpenBytes(self, error);
    ASSERT_TRUE(Find(*hive, Root(*hive), L"Parent", key));
    EXPECT_FALSE(hive->SubkeyAt(key, 0, found));
    EXPECT_TRUE(hive->SubkeyAt(key, 1, found));

    // A count outside beyond its cell is cut to what the cell holds.
    auto counted = file;
    uint16_t many = 0xFFFF;
    std::memcpy(&counted[riAt + 6], &many, 2);
    hive = OpenBytes(counted, error);
    ASSERT_TRUE(Find(*hive, Root(*hive), L"Parent", key));
    EXPECT_LE(hive->SubkeyCount(key), 6u);
}

TEST(HiveDamage, SizesBeyondTheCellOrTheFileAreRefused) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    std::vector<uint8_t> big(20000, 1);
    root.Key(L"V").values = {{L"big", REG_BINARY, big}, {L"text", REG_SZ, test::TextBytes(L"hello world")}};
    auto file = test::WriteHive(root);
    size_t bigAt = FindRecord(file, "vk", "big", 20), textAt = FindRecord(file, "vk", "text", 20);
    ASSERT_NE(bigAt, 0u);
    ASSERT_NE(textAt, 0u);
    HiveOpenError error;
    auto readAll = [&](const std::vector<uint8_t>& bytes, int& readable) {
        auto hive = OpenBytes(bytes, error);
        KeyNode key;
        ASSERT_TRUE(Find(*hive, Root(*hive), L"V", key));
        readable = 0;
        for (uint32_t i = 0; i < hive->ValueCount(key); ++i) {
            ValueNode value;
            if (hive->ValueAt(key, i, value) && hive->ReadData(value, nullptr)) ++readable;
        }
    };
    int readable = 0;
    auto huge = file;
    uint32_t size = 0x7FFFFFF0;
    std::memcpy(&huge[bigAt + 8], &size, 4);
    readAll(huge, readable);
    EXPECT_EQ(readable, 1);

    auto longer = file;
    size = 400;
    std::memcpy(&longer[textAt + 8], &size, 4);
    readAll(longer, readable);
    EXPECT_EQ(readable, 1);

    auto resident = file;
    size = 0x80000008u;
    std::memcpy(&resident[textAt + 8], &size, 4);
    readAll(resident, readable);
    EXPECT_EQ(readable, 1);

    // A big-data record with fewer segments than its size needs.
    auto segments = file;
    uint32_t db;
    std::memcpy(&db, &file[bigAt + 12], 4);
    ASSERT_EQ(std::memcmp(&file[4096 + db + 4], "db", 2), 0);
    segments[4096 + db + 6] = 1;
    readAll(segments, readable);
    EXPECT_EQ(readable, 1);
}

TEST(HiveDamage, ACutHiveReadsWhatItStillHolds) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    for (int i = 0; i < 300; ++i) root.Key(L"Key" + std::to_wstring(i)).String(L"v", std::wstring(40, L'x'));
    auto file = test::WriteHive(root);
    ASSERT_GT(file.size(), 4096u * 4);
    for (size_t cut : {file.size() - 4096, file.size() - 1000, size_t(4096 * 2), size_t(4096 * 2 + 17)}) {
        std::vector<uint8_t> part(file.begin(), file.begin() + cut);
        HiveOpenError error;
        auto hive = OpenBytes(part, error);
        if (!hive) {
            EXPECT_EQ(error, HiveOpenError::BadRoot) << cut;
            continue;
        }
        EXPECT_TRUE(hive->Truncated()) << cut;
        KeyNode key;
        if (!hive->ReadKey(hive->RootCell(), key)) continue;
        for (uint32_t i = 0; i < hive->SubkeyCount(key); ++i) {
            KeyNode subkey;
            hive->SubkeyAt(key, i, subkey);
        }
    }
}

}  // namespace

namespace {

TEST(HiveDamage, OffsetsOutsideEveryBinAreRefused) {
    test::HiveKey root{L"ROOT", {}, {}, {}};
    root.Key(L"V").values = {{L"text", REG_SZ, test::TextBytes(L"some text of the value")}};
    auto file = test::WriteHive(root);
    uint32_t binSize;
    std::memcpy(&binSize, &file[4096 + 8], 4);
    // A page that is no bin, then a valid bin: the value's data is moved into the page between.
    std::vector<uint8_t> page(4096, 0xAB), bin(4096, 0);
    std::memcpy(&bin[0], "hbin", 4);
    uint32_t offset = binSize + 4096, size = 4096;
    std::memcpy(&bin[4], &offset, 4);
    std::memcpy(&bin[8], &size, 4);
    int32_t freeCell = 4096 - 32;
    std::memcpy(&bin[32], &freeCell, 4);
    file.insert(file.end(), page.begin(), page.end());
    file.insert(file.end(), bin.begin(), bin.end());
    uint32_t bins = binSize + 8192;
    std::memcpy(&file[40], &bins, 4);
    Reseal(file);
    size_t vk = FindRecord(file, "vk", "text", 20);
    ASSERT_NE(vk, 0u);
    HiveOpenError error;
    auto hive = OpenBytes(file, error);
    ASSERT_NE(hive, nullptr);
    KeyNode key;
    ASSERT_TRUE(Find(*hive, Root(*hive), L"V", key));
    ValueNode value;
    ASSERT_TRUE(hive->ValueAt(key, 0, value));
    EXPECT_TRUE(hive->ReadData(value, nullptr));
    for (uint32_t outside : {binSize + 64, binSize + 8192 + 4096, 0xFFFFFFF8u}) {
        auto moved = file;
        std::memcpy(&moved[vk + 4 + 8], &outside, 4);
        hive = OpenBytes(moved, error);
        ASSERT_TRUE(Find(*hive, Root(*hive), L"V", key));
        ASSERT_TRUE(hive->ValueAt(key, 0, value));
        EXPECT_FALSE(hive->ReadData(value, nullptr)) << outside;
    }
}

}  // namespace
