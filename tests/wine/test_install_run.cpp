// The parts of the install run that need no server: planning, the delete step with poisoned record keys,
// the per-file pipeline from the download cache, and the failures when the server cannot be reached.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <thread>

#include <algorithm>

#include "app/app_state.h"
#include "app/release_check.h"
#include "engine/blob_transfer.h"
#include "engine/folder_lock.h"
#include "engine/install_record.h"
#include "engine/install_run.h"
#include "engine/recorded_files.h"
#include "engine/release_fetch.h"
#include "engine/staged_commit.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/http.h"
#include "platform/lzms_container.h"
#include "platform/setup_log.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

const char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string sha256Of(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

ManifestFile fileOf(const char* path, const std::string& content, uint64_t csize = 0) {
    ManifestFile file;
    file.path = path;
    file.size = content.size();
    file.sha256 = sha256Of(content);
    file.csize = csize;
    return file;
}

// What the commit does with the dropped files it was given.
void deleteDropped(const Manifest& manifest, const nlohmann::json& recorded, const std::array<bool, 5>& selection,
                   const std::wstring& installDir) {
    for (const std::string& key : droppedRecordKeys(manifest, recorded, selection, installDir))
        deleteRecordedFile(installDir, key);
}

class InstallFolder : public ::testing::Test, public ScratchInstallFolder {
protected:
    InstallFolder() : ScratchInstallFolder(L"run") {}
    void place(const std::wstring& relative, const std::string& bytes = "x") {
        ASSERT_TRUE(ScratchInstallFolder::place(relative, bytes));
    }
};

TEST(RecordKeys, OnlyRelativeKeysInsideTheFolderAreSafe) {
    const struct {
        const char* key;
        bool safe;
    } cases[] = {
        {"maketor.exe", true},
        {"fonts/main.ttf", true},
        {"fonts\\main.ttf", true},
        {"\xD1\x88\xD1\x80\xD0\xB8\xD1\x84\xD1\x82\xD1\x8B/a.ttf", true},
        {"", false},
        {"../x", false},
        {"a/../b", false},
        {"x..y", false},
        {"..", false},
        {"/abs", false},
        {"\\abs", false},
        {"\\\\server\\share\\x", false},
        {"C:x", false},
        {"C:\\Windows\\win.ini", false},
        {"file.txt:stream", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isSafeRecordKey(c.key), c.safe) << c.key;
}

TEST_F(InstallFolder, PoisonedKeysAreSkippedAndDeleteNothing) {
    const std::string victimUtf8 = toUtf8(victim);
    const std::string poisoned[] = {"../victim.txt", "a/../../victim.txt", victimUtf8, "/victim.txt", "\\victim.txt",
                                    ".", "", "Z:" + victimUtf8.substr(2),
                                    // the folder itself, which is empty here and would go
                                    "./", ".\\", "./.", ".//", "data/..", "data\\.."};
    for (const std::string& key : poisoned) {
        EXPECT_FALSE(deleteRecordedFile(installDir, key)) << key;
        EXPECT_EQ(recordedFilePath(installDir, key), L"") << key;
    }
    EXPECT_EQ(readFileBytes(victim), "not ours");
    EXPECT_TRUE(pathExists(installDir));
}

TEST_F(InstallFolder, DeletingAFileRemovesTheFoldersItLeftEmpty) {
    place(L"a\\b\\c\\deep.dll");
    place(L"a\\keep.txt");
    EXPECT_TRUE(deleteRecordedFile(installDir, "a/b/c/deep.dll"));
    EXPECT_FALSE(pathExists(at(L"a\\b")));
    EXPECT_TRUE(pathExists(at(L"a\\keep.txt")));
    EXPECT_TRUE(deleteRecordedFile(installDir, "a/keep.txt"));
    EXPECT_FALSE(pathExists(at(L"a")));
    EXPECT_TRUE(pathExists(installDir)) << "the installation folder itself stays";
}

TEST_F(InstallFolder, TrailingBackslashOnTheFolderStillStopsAtIt) {
    place(L"only\\file.dll");
    EXPECT_TRUE(deleteRecordedFile(installDir + L"\\", "only/file.dll"));
    EXPECT_FALSE(pathExists(at(L"only")));
    EXPECT_TRUE(pathExists(installDir));
}

TEST_F(InstallFolder, DeleteStepNeverTakesTheFolderItself) {
    // An empty installation folder is the one thing such a key could remove.
    const nlohmann::json recorded = {{".", "a"}, {"./", "b"}, {".\\", "c"}, {"./.", "d"}, {"data/..", "e"}};
    deleteDropped(Manifest{}, recorded, {true, true, true, true, true}, installDir);
    EXPECT_TRUE(pathExists(installDir));
    EXPECT_EQ(readFileBytes(victim), "not ours");
}

TEST_F(InstallFolder, DeleteStepKeepsSelectedFilesAndDropsTheRest) {
    place(L"maketor.exe");
    place(L"nvngx_dlss.dll");
    place(L"plugins\\old\\gone.dll");
    place(L"data\\x.bin", "new content");
    place(L"mine.txt", "user");
    Manifest manifest;
    manifest.files = {fileOf("maketor.exe", "x"), fileOf("nvngx_dlss.dll", "x"), fileOf("data/x.bin", "new content")};
    const nlohmann::json recorded = {
        {"maketor.exe", "a"},   {"nvngx_dlss.dll", "b"}, {"plugins/old/gone.dll", "c"},
        {"Data\\X.bin", "d"},  // the same file as the release's "data/x.bin", by another spelling
        {"./maketor.exe", "g"}, {"data//x.bin", "h"}, {"data/./x.bin", "i"}, {"plugins/../maketor.exe", "j"},
        {"../victim.txt", "e"}, {toUtf8(victim), "f"},
    };
    const std::array<bool, 5> withoutNvidia{true, false, false, false, false};
    deleteDropped(manifest, recorded, withoutNvidia, installDir);
    EXPECT_TRUE(pathExists(at(L"maketor.exe")));
    EXPECT_FALSE(pathExists(at(L"nvngx_dlss.dll"))) << "its component is no longer selected";
    EXPECT_FALSE(pathExists(at(L"plugins"))) << "dropped file and the folders it leaves empty";
    EXPECT_EQ(readFileBytes(at(L"data\\x.bin")), "new content");
    EXPECT_EQ(readFileBytes(at(L"mine.txt")), "user") << "files the record does not list stay";
    EXPECT_EQ(readFileBytes(victim), "not ours");
}

TEST_F(InstallFolder, PlanFetchesOnlyWhatDiffersFromTheRecordOrDisk) {
    place(L"same.dll", "same");
    place(L"resized.dll", "longer than listed");
    place(L"changed.dll", "old");
    place(L"damaged.dll", "XXXX");  // same size as listed, content not looked at
    Manifest manifest;
    manifest.files = {
        fileOf("same.dll", "same", 10),       fileOf("resized.dll", "short", 20), fileOf("changed.dll", "new", 40),
        fileOf("missing.dll", "m", 80),       fileOf("damaged.dll", "good", 160), fileOf("nvngx_x.dll", "n", 320),
        fileOf("untracked.dll", "u", 640),    fileOf("odd.dll", "o", 1280),
    };
    place(L"untracked.dll", "u");
    place(L"odd.dll", "o");
    const nlohmann::json recorded = {
        {"same.dll", sha256Of("same")}, {"resized.dll", sha256Of("short")}, {"changed.dll", sha256Of("old")},
        {"missing.dll", sha256Of("m")}, {"damaged.dll", sha256Of("good")},  {"nvngx_x.dll", sha256Of("n")},
        {"odd.dll", 42},  // not a string: never up to date
    };
    const RunPlan plan = planRun(manifest, recorded, {true, false, false, false, false}, installDir);
    std::vector<std::string> fetched;
    for (const ManifestFile* file : plan.fetchList) fetched.push_back(file->path);
    EXPECT_EQ(fetched, (std::vector<std::string>{"resized.dll", "changed.dll", "missing.dll", "untracked.dll", "odd.dll"}));
    EXPECT_EQ(plan.downloadTotal, 20u + 40 + 80 + 640 + 1280);
    EXPECT_EQ(plan.installedSize, 4u + 5 + 3 + 1 + 4 + 1 + 1);
}

// Transfers from the download cache: the blob is placed there by hand, no server is involved.
class CachedTransfer : public InstallFolder {
protected:
    void SetUp() override {
        InstallFolder::SetUp();
        context.installDir = installDir;
        context.fetch = httpFetch;
        context.lockWait.boundMs = 2000;  // a file that stays locked on purpose need not hold a case up for long
        context.bytesDone = &bytesDone;
        context.cancelled = [this] { return cancelled.load(); };
        uint8_t header[kLzmsHeaderSize];
        writeLzmsHeader(LzmsContainerHeader{}, header);
        emptyBlob.assign(reinterpret_cast<const char*>(header), sizeof header);
        emptyFile = fileOf("sub\\dir\\empty.dat", "", emptyBlob.size());
        emptyFile.csha256 = sha256Of(emptyBlob);
    }
    void cache(const ManifestFile& file, const std::string& blob) {
        place(std::wstring(downloadCacheName) + L"\\" + toUtf16(file.sha256) + L".lzms", blob);
    }
    bool transfer(const ManifestFile& file) {
        failure.clear();
        return transferFile(context, file, failure);
    }
    TransferContext context;
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<bool> cancelled{false};
    std::wstring failure;
    std::string emptyBlob;
    ManifestFile emptyFile;
};

TEST_F(CachedTransfer, AValidCachedBlobIsStagedWithoutTheNetwork) {
    ASSERT_EQ(emptyFile.sha256, kEmptySha256);
    cache(emptyFile, emptyBlob);
    place(L"sub\\dir\\empty.dat", "old");
    place(L"sub\\dir\\empty.dat.new", "leftover of an interrupted run");
    ASSERT_TRUE(transfer(emptyFile)) << toUtf8(failure);
    EXPECT_EQ(bytesDone.load(), emptyBlob.size());
    EXPECT_EQ(readFileBytes(at(L"sub\\dir\\empty.dat")), "old") << "the commit replaces the target, not the transfer";
    EXPECT_TRUE(pathExists(at(L"sub\\dir\\empty.dat.new")));
    EXPECT_EQ(readFileBytes(at(L"sub\\dir\\empty.dat.new")), "");
}

TEST_F(CachedTransfer, AFileBeyond4GiBIsStagedFromABlobBeyond4GiB) {
    // 4 GiB + 1 MiB of zeros in raw 64 MiB chunks: offsets, sizes and digests all pass 2^32. The chunks' bytes
    // are holes of a sparse file; only the header and the length words are written.
    const uint64_t total = (uint64_t(1) << 32) + (uint64_t(1) << 20);
    const uint64_t chunk = kLzmsMaxChunkSize;
    ManifestFile file;
    file.path = "big/zeros.bin";
    file.size = total;
    // python3: hashlib.sha256 over the 4 GiB + 1 MiB zeros, and over the blob written here
    file.sha256 = "829816e339ff597ec3ada4c30fc840d3f2298444169d242952a54bcf3fcd7747";
    file.csha256 = "175a46f4f6a6ed0845c7ce2979783d05b7005b0cb4ade4dd52143772d53761e1";
    const std::wstring blobPath = at(std::wstring(downloadCacheName) + L"\\" + toUtf16(file.sha256) + L".lzms");
    ASSERT_TRUE(createFolderTree(parentFolder(blobPath)));
    {
        UniqueHandle blob = openForWriting(blobPath, true);
        ASSERT_TRUE(blob);
        uint8_t header[kLzmsHeaderSize];
        writeLzmsHeader(LzmsContainerHeader{total, chunk}, header);
        ASSERT_TRUE(writeAll(blob.get(), header, sizeof header));
        uint64_t position = kLzmsHeaderSize;
        for (uint64_t produced = 0; produced < total; produced += chunk) {
            const uint32_t length = uint32_t(std::min(chunk, total - produced));
            ASSERT_TRUE(truncateAt(blob.get(), position));
            ASSERT_TRUE(writeAll(blob.get(), &length, sizeof length));
            position += sizeof length + length;
        }
        ASSERT_TRUE(truncateAt(blob.get(), position));
    }
    file.csize = total + kLzmsHeaderSize + 4 * ((total + chunk - 1) / chunk);
    ASSERT_TRUE(transfer(file)) << toUtf8(failure);
    uint64_t staged = 0;
    EXPECT_TRUE(fileSizeOf(at(L"big\\zeros.bin.new"), staged));
    EXPECT_EQ(staged, total);
    EXPECT_EQ(bytesDone.load(), file.csize);
    DeleteFileW(at(L"big\\zeros.bin.new").c_str());
    DeleteFileW(blobPath.c_str());
}

TEST_F(CachedTransfer, MessagesShowTheReleasePathWithBackslashes) {
    ManifestFile file = emptyFile;
    file.path = "sub/dir/empty.dat";
    file.size = 1;  // the blob holds 0 bytes
    cache(file, emptyBlob);
    EXPECT_FALSE(transfer(file));
    EXPECT_EQ(failure, L"Файл sub\\dir\\empty.dat повреждён при загрузке — повторите.");
}

TEST_F(CachedTransfer, AnUnwritableTemporaryFileIsReported) {
    cache(emptyFile, emptyBlob);
    place(L"sub\\dir\\empty.dat.new\\blocker");  // a folder where the temporary file should go
    EXPECT_FALSE(transfer(emptyFile));
    EXPECT_EQ(failure, L"Не записать " + at(L"sub\\dir\\empty.dat"));
}

// A scanner still reading the ".new" an earlier run left: the transfer waits for it instead of failing.
TEST_F(CachedTransfer, AStagedFileHeldForAMomentIsWaitedFor) {
    cache(emptyFile, emptyBlob);
    place(L"sub\\dir\\empty.dat.new", "left by an earlier run");
    const std::wstring staged = at(L"sub\\dir\\empty.dat.new");
    UniqueHandle held(CreateFileW(staged.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    std::thread releaser([&] {
        Sleep(800);
        held.reset();
    });
    const bool transferred = transfer(emptyFile);
    releaser.join();
    EXPECT_TRUE(transferred) << toUtf8(failure);
    EXPECT_EQ(readFileBytes(staged), "");
}

TEST_F(CachedTransfer, ABlobThatUnpacksToTheWrongSizeIsDamaged) {
    ManifestFile file = emptyFile;
    file.size = 1;  // the blob holds 0 bytes
    cache(file, emptyBlob);
    EXPECT_FALSE(transfer(file));
    EXPECT_EQ(failure, L"Файл sub\\dir\\empty.dat повреждён при загрузке — повторите.");
    EXPECT_EQ(bytesDone.load(), emptyBlob.size()) << "a valid cached blob counts even when unpacking fails";
    EXPECT_FALSE(pathExists(at(L"sub")));
    EXPECT_FALSE(pathExists(at(std::wstring(downloadCacheName) + L"\\" + toUtf16(file.sha256) + L".lzms")))
        << "a blob that cannot give the file is no use to a retry";
}

TEST_F(CachedTransfer, ACachedBlobPackedInOtherBlocksIsNotUsed) {
    // It unpacks to exactly the listed (empty) file, but it is not the blob the manifest names; the server is
    // not there, so it must end as a blob that could not be fetched.
    uint8_t header[kLzmsHeaderSize];
    writeLzmsHeader(LzmsContainerHeader{0, 65536}, header);
    const std::string repacked(reinterpret_cast<const char*>(header), sizeof header);
    ASSERT_NE(repacked, emptyBlob);
    cache(emptyFile, repacked);
    EXPECT_FALSE(transfer(emptyFile));
    EXPECT_EQ(failure, L"Не скачан sub\\dir\\empty.dat — проверьте интернет и повторите.");
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_FALSE(pathExists(at(L"sub")));
}

TEST_F(CachedTransfer, CancelBeforeTheFileStarts) {
    cache(emptyFile, emptyBlob);
    cancelled.store(true);
    EXPECT_FALSE(transfer(emptyFile));
    EXPECT_EQ(failure, L"Установка отменена.");
    EXPECT_FALSE(pathExists(at(L"sub"))) << "nothing staged";
}

TEST_F(CachedTransfer, AnInvalidCachedBlobWithoutServerIsNotDownloaded) {
    cache(emptyFile, "not the blob");
    EXPECT_FALSE(transfer(emptyFile));
    EXPECT_EQ(failure, L"Не скачан sub\\dir\\empty.dat — проверьте интернет и повторите.");
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_EQ(readFileBytes(at(std::wstring(downloadCacheName) + L"\\" + toUtf16(emptyFile.sha256) + L".lzms")),
              "not the blob") << "the cache is only read";
}

// Another run on a folder, holding its lock on a thread of its own (the lock belongs to the thread that took
// it) until it ends.
class OtherRun {
public:
    explicit OtherRun(const std::wstring& installDir, DWORD endsAfterMs = INFINITE)
        : end_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, installDir, endsAfterMs] {
              FolderLock lock;
              if (lock.take(installDir, FolderWait{}) == FolderLock::Held) SetEvent(held_.get());
              WaitForSingleObject(end_.get(), endsAfterMs);
          }) {
        WaitForSingleObject(held_.get(), 5000);
    }
    ~OtherRun() {
        SetEvent(end_.get());
        thread_.join();
    }

private:
    UniqueHandle end_, held_;
    std::thread thread_;
};

TEST(FolderLock, OneNameForEverySpellingOfTheFolder) {
    const std::wstring name = folderLockName(L"C:\\Torvel\\Maketor");
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos) << "a mutex name has no other backslash";
    EXPECT_LT(name.size(), size_t(MAX_PATH));
    const std::pair<const wchar_t*, const wchar_t*> sameFolder[] = {
        {L"C:\\Torvel\\Maketor", L"c:/torvel/MAKETOR\\"},
        {L"C:\\Torvel\\Maketor", L"C:\\Torvel\\x\\..\\Maketor"},
        {L"C:\\Торвел\\Макетор", L"C:\\ТОРВЕЛ\\макетор"},
    };
    for (const auto& [a, b] : sameFolder) EXPECT_EQ(folderLockName(a), folderLockName(b)) << toUtf8(b);
    const std::pair<const wchar_t*, const wchar_t*> otherFolders[] = {
        {L"C:\\Torvel\\Maketor", L"C:\\Torvel\\Maketor2"},
        {L"C:\\Torvel\\Maketor", L"D:\\Torvel\\Maketor"},
        {L"C:\\ı", L"C:\\I"},  // two folders on the disk: the file system does not take one for the other
    };
    for (const auto& [a, b] : otherFolders) EXPECT_NE(folderLockName(a), folderLockName(b)) << toUtf8(b);
}

TEST(FolderLock, ASecondRunWaitsSayingSoUntilTheFirstEnds) {
    const std::wstring folder = makeScratchFolder(L"lock") + L"\\Maketor";
    ULONGLONG waited = 0;
    int told = 0;
    {
        OtherRun first(folder, 600);
        FolderLock lock;
        FolderWait wait;
        wait.boundMs = 10000;
        wait.onWait = [&] { ++told; };
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(lock.take(L"c:" + folder.substr(2) + L"\\", wait), FolderLock::Held) << "another spelling of it";
        waited = GetTickCount64() - start;
    }
    EXPECT_EQ(told, 1);
    EXPECT_GE(waited, 400u);
    EXPECT_LT(waited, 5000u);
}

TEST(FolderLock, PastTheBoundOrOnCancelTheFolderIsNotTaken) {
    const std::wstring folder = makeScratchFolder(L"lock") + L"\\Maketor";
    OtherRun first(folder);
    FolderLock lock;
    FolderWait wait;
    wait.boundMs = 300;
    EXPECT_EQ(lock.take(folder, wait), FolderLock::Busy);
    wait.boundMs = 60000;
    wait.cancelled = [] { return true; };
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(lock.take(folder, wait), FolderLock::Cancelled);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(lock.take(folder + L"2", FolderWait{}), FolderLock::Held) << "another folder is free";
}

TEST(FolderLock, TheLockOfARunThatDiedIsTaken) {
    const std::wstring folder = makeScratchFolder(L"lock") + L"\\Maketor";
    // A run that ends without letting go, as a killed process does: the system gives the lock up for it.
    std::thread([&] {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, folderLockName(folder).c_str());
        ASSERT_NE(mutex, nullptr);
    }).join();
    FolderLock lock;
    FolderWait wait;
    wait.boundMs = 1000;
    EXPECT_EQ(lock.take(folder, wait), FolderLock::Held);
}

