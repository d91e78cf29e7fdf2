// The uninstall entry in the current user's registry and the shell links, read back through the platform.
#include <gtest/gtest.h>

#include <shobjidl.h>

#include <functional>

#include "app/app_state.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "test_support.h"

namespace {

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

RegistryValue readValue(const wchar_t* name) {
    RegistryValue value;
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &rawKey) != ERROR_SUCCESS) return value;
    UniqueRegKey key(rawKey);
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
    value.bytes.resize(size);
    RegQueryValueExW(key.get(), name, nullptr, &value.type, value.bytes.data(), &size);
    return value;
}

// The value must be REG_SZ with exactly the text and its terminating null.
void expectText(const wchar_t* name, const std::wstring& text) {
    const RegistryValue value = readValue(name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name;
    ASSERT_EQ(value.bytes.size(), (text.size() + 1) * sizeof(wchar_t)) << name;
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(value.bytes.data()), text.size()), text) << name;
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(value.bytes.data())[text.size()], L'\0') << name;
}

void expectNumber(const wchar_t* name, DWORD number) {
    const RegistryValue value = readValue(name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << name;
    ASSERT_EQ(value.bytes.size(), sizeof(DWORD)) << name;
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(value.bytes.data()), number) << name;
}

struct EntryCase {
    const wchar_t* installDir;
    const char* version;  // UTF-8, as in the manifest
    const wchar_t* expectedVersion;
    uint64_t installedSize;
    const wchar_t* expectedFolder;  // installDir without a trailing backslash
    DWORD estimatedSizeKb;
};

const EntryCase kEntryCases[] = {
    {L"C:\\Apps\\Maketor\\", "1.4.2", L"1.4.2", 3000000, L"C:\\Apps\\Maketor", 2929},
    {L"C:\\Apps\\Maketor", "1.4.2", L"1.4.2", 3000000, L"C:\\Apps\\Maketor", 2929},
    {L"C:\\Программы\\Макетор", "2.0-бета", L"2.0-бета", 1023, L"C:\\Программы\\Макетор", 0},
    // Beyond 4 TiB the size in KiB keeps its low 32 bits.
    {L"D:\\M", "9", L"9", (uint64_t{1} << 42) + 5 * 1024, L"D:\\M", 5},
};

TEST(UninstallEntry, WritesTheElevenValues) {
    for (const EntryCase& c : kEntryCases) {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        Manifest manifest;
        manifest.version = c.version;
        writeUninstallEntry(c.installDir, manifest, c.installedSize);

        const std::wstring folder = c.expectedFolder;
        expectText(L"DisplayName", L"Макетор — Торвел");
        expectText(L"DisplayVersion", c.expectedVersion);
        expectText(L"Publisher", L"Торвел");
        expectText(L"URLInfoAbout", L"https://maketor.example/");
        expectText(L"InstallLocation", c.installDir);
        expectText(L"DisplayIcon", folder + L"\\maketor.exe");
        expectText(L"UninstallString", L"\"" + folder + L"\\setup.exe\" /uninstall");
        expectText(L"ModifyPath", L"\"" + folder + L"\\setup.exe\"");
        expectNumber(L"EstimatedSize", c.estimatedSizeKb);
        expectNumber(L"NoModify", 0);
        expectNumber(L"NoRepair", 1);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
}

TEST(UninstallEntry, AnUpdateRewritesTheValuesAndKeepsForeignOnes) {
    RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
    const std::wstring installDir = L"C:\\Apps\\Maketor";
    Manifest first;
    first.version = "1.0";
    writeUninstallEntry(installDir, first, 10 * 1024);
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_WRITE, &rawKey), ERROR_SUCCESS);
    {
        UniqueRegKey key(rawKey);
        const wchar_t older[] = L"old";
        RegSetValueExW(key.get(), L"Comments", 0, REG_SZ, reinterpret_cast<const BYTE*>(older), sizeof(older));
    }
    Manifest second;
    second.version = "1.1";
    writeUninstallEntry(installDir, second, 20 * 1024);
    expectText(L"DisplayVersion", L"1.1");
    expectNumber(L"EstimatedSize", 20);
    expectText(L"Comments", L"old");
    RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
}

