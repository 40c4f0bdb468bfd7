// Shortcuts of the image read from their bytes, written here as the Shell Link binary format lays
// them out in the shapes Windows writes: environment-variable targets, ID-list-only targets, link
// info, relative paths, and damaged files; and the startup folders of an image scanned with them.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/offline/offline_backend.h"
#include "platform/offline/shell_link.h"
#include "support/hive_writer.h"
#include "zvoffline.h"

namespace {

using platform::offline::ReadShellLinkTarget;

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void PutAnsi(Bytes& b, const std::string& text) {
    for (char c : text) b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
}

// A shortcut: the header with flags, then the parts the flags name, in the format's order.
struct Link {
    uint32_t flags = 0;
    Bytes idList, linkInfo, extra;
    std::wstring relative;

    Bytes Write() const {
        Bytes b;
        Put32(b, 0x4C);
        const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
        for (uint8_t byte : clsid) b.push_back(byte);
        Put32(b, flags);
        b.resize(0x4C, 0);
        if (flags & 0x1) {
            Put16(b, static_cast<uint32_t>(idList.size()));
            b.insert(b.end(), idList.begin(), idList.end());
        }
        if (flags & 0x2) b.insert(b.end(), linkInfo.begin(), linkInfo.end());
        if (flags & 0x8) {
            Put16(b, static_cast<uint32_t>(relative.size()));
            for (wchar_t c : relative) Put16(b, c);
        }
        b.insert(b.end(), extra.begin(), extra.end());
        Put32(b, 0);  // the terminal block
        return b;
    }
};

Bytes RootItem() {
    Bytes item;
    Put16(item, 0x14);
    item.push_back(0x1F);
    item.push_back(0x50);
    const uint8_t computer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
    for (uint8_t byte : computer) item.push_back(byte);
    return item;
}
Bytes DriveItem(const std::string& drive) {
    Bytes item;
    Put16(item, 0x19);
    item.push_back(0x2F);
    PutAnsi(item, drive);
    item.resize(0x19, 0);
    return item;
}
Bytes FileItem(uint8_t type, const std::string& name) {
    Bytes body;
    body.push_back(type);
    body.push_back(0);
    body.resize(12, 0);  // type, unknown, size, date, attributes
    PutAnsi(body, name);
    if (body.size() % 2) body.push_back(0);
    Bytes item;
    Put16(item, static_cast<uint32_t>(body.size() + 2));
    item.insert(item.end(), body.begin(), body.end());
    return item;
}
Bytes IdList(const std::vector<Bytes>& items) {
    Bytes list;
    for (const Bytes& item : items) list.insert(list.end(), item.begin(), item.end());
    Put16(list, 0);
    return list;
}
// Link info with a local base path and a common path suffix, ANSI.
Bytes LinkInfo(const std::string& base, const std::string& suffix) {
    Bytes strings;
    size_t headerSize = 0x1C, volume = 0x10;
    uint32_t baseOffset = static_cast<uint32_t>(headerSize + volume);
    uint32_t suffixOffset = static_cast<uint32_t>(baseOffset + base.size() + 1);
    Bytes info;
    Put32(info, static_cast<uint32_t>(suffixOffset + suffix.size() + 1));
    Put32(info, static_cast<uint32_t>(headerSize));
    Put32(info, 1);  // VolumeIDAndLocalBasePath
    Put32(info, static_cast<uint32_t>(headerSize));
    Put32(info, baseOffset);
    Put32(info, 0);
    Put32(info, suffixOffset);
    Put32(info, static_cast<uint32_t>(volume));  // the volume id: its size, then type, serial, label offset
    Put32(info, 3);
    Put32(info, 0x1234);
    Put32(info, 0x10);
    PutAnsi(info, base);
    PutAnsi(info, suffix);
    return info;
}
Bytes EnvironmentBlock(const std::wstring& target) {
    Bytes block;
    Put32(block, 0x314);
    Put32(block, 0xA0000001);
    std::string ansi(target.begin(), target.end());
    Bytes text(260, 0);
    std::copy(ansi.begin(), ansi.end(), text.begin());
    block.insert(block.end(), text.begin(), text.end());
    for (size_t i = 0; i < 260; ++i) Put16(block, i < target.size() ? target[i] : 0);
    return block;
}

std::wstring TargetOf(const Bytes& bytes, const std::wstring& linkPath = L"C:\\Users\\bob\\Desktop\\x.lnk") {
    std::wstring target;
    return ReadShellLinkTarget(bytes.data(), bytes.size(), linkPath, target) ? target : L"<none>";
}

TEST(OfflineShellLink, TheTargetIsTheOneTheShellGivesForEachShape) {
    Link environment;
    environment.flags = 0x200 | 0x80 | 0x1;
    environment.idList = IdList({RootItem(), DriveItem("C:\\"), FileItem(0x32, "OTHER.EXE")});
    environment.extra = EnvironmentBlock(L"%windir%\\notepad.exe");
    EXPECT_EQ(TargetOf(environment.Write()), L"%windir%\\notepad.exe");

    Link idOnly;
    idOnly.flags = 0x1;
    idOnly.idList = IdList({RootItem(), DriveItem("C:\\"), FileItem(0x31, "Program Files"), FileItem(0x31, "Tool"),
                            FileItem(0x32, "tool.exe")});
    EXPECT_EQ(TargetOf(idOnly.Write()), L"C:\\Program Files\\Tool\\tool.exe");

    Link info;
    info.flags = 0x1 | 0x2;
    info.idList = IdList({RootItem(), DriveItem("C:\\"), FileItem(0x32, "STALE.EXE")});
    info.linkInfo = LinkInfo("C:\\Program Files\\", "Tool\\tool.exe");
    EXPECT_EQ(TargetOf(info.Write()), L"C:\\Program Files\\Tool\\tool.exe");
    info.linkInfo = LinkInfo("C:\\Tools", "run.exe");
    EXPECT_EQ(TargetOf(info.Write()), L"C:\\Tools\\run.exe");

    Link relative;
    relative.flags = 0x8 | 0x80;
    relative.relative = L"..\\bin\\.\\tool.exe";
    EXPECT_EQ(TargetOf(relative.Write(), L"C:\\Users\\bob\\Start Menu\\x.lnk"), L"C:\\Users\\bob\\bin\\tool.exe");

    // A virtual folder after the drive is no file-system path; without anything else, no target.
    Link virtualItem;
    virtualItem.flags = 0x1;
    virtualItem.idList = IdList({RootItem(), DriveItem("C:\\"), RootItem()});
    EXPECT_EQ(TargetOf(virtualItem.Write()), L"<none>");
}

TEST(OfflineShellLink, DamagedBytesYieldWhatTheFormatAllowsAndNeverCrash) {
    Link info;
    info.flags = 0x1 | 0x2 | 0x8 | 0x80 | 0x200;
    info.idList = IdList({RootItem(), DriveItem("C:\\"), FileItem(0x32, "tool.exe")});
    info.linkInfo = LinkInfo("C:\\Tools\\", "tool.exe");
    info.relative = L"tool.exe";
    info.extra = EnvironmentBlock(L"%ProgramFiles%\\tool.exe");
    Bytes whole = info.Write();
    ASSERT_EQ(TargetOf(whole), L"%ProgramFiles%\\tool.exe");
    // Cut anywhere: whatever is whole before the cut still names the target (the terminal block is
    // not needed).
    size_t idEnd = 0x4C + 2 + info.idList.size();
    for (size_t length = 0; length < whole.size(); ++length) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        std::wstring target = TargetOf(cut);
        if (length < idEnd) EXPECT_EQ(target, L"<none>") << length;
        else if (length >= whole.size() - 4) EXPECT_EQ(target, L"%ProgramFiles%\\tool.exe") << length;
        else if (length >= idEnd + info.linkInfo.size()) EXPECT_EQ(target, L"C:\\Tools\\tool.exe") << length;
        else EXPECT_EQ(target, L"C:\\tool.exe") << length;
    }
    // Sizes that point past the end, and every byte flipped in turn.
    Bytes huge = whole;
    huge[0x4C] = 0xFF;
    huge[0x4D] = 0xFF;
    EXPECT_EQ(TargetOf(huge), L"<none>");
    for (size_t i = 0; i < whole.size(); ++i) {
        Bytes flipped = whole;
        flipped[i] ^= 0xFF;
        TargetOf(flipped);
    }
    Bytes notALink(200, 0x41);
    EXPECT_EQ(TargetOf(notALink), L"<none>");
}