// Nothing listens on the download port during these tests.
TEST(WithoutServer, FetchFailsWithAnEmptyBodyAndCountsNothing) {
    std::atomic<uint64_t> received{7};
    FetchControl control;
    control.receivedBytes = &received;
    std::string body = "stale";
    EXPECT_FALSE(fetchWholeBody(httpFetch, L"/maketor/app/manifest.json", body, control, kLargestManifest));
    EXPECT_EQ(body, "");
    EXPECT_EQ(received.load(), 7u);
}

TEST(WithoutServer, TheInstallRunFailsWithTheConnectionTextAndChangesNothing) {
    const std::wstring outer = makeScratchFolder(L"noserver");
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{99}, bytesTotal{99};
    std::vector<std::wstring> statuses, failures;
    RunContext run;
    run.installDir = outer + L"\\Maketor";
    run.cancelRequested = &cancelRequested;
    run.bytesDone = &bytesDone;
    run.bytesTotal = &bytesTotal;
    run.showStatus = [&](const std::wstring& text) { statuses.push_back(text); };
    run.reportFailure = [&](const std::wstring& text) { failures.push_back(text); };
    std::string version = "unchanged";
    EXPECT_FALSE(installRun(run, version));
    EXPECT_EQ(version, "unchanged");
    EXPECT_EQ(failures, std::vector<std::wstring>{L"Нет связи с сайтом Торвел. Проверьте интернет и повторите."});
    EXPECT_EQ(statuses, std::vector<std::wstring>{L"Получаем сведения о версии…"});
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_EQ(bytesTotal.load(), 0u);
    EXPECT_FALSE(pathExists(run.installDir)) << "the folder is created only after the manifest is trusted";
    removeTree(outer);
}

