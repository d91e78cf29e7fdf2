#pragma once
// A changed file staged from a patch against the copy installed: the patch fetched as blobs are (a small one
// into memory, a larger one through the download cache), decoded with the old file as its reference straight
// into the target's ".new" sibling, accepted only when the result's SHA-256 is the file's. Both files are
// mapped, not read: private memory stays at zstd's context and one piece of the patch (about 0.4 MiB) whatever
// their sizes, with both files' sizes in address space.
#include <string>

#include "engine/blob_transfer.h"
#include "engine/manifest.h"

enum class PatchOutcome {
    Applied,    // the ".new" sibling holds the file's verified content
    Unusable,   // the patch could not be had or did not yield the file; no ".new" sibling is left
    Cancelled,  // the user cancelled, or another transfer of the run failed; no ".new" sibling is left
};

// The patch to plan for a file that is to be fetched: one from the digest the install record holds for it,
// when the file on disk still has that digest (it is hashed here) and both sizes can be patched. Null when
// there is none.
const FilePatch* plannedPatch(const ManifestFile& file, const std::string& recordedDigest,
                              const std::wstring& installDir);

// target: the installed file the patch applies to; staged: its ".new" sibling.
PatchOutcome patchIntoStaged(const TransferContext& context, const FilePatch& patch, const ManifestFile& file,
                             const std::wstring& target, const std::wstring& staged);
