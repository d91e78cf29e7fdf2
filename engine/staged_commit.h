#pragma once
// The commit of a run whose files are all staged as ".new" siblings: a journal of the renames, the deletions
// of dropped files and the new record's text is written (flushed, through a rename) before the first rename,
// then carried out. A run that finds a journal, because the one before was killed while committing, carries
// it out before anything else, so the installation ends as the release that was being committed.
#include <string>
#include <vector>

#include "platform/lock_retry.h"

// File name of the journal inside the installation folder.
extern const wchar_t* const commitJournalName;

struct CommitJournal {
    std::vector<std::string> renames;    // release paths whose ".new" sibling replaces the file
    std::vector<std::string> deletions;  // record keys of files the new installation no longer has
    std::string recordText;              // the new "install.json"
};

// False when the journal could not be written; nothing has been renamed then.
bool writeCommitJournal(const std::wstring& installDir, const CommitJournal& journal);
// Carries out the journal in installDir, when there is one: every staged file still there is renamed over
// its target (one already renamed is skipped), the dropped files are deleted, the record is written and the
// journal removed. A rename or deletion that meets a transient lock waits within wait's bound. False with
// blockedTarget set when a rename failed (the file is in use); the journal then stays, for the next run to
// finish. True when there was no journal.
bool completeCommit(const std::wstring& installDir, const LockWait& wait, std::wstring& blockedTarget);
// Removes the journal and the staged files it lists, for the uninstaller: what a killed commit would have
// placed goes with the installation.
void discardCommit(const std::wstring& installDir, const LockWait& wait);
