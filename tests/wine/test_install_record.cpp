// The install record: its exact text, the rename that replaces it, and the readers' fallbacks, on real files.
#include <gtest/gtest.h>

#include "engine/install_record.h"
#include "test_support.h"

namespace {

ManifestFile fileOf(const char* path, const char* sha256) {
    ManifestFile file;
    file.path = path;
    file.sha256 = sha256;
    return file;
}

struct ScratchFolder {
    explicit ScratchFolder(const wchar_t* tag) : path(makeScratchFolder(tag)) {}
    ~ScratchFolder() { removeTree(path); }
    std::wstring file(const wchar_t* name) const { return path + L"\\" + name; }
    std::wstring path;
};

TEST(InstallRecordText, SortsKeysWritesRawUtf8AndCrLfWithoutFinalBreak) {
    Manifest manifest;
    manifest.version = "2.0.1";
    manifest.files = {
        fileOf("maketor.exe", "e1"),
        fileOf("\xD1\x88\xD1\x80\xD0\xB8\xD1\x84\xD1\x82/a.ttf", "c1"),  // "шрифт/a.ttf"
        fileOf("a1.txt", "old"),
        fileOf("nvngx_dlss.dll", "n1"),  // nvidia, not selected
        fileOf("licenses/amd-fsr.txt", "f1"),
        fileOf("data/y.bin", "y1"),
        fileOf("a/b.txt", "b1"),
        fileOf("Data/x.bin", "x1"),
        fileOf("a1.txt", "new"),  // a path listed twice keeps the later digest
    };
    const std::array<bool, 5> coreAndAmd{true, false, true, false, false};
    EXPECT_EQ(installRecordText(manifest, coreAndAmd),
              "{\r\n"
              " \"components\": [\r\n"
              "  \"core\",\r\n"
              "  \"amd\"\r\n"
              " ],\r\n"
              " \"files\": {\r\n"
              "  \"Data/x.bin\": \"x1\",\r\n"
              "  \"a/b.txt\": \"b1\",\r\n"
              "  \"a1.txt\": \"new\",\r\n"
              "  \"data/y.bin\": \"y1\",\r\n"
              "  \"licenses/amd-fsr.txt\": \"f1\",\r\n"
              "  \"maketor.exe\": \"e1\",\r\n"
              "  \"\xD1\x88\xD1\x80\xD0\xB8\xD1\x84\xD1\x82/a.ttf\": \"c1\"\r\n"
              " },\r\n"
              " \"offered\": [\r\n"
              "  \"core\",\r\n"
              "  \"nvidia\",\r\n"
              "  \"amd\",\r\n"
              "  \"intel\",\r\n"
              "  \"vr\"\r\n"
              " ],\r\n"
              " \"version\": \"2.0.1\"\r\n"
              "}");
}

TEST(InstallRecordText, CoreAloneAndNoFiles) {
    Manifest manifest;
    manifest.version = "1.0";
    manifest.files = {fileOf("basalt.dll", "v1")};  // vr, not selected
    EXPECT_EQ(installRecordText(manifest, {true, false, false, false, false}),
              "{\r\n \"components\": [\r\n  \"core\"\r\n ],\r\n \"files\": {},\r\n \"offered\": [\r\n  \"core\",\r\n"
              "  \"nvidia\",\r\n  \"amd\",\r\n  \"intel\",\r\n  \"vr\"\r\n ],\r\n \"version\": \"1.0\"\r\n}");
}

TEST(InstallRecordWrite, ReplacesTheRecordAndLeavesNoTemporaryFile) {
    ScratchFolder folder(L"record");
    ASSERT_TRUE(writeFileBytes(folder.file(L"install.json"), "{\"files\":{\"old.dll\":\"aa\"}}"));
    Manifest manifest;
    manifest.version = "3.1";
    manifest.files = {fileOf("maketor.exe", "e3")};
    const std::array<bool, 5> coreOnly{true, false, false, false, false};
    writeInstallRecord(folder.path, manifest, coreOnly);
    EXPECT_EQ(readFileBytes(folder.file(L"install.json")), installRecordText(manifest, coreOnly));
    EXPECT_FALSE(pathExists(folder.file(L"install.json.new")));
}

TEST(InstallRecordWrite, OldRecordStaysWholeWhenTheNewOneCannotBeWritten) {
    ScratchFolder folder(L"record");
    const std::string oldRecord = "{\"files\":{\"old.dll\":\"aa\"}}";
    ASSERT_TRUE(writeFileBytes(folder.file(L"install.json"), oldRecord));
    // A folder in the way of the temporary file makes its creation fail.
    ASSERT_TRUE(CreateDirectoryW(folder.file(L"install.json.new").c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(folder.file(L"install.json.new\\keep"), "x"));
    Manifest manifest;
    manifest.version = "3.1";
    writeInstallRecord(folder.path, manifest, {true, false, false, false, false});
    EXPECT_EQ(readFileBytes(folder.file(L"install.json")), oldRecord);
}

TEST(InstallRecordWrite, WritesIntoAFolderWithoutARecord) {
    ScratchFolder folder(L"record");
    Manifest manifest;
    manifest.version = "3.2";
    manifest.files = {fileOf("\xD0\xB0.txt", "a1")};
    writeInstallRecord(folder.path, manifest, {true, true, true, true, true});
    const InstallRecord record = readInstallRecord(folder.path);
    ASSERT_TRUE(record.is_object());
    EXPECT_EQ(record.at("version"), "3.2");
    EXPECT_EQ(recordedFilesOf(record), nlohmann::json({{"\xD0\xB0.txt", "a1"}}));
    EXPECT_EQ(record.at("components").size(), 5u);
}

struct ReaderCase {
    const char* name;
    const char* text;  // nullptr: no file at all
    size_t recordedFiles;
    bool isObject;
};

const ReaderCase kReaderCases[] = {
    {"no file", nullptr, 0, true},
    {"empty file", "", 0, true},
    {"not JSON", "install ok", 0, true},
    {"truncated", "{\"files\": {\"a.dll\": \"aa\"", 0, true},
    {"comments are not JSON", "{/* x */ \"files\": {\"a.dll\": \"aa\"}}", 0, true},
    {"top level array", "[1, 2]", 0, false},
    {"files not an object", "{\"files\": [\"a.dll\"]}", 0, true},
    {"no files member", "{\"version\": \"1\"}", 0, true},
    {"files only", "{\"files\": {\"a.dll\": \"aa\", \"b/c.dll\": \"bb\"}}", 2, true},
    {"extra members", "{\"files\": {\"a.dll\": \"aa\"}, \"installed\": \"2020\"}", 1, true},
};

TEST(InstallRecordRead, FallsBackToAnEmptyRecord) {
    for (const ReaderCase& c : kReaderCases) {
        ScratchFolder folder(L"reader");
        if (c.text) {
            ASSERT_TRUE(writeFileBytes(folder.file(L"install.json"), c.text));
        }
        const InstallRecord record = readInstallRecord(folder.path);
        EXPECT_EQ(record.is_object(), c.isObject) << c.name;
        EXPECT_EQ(recordedFilesOf(record).size(), c.recordedFiles) << c.name;
        EXPECT_TRUE(recordedFilesOf(record).is_object()) << c.name;
    }
}

}  // namespace
