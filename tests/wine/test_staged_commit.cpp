// The commit of staged files through its journal: completed from wherever a kill stopped it, a record that
// claims only what the disk holds, read-only targets, folders that become files and back, and steps that fail
// leaving a journal the next run completes.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include <nlohmann/json.hpp>

#include "engine/blob_transfer.h"
#include "engine/install_record.h"
#include "engine/manifest.h"
#include "engine/staged_commit.h"
#include "engine/staged_file.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

std::string sha256Of(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string recordOf(const std::map<std::string, std::string>& contentOfPath) {
    nlohmann::json files = nlohmann::json::object();
    for (const auto& [path, content] : contentOfPath) files[path] = sha256Of(content);
    return installRecordTextOf(nlohmann::json{{"files", files}, {"version", "2"}});
}

nlohmann::json recordedFilesIn(const std::wstring& installDir) {
    const nlohmann::json record = nlohmann::json::parse(readFileBytes(installDir + L"\\install.json"), nullptr, false);
    return record.is_object() ? record.value("files", nlohmann::json::object()) : nlohmann::json();
}

LockWait noWait() {
    LockWait wait;
    wait.boundMs = 0;
    return wait;
}

class StagedCommit : public ::testing::Test, public ScratchInstallFolder {
protected:
    StagedCommit() : ScratchInstallFolder(L"commit") {}

    void place(const std::wstring& relative, const std::string& bytes) {
        ASSERT_TRUE(ScratchInstallFolder::place(relative, bytes)) << toUtf8(relative);
    }

    // Release 1 installed (a.bin, sub/b.bin, dropped/c.bin), release 2 staged: a.bin and sub/b.bin changed,
    // sub/new.bin added, dropped/c.bin dropped.
    CommitJournal stage() {
        place(L"a.bin", "old a");
        place(L"sub\\b.bin", "old b");
        place(L"dropped\\c.bin", "old c");
        place(L"a.bin.new", "new a");
        place(L"sub\\b.bin.new", "new b");
        place(L"sub\\new.bin.new", "added");
        CommitJournal journal;
        journal.renames = {"a.bin", "sub/b.bin", "sub/new.bin"};
        journal.deletions = {"dropped/c.bin", "../outside.bin"};
        journal.recordText = recordOf(kNewRelease);
        journal.previousDigests = {{"a.bin", sha256Of("old a")}, {"sub/b.bin", sha256Of("old b")}};
        return journal;
    }
    void writeJournal(const CommitJournal& journal) {
        ASSERT_TRUE(writeCommitJournal(installDir, journal));
        EXPECT_FALSE(pathExists(at(std::wstring(commitJournalName) + L".new")));
    }
    void expectCommitted() {
        for (const auto& [path, content] : kNewRelease)
            EXPECT_EQ(readFileBytes(at(toUtf16(path))), content) << path;
        for (const wchar_t* staged : {L"a.bin.new", L"sub\\b.bin.new", L"sub\\new.bin.new"})
            EXPECT_FALSE(pathExists(at(staged))) << toUtf8(staged);
        EXPECT_FALSE(pathExists(at(L"dropped"))) << "the dropped file and the folder it leaves empty";
        EXPECT_EQ(readFileBytes(at(L"install.json")), recordOf(kNewRelease));
        EXPECT_FALSE(pathExists(at(commitJournalName)));
    }

    const std::map<std::string, std::string> kNewRelease = {
        {"a.bin", "new a"}, {"sub/b.bin", "new b"}, {"sub/new.bin", "added"}};
};

TEST_F(StagedCommit, ANextRunCompletesACommitStoppedAtAnyPoint) {
    const struct {
        const char* stoppedAt;
        bool droppedDeleted;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> renamedBefore;
        bool recordWritten;
    } cases[] = {
        {"journal written", false, {}, false},
        {"dropped file deleted", true, {}, false},
        {"first rename done", true, {{L"a.bin.new", L"a.bin"}}, false},
        {"every rename done", true,
         {{L"a.bin.new", L"a.bin"}, {L"sub\\b.bin.new", L"sub\\b.bin"}, {L"sub\\new.bin.new", L"sub\\new.bin"}}, false},
        {"record written", true,
         {{L"a.bin.new", L"a.bin"}, {L"sub\\b.bin.new", L"sub\\b.bin"}, {L"sub\\new.bin.new", L"sub\\new.bin"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stoppedAt);
        writeJournal(stage());
        if (c.droppedDeleted) removeTree(at(L"dropped"));
        for (const auto& [from, to] : c.renamedBefore)
            ASSERT_TRUE(MoveFileExW(at(from).c_str(), at(to).c_str(), MOVEFILE_REPLACE_EXISTING));
        if (c.recordWritten) place(L"install.json", recordOf(kNewRelease));
        const CommitOutcome outcome = completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget);
        EXPECT_TRUE(outcome.completed);
        EXPECT_EQ(outcome.failedPath, L"");
        EXPECT_TRUE(outcome.notPlaced.empty());
        expectCommitted();
        EXPECT_TRUE(completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget).completed)
            << "nothing left to do is no failure";
    }
}

// A staged file that is gone at its rename: renamed before a kill, or taken away by another program. The record
// keeps the digest of what the target holds.
TEST_F(StagedCommit, ATargetWithoutItsStagedFileKeepsItsOldDigestInTheRecord) {
    const struct {
        const char* name;
        TargetCheck check;
        const char* targetHolds;
        bool previousKnown;
        const char* recorded;  // null: no entry
    } cases[] = {
        {"the run's commit, already the new content", TargetCheck::StagedByThisRun, "new a", true, "new a"},
        {"the run's commit, the old content", TargetCheck::StagedByThisRun, "old a", true, "old a"},
        {"the run's commit, no earlier digest", TargetCheck::StagedByThisRun, "old a", false, nullptr},
        {"a killed run's commit, renamed", TargetCheck::HashEveryTarget, "new a", true, "new a"},
        {"a killed run's commit, never staged whole", TargetCheck::HashEveryTarget, "old a", true, "old a"},
        {"a killed run's commit, no earlier digest", TargetCheck::HashEveryTarget, "other", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommitJournal journal = stage();
        if (!c.previousKnown) journal.previousDigests.erase("a.bin");
        writeJournal(journal);
        ASSERT_TRUE(DeleteFileW(at(L"a.bin.new").c_str()));
        place(L"a.bin", c.targetHolds);
        const CommitOutcome outcome = completeCommit(installDir, LockWait{}, c.check);
        EXPECT_TRUE(outcome.completed);
        const bool placed = std::string(c.targetHolds) == "new a";
        EXPECT_EQ(outcome.notPlaced, placed ? std::vector<std::string>{} : std::vector<std::string>{"a.bin"});
        const nlohmann::json files = recordedFilesIn(installDir);
        if (c.recorded)
            EXPECT_EQ(files.value("a.bin", ""), sha256Of(c.recorded));
        else
            EXPECT_FALSE(files.contains("a.bin"));
        EXPECT_EQ(files.value("sub/b.bin", ""), sha256Of("new b")) << "the other files are recorded as placed";
        EXPECT_EQ(readFileBytes(at(L"sub\\b.bin")), "new b");
        EXPECT_FALSE(pathExists(at(commitJournalName)));
    }
}

// A power cut after an older program's commit can leave a renamed file of the right length holding zeros.
TEST_F(StagedCommit, AKilledRunsCommitIsCheckedByTheDigestOfEveryTarget) {
    writeJournal(stage());
    for (const auto& [from, to] : {std::pair{L"a.bin.new", L"a.bin"}, {L"sub\\b.bin.new", L"sub\\b.bin"}})
        ASSERT_TRUE(MoveFileExW(at(from).c_str(), at(to).c_str(), MOVEFILE_REPLACE_EXISTING));
    place(L"sub\\b.bin", std::string(5, '\0'));
    const CommitOutcome outcome = completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.notPlaced, std::vector<std::string>{"sub/b.bin"});
    const nlohmann::json files = recordedFilesIn(installDir);
    EXPECT_EQ(files.value("sub/b.bin", ""), sha256Of("old b")) << "so the next plan fetches it again";
    EXPECT_EQ(files.value("a.bin", ""), sha256Of("new a"));
    EXPECT_EQ(files.value("sub/new.bin", ""), sha256Of("added"));
}

TEST_F(StagedCommit, AJournalOfAnEarlierVersionIsCompleted) {
    stage();
    nlohmann::json journal = {{"renames", {"a.bin", "sub/b.bin", "sub/new.bin"}},
                              {"deletions", {"dropped/c.bin"}},
                              {"record", recordOf(kNewRelease)}};
    place(commitJournalName, journal.dump(1));
    EXPECT_TRUE(completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget).completed);
    expectCommitted();
}

