// The image's files, environment, directories, version and special folders over image folders
// written by the tests: answered from the image as its own system would, never from the scanning
// machine, and in the image system's own paths.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "platform/offline/offline_backend.h"
#include "support/hive_writer.h"

namespace {

using platform::offline::ImageOptions;
using platform::offline::OfflineBackend;

constexpr wchar_t kCurrentVersion[] = L"Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kNtCurrentVersion[] = L"Microsoft\\Windows NT\\CurrentVersion";

std::unique_ptr<OfflineBackend> OpenImage(const test::TestImage& image) {
    DWORD error = 0;
    auto backend = OfflineBackend::Open(ImageOptions{image.Root(), L"", true}, error);
    EXPECT_NE(backend, nullptr) << error;
    return backend;
}

std::wstring Expanded(const wchar_t* text) {
    wchar_t buffer[512] = {};
    DWORD needed = platform::ExpandEnvironmentStringsW(text, nullptr, 0);
    if (needed == 0 || needed > 512 || platform::ExpandEnvironmentStringsW(text, buffer, 512) != needed)
        return L"<failed>";
    return buffer;
}

std::wstring LongPath(const wchar_t* path) {
    wchar_t buffer[512] = {};
    DWORD written = platform::GetLongPathNameW(path, buffer, 512);
    return written && written < 512 ? std::wstring(buffer, written) : L"<failed>";
}

std::wstring SpecialFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    return platform::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) ? buffer : L"<none>";
}

