// The uninstaller on real folders, shortcuts and registry of the Wine prefix.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/uninstaller.h"
#include "engine/staged_commit.h"
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

// Every place the uninstaller looks for a shortcut: each name in the Start menu and on the desktop.
std::vector<std::wstring> everyShortcutPath() {
    std::vector<std::wstring> links;
    for (const KNOWNFOLDERID* folder : {&FOLDERID_Programs, &FOLDERID_Desktop}) {
        links.push_back(knownFolder(*folder) + L"\\" + shortcutName);
        for (const wchar_t* name : legacyShortcutNames) links.push_back(knownFolder(*folder) + L"\\" + name);
    }
    return links;
}

void setInstallLocation(const std::wstring& folder) {
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_WRITE, &rawKey), ERROR_SUCCESS);
    UniqueRegKey key(rawKey);
    RegSetValueExW(key.get(), L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

class Uninstaller : public ::testing::Test, public ScratchInstallFolder {
protected:
    Uninstaller() : ScratchInstallFolder(L"uninstall") {}
    void SetUp() override {
        appState.installDir = installDir;
        appState.removeUserData = false;
        appState.phase.store(Running);
        appState.lockWaitMs = 1500;  // a file that stays on purpose need not hold a case up for long
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);  // an entry another suite left in this prefix
        createRegistryEntry();
    }
    void TearDown() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        appState.removeUserData = false;
        appState.lockWaitMs = kLockWaitMs;
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

// What an interrupted run leaves: blobs kept for its retry and ".new" files beside recorded ones.
TEST_F(Uninstaller, LeftoversOfAnInterruptedRunGo) {
    placeInstallation();
    place(L"maketor.exe.new", "MZ2");
    place(L"plugins\\render\\d3d.dll.new", "half");
    place(L"update-cache\\0123.lzms", "blob");
    place(L"update-cache\\4567.lzms.part", "bl");
    place(L".new", "user");  // beside the record's empty key, which names no file
    place(L"notes.new", "user");
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(at(L"maketor.exe.new")));
    EXPECT_FALSE(pathExists(at(L"plugins")));
    EXPECT_FALSE(pathExists(at(L"update-cache")));
    EXPECT_EQ(readFileBytes(at(L".new")), "user");
    EXPECT_EQ(readFileBytes(at(L"notes.new")), "user");
}

TEST_F(Uninstaller, ACommitAKillInterruptedGoesWithTheInstallation) {
    placeInstallation();
    place(L"data\\added.bin.new", "staged, not yet in the record");
    place(L"maketor.exe.new", "MZ2");
    CommitJournal journal;
    journal.renames = {"data/added.bin", "maketor.exe", "../victim.txt"};
    journal.recordText = "{}";
    ASSERT_TRUE(writeCommitJournal(installDir, journal));
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(at(L"data")));
    EXPECT_FALSE(pathExists(at(commitJournalName)));
    EXPECT_EQ(readFileBytes(victim), "not ours");
    EXPECT_FALSE(pathExists(installDir)) << "nothing of ours is left";
}

TEST_F(Uninstaller, AFirstInstallThatFailedLeavesNothingBehind) {
    place(L"update-cache\\0123.lzms", "blob");
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(installDir));
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

TEST_F(Uninstaller, AMissingFolderStillRemovesItsEntryAndShortcuts) {
    ComApartment com;
    const std::wstring missing = outer + L"\\never-created";
    const std::vector<std::wstring> links = everyShortcutPath();
    for (const std::wstring& link : links) createShortcut(link, missing + L"\\maketor.exe");
    for (const std::wstring& link : links) ASSERT_TRUE(pathExists(link));
    setInstallLocation(missing);
    appState.installDir = missing;
    uninstall();
    EXPECT_EQ(appState.phase.load(), Done);
    for (const std::wstring& link : links) EXPECT_FALSE(pathExists(link));
    EXPECT_FALSE(registryEntryExists());
    EXPECT_EQ(readFileBytes(victim), "not ours");
}

