// Hive files written by the tests from the published regf layout: a key tree with its values,
// subkey lists in the form asked for, big data, class names and one shared security cell. Also an
// image folder of the shape an offline scan reads (Windows\System32\config, Users\<name>).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

struct HiveValue {
    std::wstring name;
    DWORD type = REG_SZ;
    std::vector<uint8_t> data;
};

struct HiveKey {
    std::wstring name;
    std::wstring className;
    std::vector<HiveValue> values;
    std::vector<HiveKey> subkeys;

    HiveKey& Key(const std::wstring& path);  // creates the path's keys below this one
    HiveKey& String(const std::wstring& valueName, const std::wstring& text, DWORD type = REG_SZ);
    HiveKey& Dword(const std::wstring& valueName, DWORD value);
};

enum class ListForm { Li, Lf, Lh, RiOfLh, RiOfLi };

struct HiveLayout {
    ListForm form = ListForm::Lh;
    uint32_t leafSize = 3;  // subkeys per leaf list under an ri
    uint32_t minor = 5;
    bool asciiNames = true;  // names without characters over 0xFF are stored compressed
    uint32_t primarySequence = 1, secondarySequence = 1;
    FILETIME lastWritten{0x10000000, 0x01D00000};
};

std::vector<uint8_t> WriteHive(const HiveKey& root, const HiveLayout& layout = {});

// Bytes of text as REG_SZ stores it, with the terminator.
std::vector<uint8_t> TextBytes(const std::wstring& text);

// Writes bytes to path, creating the folders above it.
void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);

// A fresh, unique folder under the temporary folder; removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// Every file under folder with its bytes, for checking that nothing changed.
std::vector<std::pair<std::wstring, std::vector<uint8_t>>> Snapshot(const std::wstring& folder);

}  // namespace test

namespace test {

// An image folder of the shape an offline scan reads: hives under Windows\System32\config and in
// the profiles' folders, the profiles listed in SOFTWARE's ProfileList.
class TestImage {
public:
    TestImage();
    const std::wstring& Root() const { return folder_.Path(); }
    HiveKey software{L"ROOT", {}, {}, {}}, system{L"ROOT", {}, {}, {}}, defaultUser{L"ROOT", {}, {}, {}};
    struct Profile {
        std::wstring sid, folder;  // folder: under Users
        HiveKey user{L"ROOT", {}, {}, {}}, classes{L"ROOT", {}, {}, {}};
        bool hasClasses = true;
        FILETIME written{};
    };
    std::vector<Profile> profiles;
    Profile& AddProfile(const std::wstring& sid, const std::wstring& folder, DWORD writtenHigh);
    // Writes every hive; the ones named in skip ("SOFTWARE", "SYSTEM", "DEFAULT") are left out.
    void Write(const std::vector<std::wstring>& skip = {});
    std::wstring ConfigPath(const std::wstring& hive) const { return Root() + L"\\Windows\\System32\\config\\" + hive; }

private:
    TempFolder folder_;
};

}  // namespace test