TEST_F(StagedCommit, AReadOnlyTargetIsReplacedAndStaysReadOnly) {
    writeJournal(stage());
    // Windows refuses to rename over a read-only file (Wine lets it happen, and the new file loses the attribute).
    ASSERT_TRUE(SetFileAttributesW(at(L"a.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    const CommitOutcome outcome = completeCommit(installDir, noWait(), TargetCheck::StagedByThisRun);
    EXPECT_TRUE(outcome.completed) << outcome.error;
    expectCommitted();
    EXPECT_TRUE(GetFileAttributesW(at(L"a.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(GetFileAttributesW(at(L"sub\\b.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(at(L"a.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(StagedCommit, AFolderThatBecomesAFileAndAFileThatBecomesAFolder) {
    place(L"x\\a.bin", "old x/a");  // release 1: the folder x; release 2: the file x
    place(L"y", "old y");           // release 1: the file y; release 2: the folder y
    const std::map<std::string, std::string> release2 = {{"x", "new x"}, {"y/b.bin", "new y/b"}};
    EXPECT_EQ(stagedPathOf(installDir, "x"), at(L"x.new"));
    const std::wstring stagedB = stagedPathOf(installDir, "y/b.bin");
    EXPECT_EQ(stagedB, at(L"update-cache\\staged\\y\\b.bin.new")) << "no folder y can be made while the file stands";
    place(L"x.new", "new x");
    place(L"update-cache\\staged\\y\\b.bin.new", "new y/b");
    CommitJournal journal;
    journal.renames = {"x", "y/b.bin"};
    journal.deletions = {"x/a.bin", "y"};
    journal.recordText = recordOf(release2);
    journal.stagedElsewhere["y/b.bin"] = L"update-cache\\staged\\y\\b.bin.new";
    writeJournal(journal);
    const CommitOutcome outcome = completeCommit(installDir, noWait(), TargetCheck::StagedByThisRun);
    EXPECT_TRUE(outcome.completed) << toUtf8(outcome.failedPath) << " " << outcome.error;
    EXPECT_EQ(readFileBytes(at(L"x")), "new x");
    EXPECT_EQ(readFileBytes(at(L"y\\b.bin")), "new y/b");
    EXPECT_EQ(readFileBytes(at(L"install.json")), recordOf(release2));
    EXPECT_FALSE(pathExists(at(L"x.new")));
    EXPECT_FALSE(pathExists(at(L"update-cache\\staged\\y\\b.bin.new")));
    EXPECT_EQ(stagedPathOf(installDir, "y/b.bin"), at(L"y\\b.bin.new")) << "once y is a folder";
}

TEST_F(StagedCommit, AFolderOfOtherFilesWhereTheFileGoesStopsTheCommitWithItsCause) {
    place(L"x\\a.bin", "old x/a");
    place(L"x\\notes.txt", "the user's own");
    place(L"x.new", "new x");
    CommitJournal journal;
    journal.renames = {"x"};
    journal.deletions = {"x/a.bin"};
    journal.recordText = recordOf({{"x", "new x"}});
    writeJournal(journal);
    const CommitOutcome outcome = completeCommit(installDir, noWait(), TargetCheck::StagedByThisRun);
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.failedPath, at(L"x"));
    EXPECT_EQ(failedPathState(outcome.failedPath), FailedPathState::Folder);
    EXPECT_EQ(commitFailureText(outcome.failedPath, outcome.error, FailedPathState::Folder),
              L"На месте файла " + at(L"x") + L" осталась папка с файлами — уберите её и повторите.");
    EXPECT_TRUE(pathExists(at(commitJournalName))) << "kept for the next run";
    EXPECT_EQ(readFileBytes(at(L"x\\notes.txt")), "the user's own");
    EXPECT_FALSE(pathExists(at(L"install.json")));

    ASSERT_TRUE(DeleteFileW(at(L"x\\notes.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(at(L"x").c_str()));
    EXPECT_TRUE(completeCommit(installDir, noWait(), TargetCheck::HashEveryTarget).completed);
    EXPECT_EQ(readFileBytes(at(L"x")), "new x");
}

TEST_F(StagedCommit, ATargetHeldOpenStopsTheCommitUntilItIsFree) {
    writeJournal(stage());
    UniqueHandle holder(CreateFileW(at(L"sub\\b.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_TRUE(isFileInUse(at(L"sub\\b.bin"))) << "the run checks this before it writes the journal";
    const CommitOutcome outcome = completeCommit(installDir, noWait(), TargetCheck::StagedByThisRun);
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.failedPath, at(L"sub\\b.bin"));
    EXPECT_EQ(failedPathState(outcome.failedPath), FailedPathState::FileInUse);
    EXPECT_EQ(commitFailureText(outcome.failedPath, outcome.error, failedPathState(outcome.failedPath)),
              L"Файл занят: " + at(L"sub\\b.bin") + L" — закройте макетор.");
    EXPECT_TRUE(pathExists(at(commitJournalName))) << "kept for the next run";
    EXPECT_FALSE(pathExists(at(L"install.json")));
    holder.reset();
    EXPECT_EQ(readFileBytes(at(L"sub\\b.bin")), "old b");
    EXPECT_TRUE(completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget).completed);
    expectCommitted();
}

TEST_F(StagedCommit, ARecordThatCannotBeWrittenKeepsTheJournal) {
    writeJournal(stage());
    place(L"install.json", "the old record");
    {
        UniqueHandle holder(CreateFileW(at(L"install.json").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        const CommitOutcome outcome = completeCommit(installDir, noWait(), TargetCheck::StagedByThisRun);
        EXPECT_FALSE(outcome.completed);
        EXPECT_EQ(outcome.failedPath, at(L"install.json"));
        EXPECT_EQ(readFileBytes(at(L"install.json")), "the old record");
        EXPECT_TRUE(pathExists(at(commitJournalName))) << "the next run writes the record";
        EXPECT_FALSE(pathExists(at(L"install.json.new")));
    }
    EXPECT_TRUE(completeCommit(installDir, noWait(), TargetCheck::HashEveryTarget).completed);
    expectCommitted();
}

TEST_F(StagedCommit, AJournalThatIsNotWholeIsDroppedAndChangesNothing) {
    place(L"a.bin", "old a");
    place(L"a.bin.new", "new a");
    place(commitJournalName, "{ \"renames\": [\"a.bin\"");
    EXPECT_TRUE(completeCommit(installDir, LockWait{}, TargetCheck::HashEveryTarget).completed);
    EXPECT_FALSE(pathExists(at(commitJournalName)));
    EXPECT_EQ(readFileBytes(at(L"a.bin")), "old a");
    EXPECT_FALSE(pathExists(at(L"install.json")));
}

TEST_F(StagedCommit, DiscardingACommitRemovesItsStagedFilesWhereverTheyWait) {
    CommitJournal journal = stage();
    place(L"update-cache\\staged\\y\\b.bin.new", "new y/b");
    journal.renames.push_back("y/b.bin");
    journal.stagedElsewhere["y/b.bin"] = L"update-cache\\staged\\y\\b.bin.new";
    journal.stagedElsewhere["sub/outside.bin"] = L"..\\victim.txt";
    journal.renames.push_back("sub/outside.bin");
    writeJournal(journal);
    discardCommit(installDir, LockWait{});
    for (const wchar_t* staged : {L"a.bin.new", L"sub\\b.bin.new", L"sub\\new.bin.new",
                                  L"update-cache\\staged\\y\\b.bin.new", commitJournalName})
        EXPECT_FALSE(pathExists(at(staged))) << toUtf8(staged);
    EXPECT_EQ(readFileBytes(at(L"a.bin")), "old a");
    EXPECT_TRUE(pathExists(victim)) << "a journal never leads outside the folder";
}

TEST(CommitFailureText, NamesTheFileAndTheCause) {
    const std::wstring path = L"C:\\Torvel\\Maketor\\maketor.exe";
    using State = FailedPathState;
    const struct {
        DWORD error;
        State state;
        std::wstring text;
    } cases[] = {
        {ERROR_SHARING_VIOLATION, State::File, L"Файл занят: " + path + L" — закройте макетор."},
        {ERROR_LOCK_VIOLATION, State::File, L"Файл занят: " + path + L" — закройте макетор."},
        {ERROR_ACCESS_DENIED, State::FileInUse, L"Файл занят: " + path + L" — закройте макетор."},
        {ERROR_ACCESS_DENIED, State::File, L"Нет доступа к файлу " + path + L" — проверьте права на папку и повторите."},
        {ERROR_ACCESS_DENIED, State::Folder,
         L"На месте файла " + path + L" осталась папка с файлами — уберите её и повторите."},
        {ERROR_DISK_FULL, State::File, L"Не записать " + path + L" — на диске нет места."},
        {ERROR_HANDLE_DISK_FULL, State::File, L"Не записать " + path + L" — на диске нет места."},
        {ERROR_INVALID_NAME, State::File, L"Не заменить файл " + path + L" (ошибка 123) — повторите."},
    };
    for (const auto& c : cases) EXPECT_EQ(commitFailureText(path, c.error, c.state), c.text) << c.error;
}

// The names the program keeps in the folder are the ones the manifest rules keep releases away from.
TEST(SetupOwnFiles, NoReleaseMayListThem) {
    for (const std::wstring& name : {std::wstring(installRecordName), std::wstring(installRecordName) + L".new",
                                     std::wstring(commitJournalName), std::wstring(commitJournalName) + L".new",
                                     std::wstring(downloadCacheName), std::wstring(downloadCacheName) + L"\\x.lzms"})
        EXPECT_NE(manifestPathProblem(toUtf8(name)), "") << toUtf8(name);
}

}  // namespace
