// Signatures as zvscan keeps them: each file checked once per run, a file that cannot be read named
// by its reason, and the status and signer in every output form. The statuses of signed files are
// checked end to end by signatures.sh, on files it signs.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>

#include "evidence/signature.h"
#include "report/output.h"
#include "win/text.h"
#include "zvscan_run.h"

namespace zvscan {
namespace {

std::wstring Self() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

TEST(ZvscanSignatures, EachFileIsCheckedOnceAndAMissingOneGivesItsReason) {
    SignatureCache cache;
    std::wstring self = Self();
    EXPECT_EQ(cache.Of(self).status, "unsigned");
    EXPECT_EQ(cache.Of(Folded(self)).status, "unsigned");
    EXPECT_EQ(cache.Checks(), 1u) << "the same file in another letter case is not checked again";
    EXPECT_EQ(cache.Of(L"C:\\no\\such\\file.exe").status, "not found");
    EXPECT_EQ(cache.Checks(), 2u);
    EXPECT_FALSE(TrustedSignature(cache.Of(self)));
    EXPECT_TRUE(TrustedSignature({"catalog", "Signer", "Issuer", {}}));
}

TEST(ZvscanSignatures, StatusAndSignerInEveryForm) {
    ItemRecord r;
    r.id = 0x1010100E;
    r.category = 0x10100000;
    r.kind = ItemKind::Registry;
    r.location = L"HKEY_LOCAL_MACHINE\\Run\\[A]";
    r.files = {L"C:\\a.exe", L"C:\\b.exe"};
    r.signatures = {{{"signed", "Zv Signer", "Zv Root", {}}, {"invalid", {}, {}, "the file changed (0x80096010)"}}};
    nlohmann::json json = nlohmann::json::parse(JsonItem(r));
    ASSERT_EQ(json["signatures"].size(), 2u);
    EXPECT_EQ(json["signatures"][0], (nlohmann::json{{"file", "C:\\a.exe"}, {"status", "signed"},
                                                     {"signer", "Zv Signer"}, {"issuer", "Zv Root"}}));
    EXPECT_EQ(json["signatures"][1]["reason"], "the file changed (0x80096010)");
    auto csv = test::ParseCsv(CsvHeader(false, true) + CsvItem(r));
    ASSERT_EQ(csv[0].size(), csv[1].size());
    EXPECT_EQ(csv[0][csv[0].size() - 4], "file_signature");
    EXPECT_EQ(csv[1][csv[1].size() - 4], "signed|invalid");
    EXPECT_EQ(csv[1][csv[1].size() - 3], "Zv Signer|");
    std::string table = TableItem(r);
    EXPECT_NE(table.find("C:\\a.exe  [signed by Zv Signer]"), std::string::npos) << table;
    EXPECT_NE(table.find("C:\\b.exe  [invalid: the file changed (0x80096010)]"), std::string::npos) << table;
}

}  // namespace
}  // namespace zvscan