struct RunWithoutServer {
    explicit RunWithoutServer(const std::wstring& installDir) {
        run.installDir = installDir;
        run.cancelRequested = &cancelRequested;
        run.bytesDone = &bytesDone;
        run.bytesTotal = &bytesTotal;
        run.lockWait.boundMs = 0;
        run.showStatus = [this](const std::wstring& text) { statuses.push_back(text); };
        run.reportFailure = [this](const std::wstring& text) { failures.push_back(text); };
    }
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0}, bytesTotal{0};
    std::vector<std::wstring> statuses, failures;
    RunContext run;
};

TEST(WithoutServer, ARunWhoseFolderIsBusyFailsPastTheBoundAndChangesNothing) {
    ScratchInstallFolder folder(L"busy");
    ASSERT_TRUE(folder.place(L"maketor.exe.new", "staged by the other run"));
    RunWithoutServer attempt(folder.installDir);
    attempt.run.folderWaitMs = 300;
    std::string version;
    {
        OtherRun first(folder.installDir);
        EXPECT_FALSE(installRun(attempt.run, version));
    }
    EXPECT_EQ(attempt.failures, std::vector<std::wstring>{L"Папкой " + folder.installDir +
                                                          L" занята другая копия установщика — дождитесь её "
                                                          L"окончания и повторите."});
    EXPECT_EQ(attempt.statuses, (std::vector<std::wstring>{L"Получаем сведения о версии…", folderBusyStatus}));
    EXPECT_EQ(readFileBytes(folder.at(L"maketor.exe.new")), "staged by the other run");
}

