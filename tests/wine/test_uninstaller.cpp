// The uninstaller on real folders, shortcuts and registry of the Wine prefix.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/uninstaller.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/setup_log.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

bool registryEntryExists() {
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &rawKey) != ERROR_SUCCESS) return false;
    RegCloseKey(rawKey);
    return true;
}

void createRegistryEntry() {
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &rawKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(rawKey);
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    SHGetKnownFolderPath(id, 0, nullptr, &raw);
    CoTaskString path(raw);
    return path ? std::wstring(path.get()) : std::wstring();
}

std::wstring userDataFolder() { return knownFolder(FOLDERID_LocalAppData) + L"\\Torvel\\Maketor"; }

class Uninstaller : public ::testing::Test, public ScratchInstallFolder {
protected:
    Uninstaller() : ScratchInstallFolder(L"uninstall") {}
    void SetUp() override {
        appState.installDir = installDir;
        appState.removeUserData = false;
        appState.phase.store(Running);
        createRegistryEntry();
    }
    void TearDown() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        appState.removeUserData = false;
        appState.installDir.clear();
        appState.phase.store(Ready);
    }

    void place(const std::wstring& relative, const std::string& bytes = "x") {
        ASSERT_TRUE(ScratchInstallFolder::place(relative, bytes));
    }
    // An installation as the install run leaves it, plus record keys that lead out of the folder.
    void placeInstallation() {
        place(L"maketor.exe", "MZ");
        place(L"setup.exe", "MZ");
        place(L"fonts\\main.ttf");
        place(L"images\\logo.png");
        place(L"handmodels\\left.onnx");
        place(L"plugins\\render\\d3d.dll");
        const std::string victimUtf8 = toUtf8(victim);
        nlohmann::json files = {
            {"maketor.exe", "a"}, {"fonts/main.ttf", "b"}, {"images/logo.png", "c"}, {"handmodels/left.onnx", "d"},
            {"plugins/render/d3d.dll", "e"}, {"../victim.txt", "f"}, {"plugins/../../victim.txt", "g"},
            {victimUtf8, "h"}, {"/victim.txt", "i"}, {"\\victim.txt", "j"}, {".", "k"}, {"", "l"},
        };
        writeFileBytes(at(L"install.json"), nlohmann::json{{"files", files}}.dump());
    }
};

TEST_F(Uninstaller, RemovesTheInstallationButNothingOutsideIt) {
    placeInstallation();
    const std::string logBefore = readFileBytes(setupLogPath());
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(installDir));
    EXPECT_EQ(readFileBytes(victim), "not ours");
    EXPECT_FALSE(registryEntryExists());
    EXPECT_EQ(getStatus(), L"Удаление…");
    EXPECT_EQ(readFileBytes(setupLogPath()), logBefore + toUtf8(L"удалено из " + installDir) + "\r\n");
}

TEST_F(Uninstaller, AFileOfTheUserKeepsItsFolders) {
    placeInstallation();
    place(L"fonts\\mine.ttf", "user");
    place(L"plugins\\render\\mine.cfg", "user");
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_EQ(readFileBytes(at(L"fonts\\mine.ttf")), "user");
    EXPECT_FALSE(pathExists(at(L"fonts\\main.ttf")));
    EXPECT_EQ(readFileBytes(at(L"plugins\\render\\mine.cfg")), "user");
    EXPECT_FALSE(pathExists(at(L"plugins\\render\\d3d.dll")));
    EXPECT_FALSE(pathExists(at(L"images")));
    EXPECT_FALSE(pathExists(at(L"install.json")));
    EXPECT_FALSE(pathExists(at(L"setup.exe")));
    EXPECT_FALSE(pathExists(at(L"maketor.exe")));
}

TEST_F(Uninstaller, FoldersLeftEmptyAreRemovedUpToTheInstallationFolder) {
    place(L"a\\b\\c\\deep.dll");
    place(L"a\\keep\\mine.txt");
    writeFileBytes(at(L"install.json"), "{\"files\": {\"a/b/c/deep.dll\": \"x\"}}");
    uninstall();
    EXPECT_FALSE(pathExists(at(L"a\\b")));
    EXPECT_TRUE(pathExists(at(L"a\\keep\\mine.txt")));
}

TEST_F(Uninstaller, WithTheDataOptionEverythingGoes) {
    placeInstallation();
    place(L"fonts\\mine.ttf", "user");
    place(L"projects\\shop.mkt", "user");
    const std::wstring dataFolder = userDataFolder();
    SHCreateDirectoryExW(nullptr, dataFolder.c_str(), nullptr);
    ASSERT_TRUE(writeFileBytes(dataFolder + L"\\settings.ini", "a=1"));
    appState.removeUserData = true;
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(installDir));
    EXPECT_FALSE(pathExists(dataFolder));
    EXPECT_EQ(readFileBytes(victim), "not ours");
}

