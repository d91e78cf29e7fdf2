#include "engine/staged_commit.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include "engine/install_record.h"
#include "engine/recorded_files.h"
#include "platform/file_system.h"
#include "platform/text.h"

const wchar_t* const commitJournalName = L"install-commit.json";

namespace {

// A journal that does not parse was never whole (it is written through a rename), so there is nothing of
// it to finish.
bool readCommitJournal(const std::wstring& path, CommitJournal& journal) {
    std::string text;
    if (!readWholeFile(path, text)) return false;
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_object()) return false;
    try {
        journal.renames = parsed.at("renames").get<std::vector<std::string>>();
        journal.deletions = parsed.at("deletions").get<std::vector<std::string>>();
        journal.recordText = parsed.at("record").get<std::string>();
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    return true;
}

}  // namespace

bool writeCommitJournal(const std::wstring& installDir, const CommitJournal& journal) {
    nlohmann::json text = nlohmann::json::object();
    text["renames"] = journal.renames;
    text["deletions"] = journal.deletions;
    text["record"] = journal.recordText;
    const std::string bytes = text.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
    return replaceFileContent(pathJoin(installDir, commitJournalName), bytes.data(), bytes.size());
}

bool completeCommit(const std::wstring& installDir, const LockWait& wait, std::wstring& blockedTarget) {
    const std::wstring journalPath = pathJoin(installDir, commitJournalName);
    if (!entryExists(journalPath)) return true;
    CommitJournal journal;
    if (!readCommitJournal(journalPath, journal)) {
        DeleteFileW(journalPath.c_str());
        return true;
    }
    for (const std::string& path : journal.renames) {
        const std::wstring target = recordedFilePath(installDir, path);
        if (target.empty()) continue;
        const std::wstring staged = target + L".new";
        if (!entryExists(staged)) continue;  // renamed before the previous run was stopped
        const bool renamed = retryWhileLocked(target, [&] {
            return MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        }, wait);
        if (!renamed) {
            blockedTarget = target;
            return false;
        }
    }
    for (const std::string& key : journal.deletions) deleteRecordedFile(installDir, key, wait);
    writeInstallRecordText(installDir, journal.recordText);
    DeleteFileW(journalPath.c_str());
    return true;
}

void discardCommit(const std::wstring& installDir, const LockWait& wait) {
    const std::wstring journalPath = pathJoin(installDir, commitJournalName);
    CommitJournal journal;
    if (readCommitJournal(journalPath, journal))
        for (const std::string& path : journal.renames)
            if (isSafeRecordKey(path)) deleteRecordedFile(installDir, path + ".new", wait);
    deleteRecordedFile(installDir, toUtf8(commitJournalName), wait);
}
