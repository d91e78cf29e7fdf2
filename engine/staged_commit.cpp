#include "engine/staged_commit.h"

#include <nlohmann/json.hpp>

#include "engine/install_record.h"
#include "engine/recorded_files.h"
#include "engine/staged_file.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/text.h"

const wchar_t* const commitJournalName = L"install-commit.json";

namespace {

using Json = nlohmann::json;

// A journal that does not parse was never whole (it is written through a rename), so there is nothing of
// it to finish. "previous" and "staged" are absent from the journals of earlier versions.
bool readCommitJournal(const std::wstring& path, CommitJournal& journal) {
    std::string text;
    if (!readWholeFile(path, text)) return false;
    const Json parsed = Json::parse(text, nullptr, false);
    if (!parsed.is_object()) return false;
    try {
        journal.renames = parsed.at("renames").get<std::vector<std::string>>();
        journal.deletions = parsed.at("deletions").get<std::vector<std::string>>();
        journal.recordText = parsed.at("record").get<std::string>();
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    // What is not of the expected form among these is left out: the rest of the journal still stands.
    const Json previous = parsed.value("previous", Json::object());
    for (const auto& [path, digest] : previous.items())
        if (digest.is_string()) journal.previousDigests[path] = digest.get<std::string>();
    const Json staged = parsed.value("staged", Json::object());
    for (const auto& [path, place] : staged.items())
        if (place.is_string()) journal.stagedElsewhere[path] = toUtf16(place.get<std::string>());
    return true;
}

// Empty when the journal names a place outside the installation folder.
std::wstring stagedFileOf(const std::wstring& installDir, const CommitJournal& journal, const std::string& path) {
    const auto elsewhere = journal.stagedElsewhere.find(path);
    if (elsewhere == journal.stagedElsewhere.end()) {
        const std::wstring target = recordedFilePath(installDir, path);
        return target.empty() ? target : target + L".new";
    }
    const std::wstring staged = pathJoin(installDir, elsewhere->second);
    return isStrictlyInside(staged, installDir) ? staged : std::wstring();
}

CommitOutcome failedAt(const std::wstring& path, DWORD error) {
    CommitOutcome outcome;
    outcome.completed = false;
    outcome.failedPath = path;
    outcome.error = error;
    return outcome;
}

// Renames the staged file over the target, through a target that was read-only (which the rename would be
// refused for) and into a folder that a deleted file left to be made. The target keeps its read-only attribute.
bool placeStagedFile(const std::wstring& staged, const std::wstring& target, const LockWait& wait) {
    createFolderTree(parentFolder(target));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                          (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool renamed = retryWhileLocked(target, [&] {
        return MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }, wait);
    const DWORD error = GetLastError();
    if (readOnly) {
        const DWORD now = GetFileAttributesW(target.c_str());
        if (now != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), now | FILE_ATTRIBUTE_READONLY);
    }
    SetLastError(error);
    return renamed;
}

// The record's "files" member with every path in doubt checked against the disk: a path whose target does not
// hash to its new digest gets back the digest the old record gave it, or no entry.
std::string recordTrueToTheDisk(const std::wstring& installDir, const CommitJournal& journal,
                                const std::vector<std::string>& inDoubt, std::vector<std::string>& notPlaced) {
    if (inDoubt.empty()) return journal.recordText;
    Json record = Json::parse(journal.recordText, nullptr, false);
    if (!record.is_object() || !record.contains("files") || !record["files"].is_object()) return journal.recordText;
    Json& files = record["files"];
    for (const std::string& path : inDoubt) {
        const auto entry = files.find(path);
        if (entry == files.end() || !entry->is_string()) continue;
        const std::wstring target = recordedFilePath(installDir, path);
        if (!target.empty() && sha256OfFile(target) == entry->get<std::string>()) continue;
        notPlaced.push_back(path);
        const auto previous = journal.previousDigests.find(path);
        if (previous != journal.previousDigests.end())
            *entry = previous->second;
        else
            files.erase(path);
    }
    return notPlaced.empty() ? journal.recordText : installRecordTextOf(record);
}

}  // namespace

bool writeCommitJournal(const std::wstring& installDir, const CommitJournal& journal) {
    Json text = Json::object();
    text["renames"] = journal.renames;
    text["deletions"] = journal.deletions;
    text["record"] = journal.recordText;
    if (!journal.previousDigests.empty()) text["previous"] = journal.previousDigests;
    if (!journal.stagedElsewhere.empty()) {
        Json staged = Json::object();
        for (const auto& [path, relative] : journal.stagedElsewhere) staged[path] = toUtf8(relative);
        text["staged"] = std::move(staged);
    }
    const std::string bytes = text.dump(1, ' ', false, Json::error_handler_t::replace);
    return replaceFileContent(pathJoin(installDir, commitJournalName), bytes.data(), bytes.size());
}

bool commitJournalPending(const std::wstring& installDir) {
    return entryExists(pathJoin(installDir, commitJournalName));
}

CommitOutcome completeCommit(const std::wstring& installDir, const LockWait& wait, TargetCheck check) {
    const std::wstring journalPath = pathJoin(installDir, commitJournalName);
    if (!entryExists(journalPath)) return {};
    CommitJournal journal;
    if (!readCommitJournal(journalPath, journal)) {
        DeleteFileW(journalPath.c_str());
        return {};
    }
    for (const std::string& key : journal.deletions) deleteRecordedFile(installDir, key, wait);

    std::vector<std::string> inDoubt;
    for (const std::string& path : journal.renames) {
        const std::wstring target = recordedFilePath(installDir, path);
        const std::wstring staged = stagedFileOf(installDir, journal, path);
        if (target.empty() || staged.empty()) continue;
        if (!entryExists(staged)) {
            // Renamed before a kill, or taken away by another program: only its digest can tell.
            if (check == TargetCheck::StagedByThisRun) inDoubt.push_back(path);
            continue;
        }
        if (!placeStagedFile(staged, target, wait)) return failedAt(target, GetLastError());
    }
    if (check == TargetCheck::HashEveryTarget) inDoubt = journal.renames;

    CommitOutcome outcome;
    const std::string recordText = recordTrueToTheDisk(installDir, journal, inDoubt, outcome.notPlaced);
    const std::wstring recordPath = pathJoin(installDir, installRecordName);
    if (!retryWhileLocked(recordPath, [&] { return writeInstallRecordText(installDir, recordText); }, wait))
        return failedAt(recordPath, GetLastError());
    DeleteFileW(journalPath.c_str());
    return outcome;
}

std::wstring commitFailureText(const std::wstring& path, DWORD error, FailedPathState state) {
    if (state == FailedPathState::Folder)
        return L"На месте файла " + path + L" осталась папка с файлами — уберите её и повторите.";
    if (state == FailedPathState::FileInUse) error = ERROR_SHARING_VIOLATION;
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return L"Файл занят: " + path + L" — закройте макетор.";
        case ERROR_ACCESS_DENIED:
            return L"Нет доступа к файлу " + path + L" — проверьте права на папку и повторите.";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return L"Не записать " + path + L" — на диске нет места.";
        default:
            break;
    }
    return L"Не заменить файл " + path + L" (ошибка " + std::to_wstring(error) + L") — повторите.";
}

FailedPathState failedPathState(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return FailedPathState::Folder;
    return isFileInUse(path) ? FailedPathState::FileInUse : FailedPathState::File;
}

void discardCommit(const std::wstring& installDir, const LockWait& wait) {
    const std::wstring journalPath = pathJoin(installDir, commitJournalName);
    CommitJournal journal;
    if (readCommitJournal(journalPath, journal)) {
        for (const std::string& path : journal.renames) {
            if (journal.stagedElsewhere.count(path) == 0) {
                deleteRecordedFile(installDir, path + ".new", wait);  // and the folders it leaves empty
                continue;
            }
            const std::wstring staged = stagedFileOf(installDir, journal, path);
            if (!staged.empty()) retryWhileLocked(staged, [&] { return deleteFileOrEmptyFolder(staged); }, wait);
        }
    }
    deleteRecordedFile(installDir, toUtf8(commitJournalName), wait);
}