void writeInstallLocation(DWORD type, const void* data, DWORD size) {
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &rawKey, nullptr),
              ERROR_SUCCESS);
    UniqueRegKey key(rawKey);
    if (data == nullptr) return;
    ASSERT_EQ(RegSetValueExW(key.get(), L"InstallLocation", 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
}

void writeInstallLocation(const std::wstring& text) {
    writeInstallLocation(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

TEST(UninstallEntry, BelongsOnlyToTheFolderItNames) {
    const std::wstring folder = L"C:\\Программы\\Торвел\\Макетор";
    // Longer than any fixed buffer would take: the whole value is compared.
    const std::wstring deep = L"C:\\" + std::wstring(300, L'п') + L"\\" + std::wstring(300, L'к');
    const DWORD number = 1;
    const struct {
        const char* name;
        std::function<void()> write;  // the entry as found; the key is deleted before each case
        std::wstring installDir;
        bool belongs;
    } cases[] = {
        {"no entry", [] {}, folder, true},
        {"an entry without the value", [] { writeInstallLocation(REG_SZ, nullptr, 0); }, folder, true},
        {"an empty value", [] { writeInstallLocation(L""); }, folder, true},
        {"the same folder", [&] { writeInstallLocation(folder); }, folder, true},
        {"with a trailing backslash", [&] { writeInstallLocation(folder + L"\\"); }, folder, true},
        {"asked with a trailing backslash", [&] { writeInstallLocation(folder); }, folder + L"\\", true},
        {"in other letter case", [&] { writeInstallLocation(L"c:\\ПРОГРАММЫ\\торвел\\МАКЕТОР"); }, folder, true},
        {"with forward slashes", [&] { writeInstallLocation(L"C:/Программы/Торвел/Макетор"); }, folder, true},
        {"a long folder", [&] { writeInstallLocation(deep); }, deep, true},
        {"another folder", [] { writeInstallLocation(L"D:\\Maketor"); }, folder, false},
        {"a folder below", [&] { writeInstallLocation(folder + L"\\bin"); }, folder, false},
        {"the folder above", [] { writeInstallLocation(L"C:\\Программы\\Торвел"); }, folder, false},
        {"a folder whose name goes on", [&] { writeInstallLocation(folder + L"2"); }, folder, false},
        {"a long folder, one letter off", [&] { writeInstallLocation(deep + L"x"); }, deep, false},
        {"a value that is not text", [&] { writeInstallLocation(REG_DWORD, &number, sizeof(number)); }, folder, false},
    };
    for (const auto& c : cases) {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        c.write();
        EXPECT_EQ(uninstallEntryBelongsTo(c.installDir), c.belongs) << c.name;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
}

TEST(Shortcut, ReadsBackTargetWorkingFolderDescriptionAndIcon) {
    ComApartment com;
    const std::wstring folder = makeScratchFolder(L"link");
    const std::wstring installDir = folder + L"\\Макетор";
    CreateDirectoryW(installDir.c_str(), nullptr);
    const std::wstring target = installDir + L"\\maketor.exe";
    ASSERT_TRUE(writeFileBytes(target, "MZ"));
    const std::wstring linkPath = folder + L"\\" + shortcutName;
    createShortcut(linkPath, target);
    ASSERT_TRUE(pathExists(linkPath));

    ComPtr<IShellLinkW> link;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           link.putVoid())));
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid())));
    ASSERT_TRUE(SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ)));
    wchar_t text[MAX_PATH] = {};
    // The target as the link stores it, its item id list (Wine's GetPath passes it through the ANSI code
    // page and loses the Cyrillic folder name).
    PIDLIST_ABSOLUTE rawList = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->GetIDList(&rawList)));
    std::unique_ptr<ITEMIDLIST_ABSOLUTE, CoTaskMemFreer> targetList(rawList);
    ASSERT_TRUE(SHGetPathFromIDListW(targetList.get(), text));
    EXPECT_EQ(std::wstring(text), target);
    ASSERT_TRUE(SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)));
    EXPECT_EQ(std::wstring(text), installDir);
    ASSERT_TRUE(SUCCEEDED(link->GetDescription(text, MAX_PATH)));
    EXPECT_EQ(std::wstring(text), L"3D-макетор магазина — Торвел");
    int iconIndex = -1;
    ASSERT_TRUE(SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &iconIndex)));
    EXPECT_EQ(std::wstring(text), target);
    EXPECT_EQ(iconIndex, 0);
    ASSERT_TRUE(SUCCEEDED(link->GetArguments(text, MAX_PATH)));
    EXPECT_EQ(std::wstring(text), L"");
    removeTree(folder);
}

TEST(Shortcut, TargetReadBackThroughTheShellLink) {
    ComApartment com;
    const std::wstring folder = makeScratchFolder(L"target");
    const std::wstring cyrillic = folder + L"\\Мой Макетор\\maketor.exe";
    const std::wstring missing = folder + L"\\never-created\\maketor.exe";
    CreateDirectoryW(parentFolder(cyrillic).c_str(), nullptr);
    ASSERT_TRUE(writeFileBytes(cyrillic, "MZ"));
    const struct {
        const char* name;
        std::function<void(const std::wstring& link)> make;
        std::wstring target;
    } cases[] = {
        {"a target in a Cyrillic folder", [&](const std::wstring& link) { createShortcut(link, cyrillic); }, cyrillic},
        {"a target that does not exist", [&](const std::wstring& link) { createShortcut(link, missing); }, missing},
        {"a file that is not a link", [](const std::wstring& link) { writeFileBytes(link, "old link"); }, L""},
        {"an empty file", [](const std::wstring& link) { writeFileBytes(link, ""); }, L""},
        {"no file", [](const std::wstring&) {}, L""},
    };
    for (const auto& c : cases) {
        const std::wstring link = folder + L"\\" + shortcutName;
        DeleteFileW(link.c_str());
        c.make(link);
        EXPECT_EQ(shortcutTarget(link), c.target) << c.name;
    }
    removeTree(folder);
}

TEST(Shortcut, AnEmptyLinkPathWritesNothing) {
    ComApartment com;
    const std::wstring folder = makeScratchFolder(L"nolink");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str());
    createShortcut(L"", folder + L"\\maketor.exe");
    SetCurrentDirectoryW(previous);
    WIN32_FIND_DATAW entry{};
    UniqueFind listing(FindFirstFileW((folder + L"\\*.lnk").c_str(), &entry));
    EXPECT_EQ(listing.get(), INVALID_HANDLE_VALUE);
    removeTree(folder);
}

TEST(KnownFolders, ResolvedFoldersAndLinkPaths) {
    ComApartment com;
    const std::wstring desktop = knownFolderPath(FOLDERID_Desktop);
    ASSERT_FALSE(desktop.empty());
    EXPECT_NE(GetFileAttributesW(desktop.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(linkPathIn(FOLDERID_Desktop, shortcutName), desktop + L"\\" + shortcutName);
    // A folder id the shell does not know resolves to nothing, and so does a link in it.
    const KNOWNFOLDERID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(knownFolderPath(unknown), L"");
    EXPECT_EQ(linkPathIn(unknown, shortcutName), L"");
}

}  // namespace