TEST(OfflineShellLink, TheBackendsShellLinkLoadsShortcutsFromTheImage) {
    test::TestImage image;
    image.Write();
    Link link;
    link.flags = 0x2;
    link.linkInfo = LinkInfo("C:\\Windows\\", "notepad.exe");
    test::WriteFileBytes(image.Root() + L"\\Users\\bob\\Startup\\Note.lnk", link.Write());
    DWORD error = 0;
    auto backend = platform::offline::OfflineBackend::Open({image.Root(), L"", true}, error);
    ASSERT_NE(backend, nullptr);
    platform::ScopedBackend scope(*backend);

    platform::ComPtr<IShellLinkW> shell;
    ASSERT_EQ(platform::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         shell.PutVoid()),
              S_OK);
    platform::ComPtr<IPersistFile> file;
    ASSERT_EQ(shell->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
    EXPECT_EQ(file->Load(L"C:\\users\\BOB\\startup\\note.LNK", STGM_READ), S_OK);
    EXPECT_EQ(shell->Resolve(nullptr, 0), S_OK);
    wchar_t target[MAX_PATH];
    ASSERT_EQ(shell->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH), S_OK);
    EXPECT_EQ(std::wstring(target), L"C:\\Windows\\notepad.exe");
    EXPECT_EQ(shell->SetPath(L"C:\\x.exe"), E_ACCESSDENIED);
    EXPECT_EQ(file->Save(nullptr, TRUE), E_ACCESSDENIED);

    EXPECT_TRUE(FAILED(file->Load(L"C:\\Users\\bob\\Startup\\gone.lnk", STGM_READ)));
    EXPECT_EQ(shell->Resolve(nullptr, 0), E_FAIL);
    EXPECT_EQ(platform::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IUnknown, shell.PutVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST(OfflineShellLink, AnImagesStartupFoldersListTheirShortcutsWithTheTargetsInTheImage) {
    test::TestImage image;
    image.software.Key(L"Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        .String(L"Common Startup", L"C:\\ProgramData\\Startup");
    auto& bob = image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    bob.user.Key(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        .String(L"Startup", L"C:\\Users\\bob\\Startup");
    image.Write();
    Link common;
    common.flags = 0x2;
    common.linkInfo = LinkInfo("C:\\Tools\\", "common.exe");
    Link user;
    user.flags = 0x1;
    user.idList = IdList({RootItem(), DriveItem("C:\\"), FileItem(0x31, "Tools"), FileItem(0x32, "user.exe")});
    test::WriteFileBytes(image.Root() + L"\\ProgramData\\Startup\\Common.lnk", common.Write());
    test::WriteFileBytes(image.Root() + L"\\Users\\bob\\Startup\\User.lnk", user.Write());
    test::WriteFileBytes(image.Root() + L"\\Tools\\common.exe", {'M', 'Z'});
    test::WriteFileBytes(image.Root() + L"\\Tools\\user.exe", {'M', 'Z'});
    auto before = test::Snapshot(image.Root());

    ZV_OFFLINE_SETTINGS settings{sizeof(settings), 0, image.Root().c_str(), nullptr};
    platform::ComPtr<IZVAutorunScanner> scanner;
    ASSERT_EQ(ZVAtrunCreateOfflineObject(&settings, &IID_IZVAutorunScanner, scanner.PutVoid()), S_OK);
    ZV_SCAN_SETTINGS scan{sizeof(scan), 0, {}};
    ASSERT_EQ(scanner->StartScan(&scan), S_OK);
    std::vector<std::pair<std::wstring, std::wstring>> shortcuts;  // the shortcut, its first file
    IZVAutorunItemEx* item = nullptr;
    while (scanner->NextItem(&item)) {
        auto owned = platform::ComPtr<IZVAutorunItemEx>::Attach(item);
        platform::ComPtr<IZVAutorunItem_ShortCut> shortcut;
        if (FAILED(item->QueryInterface(IID_IZVAutorunItem_ShortCut, shortcut.PutVoid()))) continue;
        shortcuts.emplace_back(shortcut->GetFilePath(), item->GetFileCount() ? item->GetFile(0) : L"<none>");
    }
    scanner.Reset();
    std::sort(shortcuts.begin(), shortcuts.end());
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"C:\\ProgramData\\Startup\\Common.lnk", L"C:\\Tools\\common.exe"},
        {L"C:\\Users\\bob\\Startup\\User.lnk", L"C:\\Tools\\user.exe"},
    };
    EXPECT_EQ(shortcuts, expected);
    EXPECT_EQ(test::Snapshot(image.Root()), before);
}

}  // namespace
