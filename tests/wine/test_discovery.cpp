// Discovery of an earlier installation (uninstall entry, install record, the executable's folder) and the
// preselection of the components from the record and the graphics adapters.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "app/app_state.h"
#include "app/discovery.h"
#include "engine/uninstall_entry.h"
#include "platform/handles.h"
#include "test_support.h"

namespace {

const uint32_t kNvidia = 0x10DE, kAmd = 0x1002, kIntel = 0x8086, kBasicRender = 0x1414;

struct PreselectionCase {
    const char* name;
    std::string record;  // JSON text
    std::vector<uint32_t> adapters;
    std::array<bool, 5> expected;  // core, nvidia, amd, intel, vr
};

const char kAllOffered[] = "\"offered\": [\"core\", \"nvidia\", \"amd\", \"intel\", \"vr\"]";

const std::vector<PreselectionCase>& preselectionCases() {
    static const std::vector<PreselectionCase> cases = {
        {"first install, NVIDIA and Intel adapters", "{}", {kNvidia, kIntel}, {true, true, false, true, false}},
        {"no adapter at all", "{}", {}, {true, false, false, false, false}},
        {"a software adapter ticks nothing", "{}", {kBasicRender}, {true, false, false, false, false}},
        {"duplicate adapters", "{}", {kAmd, kAmd}, {true, false, true, false, false}},
        {"earlier choice wins over the adapter",
         std::string("{\"components\": [\"core\", \"amd\"], ").append(kAllOffered).append("}"),
         {kNvidia}, {true, false, true, false, false}},
        {"components without offered follow the adapters", "{\"components\": [\"core\", \"nvidia\", \"vr\"]}",
         {kAmd}, {true, false, true, false, false}},
        {"declined when offered, adapter rule when not offered",
         "{\"components\": [\"core\"], \"offered\": [\"core\", \"nvidia\", \"amd\"]}", {kNvidia, kAmd, kIntel},
         {true, false, false, true, false}},
        {"offered ids compare case-sensitively",
         "{\"components\": [\"core\", \"NVIDIA\"], \"offered\": [\"core\", \"NVIDIA\"]}", {}, {true, false, false, false, false}},
        {"vr from the earlier choice",
         std::string("{\"components\": [\"core\", \"vr\"], ").append(kAllOffered).append("}"), {},
         {true, false, false, false, true}},
        {"components not an array reads as not chosen",
         std::string("{\"components\": \"amd\", ").append(kAllOffered).append("}"), {kAmd},
         {true, false, false, false, false}},
        {"files only: recorded paths tick their components",
         "{\"files\": {\"nvngx_dlss.dll\": \"a\", \"maketor.exe\": \"b\", \"handmodels/left.onnx\": \"c\"}}", {kIntel},
         {true, true, false, true, true}},
        {"files are not consulted once there is a choice",
         "{\"components\": [\"core\"], \"files\": {\"nvngx_dlss.dll\": \"a\"}}", {}, {true, false, false, false, false}},
        {"files of the wrong type fall back to the adapters", "{\"files\": [\"nvngx_dlss.dll\"]}", {kIntel},
         {true, false, false, true, false}},
        {"a record that is not an object", "[\"components\", \"nvidia\"]", {kAmd}, {true, false, true, false, false}},
    };
    return cases;
}

TEST(Preselection, Table) {
    for (const PreselectionCase& c : preselectionCases()) {
        const InstallRecord record = nlohmann::json::parse(c.record);
        EXPECT_EQ(preselectComponents(record, c.adapters), c.expected) << c.name;
    }
}

void setRegistryText(const wchar_t* name, const std::wstring& value) {
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &rawKey, nullptr),
              ERROR_SUCCESS);
    UniqueRegKey key(rawKey);
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        appState.installDir.clear();
        setInstalledVersion("");
        folder = makeScratchFolder(L"discover");
        // The previous choice decides every optional component, whatever adapters this machine has.
        writeFileBytes(folder + L"\\install.json",
                       std::string("{\"components\": [\"core\", \"vr\"], ").append(kAllOffered).append("}"));
    }
    void TearDown() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
        removeTree(folder);
        appState.installDir.clear();
        setInstalledVersion("");
    }
    std::wstring folder;
};

TEST_F(Discovery, TheUninstallEntryNamesVersionAndFolder) {
    setRegistryText(L"DisplayVersion", L"1.4.2");
    setRegistryText(L"InstallLocation", folder);
    discoverInstallation();
    EXPECT_EQ(getInstalledVersion(), "1.4.2");
    EXPECT_EQ(appState.installDir, folder);
    const std::array<bool, 5> expected{true, false, false, false, true};
    EXPECT_EQ(appState.selectedComponents, expected);
}

TEST_F(Discovery, AFolderFromTheCommandLineWinsButTheVersionIsStillRead) {
    setRegistryText(L"DisplayVersion", L"2.0");
    setRegistryText(L"InstallLocation", L"C:\\elsewhere");
    appState.installDir = folder;
    discoverInstallation();
    EXPECT_EQ(appState.installDir, folder);
    EXPECT_EQ(getInstalledVersion(), "2.0");
    EXPECT_TRUE(appState.selectedComponents[4]);
}

TEST_F(Discovery, AnOverlongVersionCountsAsMissing) {
    setRegistryText(L"DisplayVersion", std::wstring(600, L'9'));
    setRegistryText(L"InstallLocation", folder);
    discoverInstallation();
    EXPECT_EQ(getInstalledVersion(), "");
    EXPECT_EQ(appState.installDir, folder);
}

TEST_F(Discovery, CyrillicVersionArrivesAsUtf8) {
    setRegistryText(L"DisplayVersion", L"3.0 бета");
    setRegistryText(L"InstallLocation", folder);
    discoverInstallation();
    EXPECT_EQ(getInstalledVersion(), "3.0 \xD0\xB1\xD0\xB5\xD1\x82\xD0\xB0");
}

TEST_F(Discovery, WithoutEntryOrRecordBesideTheExecutableTheDefaultFolderIsProposed) {
    ASSERT_FALSE(pathExists(testExeDir() + L"\\install.json"));
    discoverInstallation();
    EXPECT_EQ(appState.installDir, defaultInstallDir());
    EXPECT_EQ(getInstalledVersion(), "");
    EXPECT_TRUE(appState.selectedComponents[0]);
}

TEST(DefaultInstallDir, PerUserProgramsFolderOrItsLocalAppDataEquivalent) {
    PWSTR raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_UserProgramFiles, 0, nullptr, &raw);
    CoTaskString userProgramFiles(raw);
    std::wstring base;
    if (SUCCEEDED(result)) {
        base = userProgramFiles.get();
    } else {
        PWSTR rawLocal = nullptr;
        ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &rawLocal)));
        CoTaskString localAppData(rawLocal);
        base = std::wstring(localAppData.get()) + L"\\Programs";
    }
    const std::wstring proposed = defaultInstallDir();
    EXPECT_EQ(proposed, base + L"\\Torvel\\Maketor");
    EXPECT_EQ(proposed.substr(1, 2), L":\\") << "an absolute folder, never one relative to the current folder";
}

}  // namespace