TEST_F(Uninstaller, TheDataOptionDoesNotTakeAFolderWithoutRecord) {
    place(L"fonts\\mine.ttf", "user");
    place(L"report.docx", "user");
    CreateDirectoryW(at(L"images").c_str(), nullptr);
    const std::wstring dataFolder = userDataFolder();
    SHCreateDirectoryExW(nullptr, dataFolder.c_str(), nullptr);
    appState.removeUserData = true;
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_EQ(readFileBytes(at(L"report.docx")), "user");
    EXPECT_EQ(readFileBytes(at(L"fonts\\mine.ttf")), "user");
    EXPECT_FALSE(pathExists(at(L"images")));
    EXPECT_FALSE(pathExists(dataFolder)) << "the per-user data folder still goes";
    EXPECT_FALSE(registryEntryExists());
}

TEST_F(Uninstaller, WithoutRecordOnlyEmptyFixedFoldersGo) {
    CreateDirectoryW(at(L"images").c_str(), nullptr);
    CreateDirectoryW(at(L"bench").c_str(), nullptr);
    place(L"basalt", "");  // a file of length 0 counts as empty
    place(L"fonts\\kept.ttf");
    place(L"other\\kept.txt");
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(at(L"images")));
    EXPECT_FALSE(pathExists(at(L"bench")));
    EXPECT_FALSE(pathExists(at(L"basalt")));
    EXPECT_TRUE(pathExists(at(L"fonts\\kept.ttf")));
    EXPECT_TRUE(pathExists(at(L"other\\kept.txt")));
    EXPECT_FALSE(registryEntryExists());
}

TEST_F(Uninstaller, ARunningApplicationStopsItBeforeAnythingIsRemoved) {
    placeInstallation();
    {
        UniqueHandle running(CreateFileW(at(L"maketor.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(running);
        uninstall();
        EXPECT_EQ(appState.phase.load(), Failed);
        EXPECT_EQ(getErrorText(), L"Макетор открыт — закройте его и нажмите «Повторить».");
        EXPECT_TRUE(pathExists(at(L"install.json")));
        EXPECT_TRUE(pathExists(at(L"fonts\\main.ttf")));
        EXPECT_TRUE(registryEntryExists());
    }
    appState.phase.store(Running);
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(installDir));
}

TEST_F(Uninstaller, AMissingFolderStillRemovesEntryAndShortcuts) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::wstring> links = {
        knownFolder(FOLDERID_Desktop) + L"\\" + shortcutName,
        knownFolder(FOLDERID_Programs) + L"\\" + shortcutName,
        knownFolder(FOLDERID_Desktop) + L"\\" + legacyShortcutNames[0],
        knownFolder(FOLDERID_Programs) + L"\\" + legacyShortcutNames[1],
    };
    for (const std::wstring& link : links) createShortcut(link, installDir + L"\\maketor.exe");
    for (const std::wstring& link : links) ASSERT_TRUE(pathExists(link));
    appState.installDir = outer + L"\\never-created";
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    for (const std::wstring& link : links) EXPECT_FALSE(pathExists(link));
    EXPECT_FALSE(registryEntryExists());
    EXPECT_EQ(readFileBytes(victim), "not ours");
    CoUninitialize();
}

TEST_F(Uninstaller, TheDataOptionNeverTakesAShellFolder) {
    // The folder Windows uses for per-user programs, pointed at as if it were the installation.
    const std::wstring programs = knownFolder(FOLDERID_LocalAppData) + L"\\Programs";
    const std::wstring otherApp = programs + L"\\Other\\app.exe";
    SHCreateDirectoryExW(nullptr, parentFolder(otherApp).c_str(), nullptr);
    ASSERT_TRUE(writeFileBytes(otherApp, "MZ"));
    ASSERT_TRUE(writeFileBytes(programs + L"\\install.json", "{\"files\": {}}"));
    appState.installDir = programs;
    appState.removeUserData = true;
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_EQ(readFileBytes(otherApp), "MZ");
    removeTree(programs + L"\\Other");
}

TEST(ProtectedFolders, ShellFoldersDriveRootsAndTheirAncestors) {
    const std::wstring scratch = makeScratchFolder(L"protect");
    const std::wstring profile = knownFolder(FOLDERID_Profile);
    const struct {
        std::wstring folder;
        bool isProtected;
    } cases[] = {
        {L"C:\\", true},
        {L"Z:\\", true},
        {profile, true},
        {profile + L"\\", true},
        {parentFolder(profile), true},  // holds the profile
        {knownFolder(FOLDERID_Desktop), true},
        {knownFolder(FOLDERID_Documents), true},
        {knownFolder(FOLDERID_LocalAppData), true},
        {knownFolder(FOLDERID_LocalAppData) + L"\\Programs", true},
        {knownFolder(FOLDERID_RoamingAppData), true},
        {knownFolder(FOLDERID_ProgramFiles), true},
        {knownFolder(FOLDERID_Windows), true},
        {scratch, false},
        {scratch + L"\\Torvel\\Maketor", false},
        {knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Torvel\\Maketor", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isProtectedFolder(c.folder), c.isProtected) << toUtf8(c.folder);
    removeTree(scratch);
}

}  // namespace
