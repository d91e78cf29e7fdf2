// unpack BLOB OUTPUT_FILE: one blob decoded with the product's own LZMS decoder.
#include <filesystem>

#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_unpack.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"

int runUnpack(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {}, parsed, problem) || parsed.operands.size() != 2)
        return failUsage((problem.empty() ? "" : problem + "; ") + "usage: maketor-publish unpack BLOB OUTPUT_FILE");
    const std::filesystem::path blobPath = parsed.operands[0];
    const std::filesystem::path outputPath = parsed.operands[1];
    std::string blob;
    if (!readWholeFile(blobPath, blob)) return fail(blobPath.string() + ": cannot be read");
    UnpackedBlob content;
    if (!unpackBlob(blob, content, problem)) return fail(blobPath.string() + ": " + problem);
    if (!writeFileReplacing(outputPath, content.bytes.get(), size_t(content.size)))
        return fail(outputPath.string() + ": cannot be written");
    return 0;
}