// A run killed while it committed left its journal; the next run completes it before it asks the network for
// anything, so the installation is whole even when the site cannot be reached.
TEST(WithoutServer, AKilledRunsCommitIsCompletedBeforeAnyRequest) {
    ScratchInstallFolder folder(L"recover");
    ASSERT_TRUE(folder.place(L"maketor.exe", "old exe"));
    ASSERT_TRUE(folder.place(L"data\\a.bin", "new a"));  // renamed before the kill
    ASSERT_TRUE(folder.place(L"maketor.exe.new", "new exe"));
    CommitJournal journal;
    journal.renames = {"maketor.exe", "data/a.bin"};
    nlohmann::json files = {{"maketor.exe", sha256Of("new exe")}, {"data/a.bin", sha256Of("new a")}};
    journal.recordText = installRecordTextOf(nlohmann::json{{"files", files}, {"version", "2"}});
    ASSERT_TRUE(writeCommitJournal(folder.installDir, journal));

    RunWithoutServer attempt(folder.installDir);
    std::string version;
    EXPECT_FALSE(installRun(attempt.run, version));
    EXPECT_EQ(attempt.failures, std::vector<std::wstring>{L"Нет связи с сайтом Торвел. Проверьте интернет и повторите."});
    EXPECT_EQ(attempt.statuses, (std::vector<std::wstring>{L"Получаем сведения о версии…",
                                                           L"Завершаем прерванное обновление…",
                                                           L"Получаем сведения о версии…"}));
    EXPECT_EQ(readFileBytes(folder.at(L"maketor.exe")), "new exe");
    EXPECT_FALSE(pathExists(folder.at(L"maketor.exe.new")));
    EXPECT_FALSE(pathExists(folder.at(commitJournalName)));
    EXPECT_EQ(readFileBytes(folder.at(L"install.json")), journal.recordText);
}

TEST(WithoutServer, TheReleaseCheckPublishesNothing) {
    runReleaseCheck();
    EXPECT_FALSE(appState.sizesKnown.load());
    EXPECT_EQ(getOfferedVersion(), "");
}

TEST(ComponentSizes, SummedPerComponentInUnpackedBytes) {
    Manifest manifest;
    manifest.files = {fileOf("maketor.exe", "12345"), fileOf("nvngx_dlss.dll", "12"), fileOf("sl.dlss_g.dll", "1"),
                      fileOf("libxess.dll", "1234"), fileOf("bin/nvngx_dlss.dll", "123")};
    manifest.files[0].size = uint64_t{5} << 32;  // sizes beyond 4 GiB add up too
    const std::array<uint64_t, 5> expected{(uint64_t{5} << 32) + 3, 3, 0, 4, 0};
    EXPECT_EQ(componentSizesOf(manifest), expected);
}

}  // namespace