TEST_F(Uninstaller, AnotherFolderLeavesTheInstallationsEntryAndShortcuts) {
    ComApartment com;
    placeInstallation();
    const std::wstring other = outer + L"\\Другая папка";
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    const std::vector<std::wstring> links = everyShortcutPath();
    for (const std::wstring& link : links) createShortcut(link, at(L"maketor.exe"));
    setInstallLocation(installDir);
    for (const std::wstring& folder : {other, outer + L"\\never-created", outer, at(L"fonts")}) {
        appState.installDir = folder;
        uninstall();
        EXPECT_EQ(appState.phase.load(), Done) << toUtf8(folder);
        for (const std::wstring& link : links) EXPECT_TRUE(pathExists(link)) << toUtf8(folder + L" " + link);
        EXPECT_TRUE(registryEntryExists()) << toUtf8(folder);
        EXPECT_TRUE(pathExists(at(L"install.json"))) << toUtf8(folder);
    }
    // The installation itself, named the way a user might type it.
    appState.installDir = outer + L"\\MAKETOR\\";
    uninstall();
    for (const std::wstring& link : links) EXPECT_FALSE(pathExists(link)) << toUtf8(link);
    EXPECT_FALSE(registryEntryExists());
    EXPECT_FALSE(pathExists(installDir));
}

TEST_F(Uninstaller, OnlyShortcutsToAProgramInThisFolderGo) {
    ComApartment com;
    const std::wstring programs = knownFolder(FOLDERID_Programs);
    const std::wstring desktop = knownFolder(FOLDERID_Desktop);
    const struct {
        const char* name;
        std::wstring target;  // empty: a file of that name that is not a link
        bool removed;
    } cases[] = {
        {"the application", installDir + L"\\maketor.exe", true},
        {"in other letter case", outer + L"\\MAKETOR\\Maketor.EXE", true},
        {"another program in the folder", installDir + L"\\setup.exe", true},
        {"another installation", outer + L"\\Other\\maketor.exe", false},
        {"a folder whose name goes on", installDir + L"2\\maketor.exe", false},
        {"a folder below", installDir + L"\\bin\\maketor.exe", false},
        {"the folder above", outer + L"\\maketor.exe", false},
        {"not a link", L"", false},
    };
    for (const auto& c : cases) {
        // One current and one legacy name, in both folders.
        const std::wstring links[] = {programs + L"\\" + shortcutName, desktop + L"\\" + legacyShortcutNames[1]};
        for (const std::wstring& link : links) {
            if (c.target.empty())
                writeFileBytes(link, "old link");
            else
                createShortcut(link, c.target);
            ASSERT_TRUE(pathExists(link)) << c.name;
        }
        appState.installDir = installDir;
        uninstall();
        for (const std::wstring& link : links) {
            EXPECT_EQ(pathExists(link), !c.removed) << c.name;
            DeleteFileW(link.c_str());
        }
    }
}

TEST_F(Uninstaller, ReadOnlyFilesGoAndOnesThatStayKeepTheirAttribute) {
    placeInstallation();
    place(L"data\\deep\\model.bin");
    place(L"data\\locked.bin");
    place(L"fonts\\mine.ttf", "user");
    nlohmann::json record = nlohmann::json::parse(readFileBytes(at(L"install.json")));
    record["files"]["data/deep/model.bin"] = "m";
    record["files"]["data/locked.bin"] = "n";
    writeFileBytes(at(L"install.json"), record.dump());
    const struct {
        const wchar_t* path;
        bool removed;
    } cases[] = {
        {L"maketor.exe", true},             // recorded
        {L"data\\deep\\model.bin", true},  // recorded, with the folders it leaves empty
        {L"install.json", true},
        {L"setup.exe", true},
        {L"data\\locked.bin", false},  // recorded, but held open by another program
        {L"fonts\\mine.ttf", false},   // the user's
    };
    for (const auto& c : cases) ASSERT_TRUE(SetFileAttributesW(at(c.path).c_str(), FILE_ATTRIBUTE_READONLY));
    {
        UniqueHandle held(CreateFileW(at(L"data\\locked.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        uninstall();
    }
    EXPECT_EQ(appState.phase.load(), Done);
    for (const auto& c : cases) {
        const DWORD attributes = GetFileAttributesW(at(c.path).c_str());
        if (c.removed)
            EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES) << toUtf8(c.path);
        else
            EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY}) << toUtf8(c.path);
    }
    EXPECT_FALSE(pathExists(at(L"data\\deep")));
    EXPECT_FALSE(registryEntryExists());
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