TEST(OfflineFiles, ImagePathsAreAnsweredFromTheImageFolderWithoutRegardToCase) {
    test::TestImage image;
    image.Write();
    test::WriteFileBytes(image.Root() + L"\\Windows\\System32\\Tool.exe", {'M', 'Z'});
    test::WriteFileBytes(image.Root() + L"\\Users\\bob\\Start Menu\\a.lnk", {1});
    test::WriteFileBytes(image.Root() + L"\\Users\\bob\\Start Menu\\b.txt", {2});
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);

    DWORD attributes = platform::GetFileAttributesW(L"c:\\WINDOWS\\system32\\tool.EXE");
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(platform::GetFileAttributesW(L"C:\\Windows\\System32") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(platform::GetFileAttributesW(L"C:\\Windows\\.\\Temp\\..\\System32\\Tool.exe"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(platform::GetFileAttributesW(L"\\\\?\\C:\\Windows\\System32\\Tool.exe"), INVALID_FILE_ATTRIBUTES);
    // Above the image's root there is nothing more of it.
    EXPECT_NE(platform::GetFileAttributesW(L"C:\\..\\..\\Windows\\System32\\Tool.exe"), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(platform::GetFileAttributesW(L"C:\\Windows\\System32\\gone.exe"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // The image folder itself, by the scanning machine's path, is not on the image's C:.
    std::wstring hostPath = image.Root() + L"\\Windows\\System32\\Tool.exe";
    if (hostPath[0] != L'C' && hostPath[0] != L'c') {
        EXPECT_EQ(platform::GetFileAttributesW(hostPath.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_EQ(platform::GetFileAttributesW(L"D:\\Windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(platform::GetFileAttributesW(L"\\\\server\\share\\x.exe"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(platform::GetFileAttributesW(L"Windows\\System32\\Tool.exe"), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(LongPath(L"C:\\windows\\SYSTEM32\\Tool.exe").substr(0, 3), L"C:\\");
    EXPECT_EQ(_wcsicmp(LongPath(L"C:\\windows\\SYSTEM32\\Tool.exe").c_str(), L"C:\\Windows\\System32\\Tool.exe"), 0);

    wchar_t full[MAX_PATH];
    ASSERT_GT(platform::GetFullPathNameW(L"\\Windows\\System32\\..\\notepad.exe", MAX_PATH, full, nullptr), 0u);
    EXPECT_EQ(std::wstring(full), L"C:\\Windows\\notepad.exe");
    EXPECT_EQ(platform::GetFullPathNameW(L"notepad.exe", MAX_PATH, full, nullptr), 0u);

    HANDLE file = platform::CreateFileW(L"C:\\WINDOWS\\System32\\TOOL.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char bytes[4] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), "MZ");
    platform::CloseHandle(file);

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = platform::FindFirstFileW(L"C:\\users\\BOB\\start menu\\*.lnk", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do names.push_back(data.cFileName);
    while (platform::FindNextFileW(find, &data));
    platform::FindClose(find);
    EXPECT_EQ(names, std::vector<std::wstring>{L"a.lnk"});
}

TEST(OfflineFiles, TheEnvironmentAndDirectoriesAreTheImagesOwn) {
    test::TestImage image;
    image.software.Key(kNtCurrentVersion).String(L"SystemRoot", L"C:\\WINNT");
    image.software.Key(kCurrentVersion)
        .String(L"ProgramFilesDir", L"C:\\Programme")
        .String(L"ProgramFilesDir (x86)", L"C:\\Programme (x86)")
        .String(L"CommonFilesDir", L"%ProgramFiles%\\Gemeinsame Dateien", REG_EXPAND_SZ);
    image.software.Key(std::wstring(kNtCurrentVersion) + L"\\ProfileList")
        .String(L"ProgramData", L"%SystemDrive%\\ProgramData", REG_EXPAND_SZ);
    image.system.Key(L"Select").Dword(L"Current", 1);
    image.system.Key(L"ControlSet001\\Control\\Session Manager\\Environment")
        .String(L"windir", L"%SystemRoot%", REG_EXPAND_SZ)
        .String(L"ToolHome", L"%ProgramFiles%\\Tool", REG_EXPAND_SZ)
        .String(L"Path", L"%SystemRoot%\\system32", REG_EXPAND_SZ)
        .String(L"Plain", L"%ToolHome%");
    auto& bob = image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    bob.user.Key(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
        .String(L"AppData", L"%USERPROFILE%\\AppData\\Roaming", REG_EXPAND_SZ)
        .String(L"Local AppData", L"%USERPROFILE%\\AppData\\Local", REG_EXPAND_SZ);
    bob.user.Key(L"Environment")
        .String(L"TEMP", L"%USERPROFILE%\\AppData\\Local\\Temp", REG_EXPAND_SZ)
        .String(L"Path", L"%LOCALAPPDATA%\\bin", REG_EXPAND_SZ);
    image.Write();
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);

    EXPECT_EQ(Expanded(L"%SystemRoot%\\system32\\cmd.exe"), L"C:\\WINNT\\system32\\cmd.exe");
    EXPECT_EQ(Expanded(L"%WINDIR%|%SystemDrive%"), L"C:\\WINNT|C:");
    EXPECT_EQ(Expanded(L"%ProgramFiles%|%ProgramFiles(x86)%"), L"C:\\Programme|C:\\Programme (x86)");
    EXPECT_EQ(Expanded(L"%CommonProgramFiles%"), L"C:\\Programme\\Gemeinsame Dateien");
    EXPECT_EQ(Expanded(L"%ProgramData%|%ALLUSERSPROFILE%"), L"C:\\ProgramData|C:\\ProgramData");
    EXPECT_EQ(Expanded(L"%USERPROFILE%|%APPDATA%|%LOCALAPPDATA%|%TEMP%"),
              L"C:\\Users\\bob|C:\\Users\\bob\\AppData\\Roaming|C:\\Users\\bob\\AppData\\Local|"
              L"C:\\Users\\bob\\AppData\\Local\\Temp");
    // REG_SZ values are set before REG_EXPAND_SZ ones are expanded: a plain value stays as written.
    EXPECT_EQ(Expanded(L"%ToolHome%|%Plain%"), L"C:\\Programme\\Tool|%ToolHome%");
    EXPECT_EQ(Expanded(L"%Path%"), L"C:\\WINNT\\system32;C:\\Users\\bob\\AppData\\Local\\bin");
    // What is not defined stays as written, and a lone % opens nothing.
    EXPECT_EQ(Expanded(L"%Undefined%\\x 100%"), L"%Undefined%\\x 100%");
    EXPECT_EQ(Expanded(L"50%%SystemDrive%"), L"50%C:");

    DWORD needed = platform::ExpandEnvironmentStringsW(L"%SystemRoot%", nullptr, 0);
    EXPECT_EQ(needed, 9u);
    wchar_t small[4];
    EXPECT_EQ(platform::ExpandEnvironmentStringsW(L"%SystemRoot%", small, 4), 9u);

    wchar_t directory[MAX_PATH];
    EXPECT_EQ(platform::GetWindowsDirectoryW(directory, MAX_PATH), 8u);
    EXPECT_EQ(std::wstring(directory), L"C:\\WINNT");
    EXPECT_EQ(platform::GetSystemDirectoryW(directory, MAX_PATH), 17u);
    EXPECT_EQ(std::wstring(directory), L"C:\\WINNT\\system32");
    EXPECT_EQ(platform::GetSystemDirectoryW(directory, 5), 18u);
}

TEST(OfflineFiles, WithoutItsRegistryTheImageStillHasItsOwnWindowsFolder) {
    test::TestImage image;
    image.Write({L"SOFTWARE"});
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);
    EXPECT_EQ(Expanded(L"%SystemRoot%|%ProgramFiles%"), L"C:\\Windows|%ProgramFiles%");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    EXPECT_FALSE(platform::GetVersionExW(&version));
}

TEST(OfflineFiles, TheVersionIsReadFromTheImagesSoftwareHive) {
    struct Case {
        std::vector<std::pair<std::wstring, std::wstring>> strings;
        DWORD major, minor;  // as CurrentMajor/MinorVersionNumber, none when major is 0
        DWORD expectMajor, expectMinor, expectBuild;
        std::wstring expectServicePack;
    };
    const Case cases[] = {
        {{{L"CurrentVersion", L"6.3"}, {L"CurrentBuildNumber", L"19045"}}, 10, 0, 10, 0, 19045, L""},
        {{{L"CurrentVersion", L"6.1"}, {L"CurrentBuildNumber", L"7601"}, {L"CSDVersion", L"Service Pack 1"}},
         0, 0, 6, 1, 7601, L"Service Pack 1"},
        {{{L"CurrentVersion", L"5.1"}, {L"CurrentBuildNumber", L"2600"}}, 0, 0, 5, 1, 2600, L""},
    };
    for (const Case& c : cases) {
        test::TestImage image;
        auto& key = image.software.Key(kNtCurrentVersion);
        for (const auto& s : c.strings) key.String(s.first, s.second);
        if (c.major) key.Dword(L"CurrentMajorVersionNumber", c.major).Dword(L"CurrentMinorVersionNumber", c.minor);
        image.Write();
        auto backend = OpenImage(image);
        platform::ScopedBackend scope(*backend);
        OSVERSIONINFOEXW version{};
        version.dwOSVersionInfoSize = sizeof version;
        ASSERT_TRUE(platform::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
        EXPECT_EQ(version.dwMajorVersion, c.expectMajor);
        EXPECT_EQ(version.dwMinorVersion, c.expectMinor);
        EXPECT_EQ(version.dwBuildNumber, c.expectBuild);
        EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
        EXPECT_EQ(std::wstring(version.szCSDVersion), c.expectServicePack);
    }
}

TEST(OfflineFiles, SpecialFoldersAreTheImagesShellFolders) {
    test::TestImage image;
    image.software.Key(kNtCurrentVersion).String(L"SystemRoot", L"C:\\Windows");
    image.software.Key(L"Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
        .String(L"Common Startup", L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp", REG_EXPAND_SZ);
    image.software.Key(std::wstring(kNtCurrentVersion) + L"\\ProfileList")
        .String(L"ProgramData", L"%SystemDrive%\\ProgramData", REG_EXPAND_SZ);
    auto& bob = image.AddProfile(L"S-1-5-21-9-1000", L"bob", 0x01D00001);
    bob.user.Key(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
        .String(L"Startup", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                REG_EXPAND_SZ);
    bob.user.Key(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        .String(L"Start Menu", L"C:\\Users\\bob\\Start Menu");
    image.Write();
    auto backend = OpenImage(image);
    platform::ScopedBackend scope(*backend);

    EXPECT_EQ(SpecialFolder(CSIDL_STARTUP), L"C:\\Users\\bob\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
    EXPECT_EQ(SpecialFolder(CSIDL_COMMON_STARTUP), L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp");
    EXPECT_EQ(SpecialFolder(CSIDL_STARTMENU), L"C:\\Users\\bob\\Start Menu");
    EXPECT_EQ(SpecialFolder(CSIDL_SYSTEM | CSIDL_FLAG_DONT_VERIFY), L"C:\\Windows\\system32");
    EXPECT_EQ(SpecialFolder(CSIDL_WINDOWS), L"C:\\Windows");
    EXPECT_EQ(SpecialFolder(CSIDL_PROFILE), L"C:\\Users\\bob");
    EXPECT_EQ(SpecialFolder(CSIDL_COMMON_PROGRAMS), L"<none>");
    wchar_t buffer[MAX_PATH];
    EXPECT_FALSE(platform::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_STARTUP, TRUE));
}

}  // namespace
