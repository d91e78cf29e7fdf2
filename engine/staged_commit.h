#pragma once
// The commit of a run whose files are all staged (engine/staged_file.h), whole and flushed to disk. A journal of
// the deletions of dropped files, the renames and the new record is written (flushed, through a rename) before
// anything changes, then carried out in that order: dropped files first, so that a folder the release turns
// into a file is gone before the file takes its place; then the renames, each written through; then the record,
// flushed and renamed; the journal goes last. A run that finds a journal, because the one before was killed
// while committing, carries it out before anything else, so the installation ends as the release that was
// being committed, and the record claims no file that the disk does not hold.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/lock_retry.h"

// File name of the journal inside the installation folder.
extern const wchar_t* const commitJournalName;

struct CommitJournal {
    std::vector<std::string> renames;    // release paths whose staged file replaces the file
    std::vector<std::string> deletions;  // record keys of files the new installation no longer has
    std::string recordText;              // the new "install.json"
    // The digests the old record gave the renamed paths, kept for any that the commit cannot place.
    std::map<std::string, std::string> previousDigests;
    // Staged files that are not their target's ".new" sibling, relative to the installation folder.
    std::map<std::string, std::wstring> stagedElsewhere;
};

// False when the journal could not be written; nothing has been changed then.
bool writeCommitJournal(const std::wstring& installDir, const CommitJournal& journal);
// True when installDir holds a journal, whole or not.
bool commitJournalPending(const std::wstring& installDir);

// How the commit learns which targets hold their new content.
enum class TargetCheck {
    // The run's own commit: what it renamed is placed; a staged file gone before its rename is hashed.
    StagedByThisRun,
    // A journal left by a killed run: every target is hashed once the renames are done, for the commit may have
    // been stopped anywhere, and staged files written by an older program were not flushed to disk.
    HashEveryTarget,
};

struct CommitOutcome {
    bool completed = true;  // false: a step failed, and the journal stays for the next run
    std::wstring failedPath;  // the file a failed step was for
    DWORD error = ERROR_SUCCESS;  // and the platform's reason
    // Paths that do not hold their new content after the commit; the record keeps their old digest (or none),
    // so that the next plan fetches them again.
    std::vector<std::string> notPlaced;
};

// Carries out the journal in installDir, when there is one (a journal that is not whole is dropped: it was
// written through a rename, so it never began). A step that meets a transient lock waits within wait's bound;
// a read-only target is made writable for its rename and read-only again after it. Completed (with nothing
// to do) when there is no journal.
CommitOutcome completeCommit(const std::wstring& installDir, const LockWait& wait, TargetCheck check);
// What stands at the path of a failed step, as far as the sentence for the user is concerned.
enum class FailedPathState { File, FileInUse, Folder };
// The sentence for the user when a step of the commit failed: the file and the reason. A file that another
// process holds is refused a rename with "access denied" as often as with a sharing violation, so what stands
// at the path decides before the platform's error does.
std::wstring commitFailureText(const std::wstring& path, DWORD error, FailedPathState state);
// What stands at the path now.
FailedPathState failedPathState(const std::wstring& path);
// Removes the journal and the staged files it lists, for the uninstaller: what a killed commit would have
// placed goes with the installation.
void discardCommit(const std::wstring& installDir, const LockWait& wait);
