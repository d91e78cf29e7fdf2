// release --key PRIVATE_KEY --version VERSION [--date DATE] [--expires-in DURATION] [--allow-downgrade]
// [--block-size BYTES] [--jobs N] [--pack-size BYTES] [--previous DIR]... SOURCE_DIR RELEASE_DIR: every
// regular file below SOURCE_DIR becomes a blob and a manifest entry, the blobs of small files also go into
// packs, a file that changed since a previous release also gets a patch from its old content; then the signed
// manifest. A version that comes before the release already in RELEASE_DIR stops the run before anything is
// written, unless --allow-downgrade says it is meant.
//
// Passes over the files, each on a pool of workers with results taken in order. The first hashes every file
// and checks a blob already published under that hash. The second compresses what has no good blob yet,
// chunk by chunk, so that one large file keeps every worker busy too; its chunks are written in order, so the
// blobs are the same bytes whatever the number of workers. Then the packs are written from the blobs. The third
// pass makes the patches from the files of the releases named by --previous and keeps those under half their
// blob's size.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"
#include "engine/pack_plan.h"
#include "engine/release_freshness.h"
#include "platform/lzms_container.h"
#include "platform/zstd_patch.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_check.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/key_files.h"
#include "tools/publisher/manifest_writing.h"
#include "tools/publisher/lzms_compress.h"
#include "tools/publisher/ordered_work.h"
#include "tools/publisher/pack_writer.h"
#include "tools/publisher/patch_check.h"
#include "tools/publisher/patch_make.h"
#include "tools/publisher/previous_release.h"
#include "tools/publisher/progress.h"
#include "tools/publisher/release_order.h"
#include "tools/publisher/signing.h"
#include "tools/publisher/source_files.h"

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;

// libwim's LZMS compressor takes about nine times the chunk size: 8 MiB chunks keep a worker near 100 MiB.
// Larger chunks shrink files far above 8 MiB by a few per cent more (--block-size up to 64 MiB).
constexpr uint64_t kDefaultBlockSize = uint64_t(8) << 20;
constexpr size_t kHashBuffer = size_t(1) << 20;

bool parseBlockSize(const std::string& text, uint64_t& blockSize) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    blockSize = std::stoull(text);
    return blockSize > 0 && blockSize <= kLzmsMaxChunkSize;
}

// A pack's cap must hold the largest blob that goes into one.
constexpr uint64_t kLargestPackSizeCap = uint64_t(1) << 30;

bool parsePackSize(const std::string& text, uint64_t& sizeCap) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    sizeCap = std::stoull(text);
    return sizeCap == 0 || (sizeCap >= kLargestPackedBlob && sizeCap <= kLargestPackSizeCap);
}

std::string todayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

std::string changedProblem(const SourceFile& source) {
    return source.location.string() + ": changed while it was being released; release again";
}

// The blob's length and digest, as the manifest lists them.
struct BlobEntry {
    uint64_t csize = 0;
    std::string csha256;
};

// What the first pass learns of one file.
struct FileLook {
    std::string problem;
    std::string sha256;
    bool blobGood = false;  // its blob is published already and unpacks to it
    BlobEntry blob;
};

FileLook lookAtFile(const SourceFile& source, const fs::path& blobsDir, LzmsChunkDecoder& decoder,
                    std::atomic<uint64_t>& bytesDone) {
    FileLook look;
    const FileDescriptor file = openForReading(source.location);
    std::vector<uint8_t> buffer(kHashBuffer);
    Sha256Stream hash;
    uint64_t count = 0;
    ssize_t got = file ? 0 : -1;
    while (file && (got = readSome(file, buffer.data(), buffer.size())) > 0) {
        hash.add(buffer.data(), size_t(got));
        count += uint64_t(got);
        bytesDone += uint64_t(got);
    }
    if (got < 0) {
        look.problem = source.location.string() + ": cannot be read";
        return look;
    }
    if (count != source.size) {
        look.problem = changedProblem(source);
        return look;
    }
    look.sha256 = hash.finishHex();
    std::atomic<uint64_t> unpacked{0};
    const BlobFacts facts = readBlobFacts(blobsDir / (look.sha256 + ".lzms"), source.size, look.sha256, decoder,
                                          unpacked);
    look.blobGood = facts.readable && facts.problem.empty();
    look.blob = BlobEntry{facts.csize, facts.csha256};
    return look;
}

// One chunk of the second pass: a range of a file that needs a blob. An empty file is one task of length 0.
struct ChunkTask {
    size_t file = 0;
    uint64_t chunkSize = 0;  // of the file's container
    uint64_t offset = 0;
    size_t length = 0;
    bool first = false;
    bool last = false;
};

struct PackedChunk {
    std::string problem;
    std::vector<uint8_t> input;   // kept for the writer's digest of what was compressed
    std::vector<uint8_t> packed;  // empty: the chunk is stored raw
};

PackedChunk packChunk(const SourceFile& source, const ChunkTask& task, LzmsChunkCompressor& compressor,
                      std::atomic<uint64_t>& bytesDone) {
    PackedChunk chunk;
    if (task.length == 0) return chunk;
    chunk.input.resize(task.length);
    const FileDescriptor file = openForReading(source.location);
    if (!file || !readRange(file, task.offset, chunk.input.data(), task.length)) {
        chunk.problem = file ? changedProblem(source) : source.location.string() + ": cannot be read";
        return chunk;
    }
    if (!prepareLzmsCompressor(compressor, task.chunkSize)) {
        chunk.problem = source.location.string() + ": the LZMS compressor failed";
        return chunk;
    }
    packLzmsChunk(compressor, chunk.input.data(), chunk.input.size(), chunk.packed);
    bytesDone += task.length;
    return chunk;
}

// The blob being written by the second pass: its chunks arrive in order.
struct BlobWriter {
    bool start(const fs::path& path, uint64_t totalSize, uint64_t chunkSize) {
        file = std::make_unique<ReplacingFile>(path);
        content = Sha256Stream();
        blob = Sha256Stream();
        csize = 0;
        LzmsContainerHeader header;
        header.totalSize = totalSize;
        header.chunkSize = chunkSize;
        uint8_t bytes[kLzmsHeaderSize];
        writeLzmsHeader(header, bytes);
        return file->opened() && write(bytes, sizeof bytes);
    }
    bool add(const PackedChunk& chunk) {
        if (chunk.input.empty()) return true;
        content.add(chunk.input.data(), chunk.input.size());
        const std::vector<uint8_t>& stored = chunk.packed.empty() ? chunk.input : chunk.packed;
        uint8_t lengthWord[4];
        storeLzmsChunkLength(uint32_t(stored.size()), lengthWord);
        return write(lengthWord, sizeof lengthWord) && write(stored.data(), stored.size());
    }
    bool write(const void* data, size_t size) {
        blob.add(data, size);
        csize += size;
        return file->write(data, size);
    }

    std::unique_ptr<ReplacingFile> file;  // removed unless committed
    Sha256Stream content;
    Sha256Stream blob;
    uint64_t csize = 0;
};

struct ReleaseSettings {
    uint64_t blockSize = kDefaultBlockSize;
    size_t jobs = 1;
    uint64_t packSizeCap = kDefaultPackSizeCap;  // 0: no packs
};

struct ReleaseRun {
    std::vector<SourceFile> sources;
    std::vector<FileLook> looks;
    std::map<std::string, BlobEntry> written;  // blobs made by this run, by content digest
    size_t reused = 0;
    std::vector<PreviousRelease> previous;
    std::map<size_t, std::vector<FilePatch>> patches;  // kept patches, by file index
    size_t patchesMade = 0;
    std::vector<ReleasePack> packs;
};

const BlobEntry& blobOf(const ReleaseRun& run, size_t index) {
    const FileLook& look = run.looks[index];
    return look.blobGood ? look.blob : run.written.at(look.sha256);
}

OrderedWorkSettings workSettings(size_t jobs) { return OrderedWorkSettings{jobs, 2 * jobs}; }

// First pass: every file's digest, and whether its blob is there already.
bool lookAtFiles(ReleaseRun& run, const fs::path& blobsDir, size_t jobs, std::string& problem) {
    Progress progress("checking", run.sources.size(), 0);
    for (const SourceFile& source : run.sources) progress.bytesTotal += source.size;
    const std::vector<UniqueLzmsChunkDecoder> decoders = newChunkDecoders(jobs);
    const auto work = [&](size_t worker, size_t index) {
        return lookAtFile(run.sources[index], blobsDir, *decoders[worker], progress.bytesDone);
    };
    const auto take = [&](size_t index, FileLook& look) {
        if (!look.problem.empty()) {
            problem = look.problem;
            return false;
        }
        run.looks.push_back(std::move(look));
        progress.filesDone = index + 1;
        progress.path = index + 1 < run.sources.size() ? run.sources[index + 1].path : "";
        showProgress(progress);
        return true;
    };
    std::string failure;
    const bool done = runInOrder<FileLook>(run.sources.size(), workSettings(jobs), work, take,
                                           [&] { showProgress(progress); }, failure);
    clearProgressLine();
    if (!failure.empty()) problem = "checking the files failed: " + failure;
    return done;
}

// The chunks of every file whose content has no good blob yet, each content once, the largest files first:
// every blob is a file of its own, so the order is free, and the small files then keep every worker busy to the
// end instead of a large file's last chunks running alone.
std::vector<ChunkTask> planChunks(ReleaseRun& run, uint64_t blockSize, uint64_t& bytesTotal, size_t& filesTotal) {
    std::vector<size_t> files;
    std::set<std::string> planned;
    for (size_t index = 0; index < run.sources.size(); ++index) {
        const FileLook& look = run.looks[index];
        if (look.blobGood) {
            run.reused += 1;
            continue;
        }
        if (planned.insert(look.sha256).second) files.push_back(index);
    }
    std::stable_sort(files.begin(), files.end(),
                     [&run](size_t a, size_t b) { return run.sources[a].size > run.sources[b].size; });
    std::vector<ChunkTask> tasks;
    for (const size_t index : files) {
        const uint64_t size = run.sources[index].size;
        const uint64_t chunkSize = lzmsChunkSizeFor(size, blockSize);
        bytesTotal += size;
        filesTotal += 1;
        uint64_t offset = 0;
        do {
            ChunkTask task;
            task.file = index;
            task.chunkSize = chunkSize;
            task.offset = offset;
            task.length = size_t(std::min(chunkSize, size - offset));
            task.first = offset == 0;
            offset += task.length;
            task.last = offset == size;
            tasks.push_back(task);
        } while (offset < size);
    }
    return tasks;
}

// Second pass: compresses the planned chunks on the workers and writes each blob in chunk order.
bool writeBlobs(ReleaseRun& run, const fs::path& blobsDir, const ReleaseSettings& settings, std::string& problem) {
    Progress progress("compressing", 0, 0);
    const std::vector<ChunkTask> tasks = planChunks(run, settings.blockSize, progress.bytesTotal, progress.filesTotal);
    std::vector<LzmsChunkCompressor> compressors(settings.jobs);
    BlobWriter writer;
    const auto work = [&](size_t worker, size_t index) {
        const ChunkTask& task = tasks[index];
        return packChunk(run.sources[task.file], task, compressors[worker], progress.bytesDone);
    };
    const auto take = [&](size_t index, PackedChunk& chunk) {
        const ChunkTask& task = tasks[index];
        const SourceFile& source = run.sources[task.file];
        const std::string& sha256 = run.looks[task.file].sha256;
        const fs::path blobPath = blobsDir / (sha256 + ".lzms");
        if (chunk.problem.empty() && task.first && !writer.start(blobPath, source.size, task.chunkSize))
            chunk.problem = blobPath.string() + ": cannot be written";
        if (chunk.problem.empty() && !writer.add(chunk)) chunk.problem = blobPath.string() + ": cannot be written";
        if (chunk.problem.empty() && task.last) {
            if (writer.content.finishHex() != sha256)
                chunk.problem = changedProblem(source);
            else if (!writer.file->commit())
                chunk.problem = blobPath.string() + ": cannot be written";
            run.written[sha256] = BlobEntry{writer.csize, writer.blob.finishHex()};
            progress.filesDone += 1;
        }
        problem = chunk.problem;
        progress.path = index + 1 < tasks.size() ? run.sources[tasks[index + 1].file].path : "";
        showProgress(progress);
        return problem.empty();
    };
    if (!tasks.empty()) progress.path = run.sources[tasks.front().file].path;
    std::string failure;
    const bool done = runInOrder<PackedChunk>(tasks.size(), workSettings(settings.jobs), work, take,
                                              [&] { showProgress(progress); }, failure);
    clearProgressLine();
    if (!failure.empty()) problem = "compressing failed: " + failure;
    return done;
}

// One patch to make: a file of the new release from one old content of it in a previous release.
struct PatchTask {
    size_t file = 0;
    size_t previous = 0;  // the release whose blob holds the old content
    std::string from;     // its SHA-256
};

struct MadePatch {
    std::string problem;
    std::vector<uint8_t> bytes;  // empty unless kept
    std::string sha256;
    bool kept = false;
};

// A patch for every file whose path a previous release lists with other content, each old content once,
// within the sizes a patch can span.
std::vector<PatchTask> planPatches(const ReleaseRun& run, uint64_t& bytesTotal) {
    std::vector<PatchTask> tasks;
    for (size_t index = 0; index < run.sources.size(); ++index) {
        const SourceFile& source = run.sources[index];
        std::vector<std::string> planned;
        for (size_t previous = 0; previous < run.previous.size(); ++previous) {
            for (const ManifestFile& old : run.previous[previous].manifest.files) {
                if (old.path != source.path || old.sha256 == run.looks[index].sha256 ||
                    !isPatchableSize(old.size, source.size) ||
                    std::find(planned.begin(), planned.end(), old.sha256) != planned.end())
                    continue;
                planned.push_back(old.sha256);
                tasks.push_back(PatchTask{index, previous, old.sha256});
                bytesTotal += source.size;
            }
        }
    }
    return tasks;
}

MadePatch makeFilePatch(const ReleaseRun& run, const PatchTask& task, std::atomic<uint64_t>& bytesDone) {
    MadePatch made;
    const SourceFile& source = run.sources[task.file];
    UnpackedBlob old;
    std::string fresh;
    if (!readOldFile(run.previous[task.previous].folder, task.from, old, made.problem)) return made;
    if (!readWholeFile(source.location, fresh)) {
        made.problem = source.location.string() + ": cannot be read";
        return made;
    }
    const auto* freshBytes = reinterpret_cast<const uint8_t*>(fresh.data());
    if (fresh.size() != source.size || sha256Hex(fresh) != run.looks[task.file].sha256) {
        made.problem = changedProblem(source);
        return made;
    }
    std::vector<uint8_t> patch;
    if (!makePatch(old.bytes.get(), size_t(old.size), freshBytes, fresh.size(), patch, made.problem)) {
        made.problem = source.location.string() + ": " + made.problem;
        return made;
    }
    bytesDone += source.size;
    made.kept = isWorthKeeping(patch.size(), blobOf(run, task.file).csize);
    if (!made.kept) return made;
    // What is published is what the product can apply.
    if (!patchYields(old.bytes.get(), size_t(old.size), patch.data(), patch.size(), source.size,
                     run.looks[task.file].sha256, made.problem)) {
        made.problem = source.location.string() + ": the patch made from " + task.from + " " + made.problem;
        return made;
    }
    made.sha256 = sha256Hex(patch.data(), patch.size());
    made.bytes = std::move(patch);
    return made;
}

// Third pass: the patches from the previous releases, each kept one written as patches/<sha256>.zst.
bool writePatches(ReleaseRun& run, const fs::path& patchesDir, size_t jobs, std::string& problem) {
    Progress progress("patching", 0, 0);
    const std::vector<PatchTask> tasks = planPatches(run, progress.bytesTotal);
    progress.filesTotal = tasks.size();
    if (tasks.empty()) return true;
    std::error_code error;
    fs::create_directories(patchesDir, error);
    if (error) {
        problem = patchesDir.string() + ": cannot be created: " + error.message();
        return false;
    }
    const auto work = [&](size_t, size_t index) { return makeFilePatch(run, tasks[index], progress.bytesDone); };
    const auto take = [&](size_t index, MadePatch& made) {
        const PatchTask& task = tasks[index];
        const fs::path path = patchesDir / (made.sha256 + ".zst");
        if (made.problem.empty() && made.kept && !writeFileReplacing(path, made.bytes.data(), made.bytes.size()))
            made.problem = path.string() + ": cannot be written";
        if (made.problem.empty() && made.kept)
            run.patches[task.file].push_back(FilePatch{task.from, made.sha256, made.bytes.size()});
        run.patchesMade += 1;
        problem = made.problem;
        progress.filesDone = index + 1;
        progress.path = index + 1 < tasks.size() ? run.sources[tasks[index + 1].file].path : "";
        showProgress(progress);
        return problem.empty();
    };
    progress.path = run.sources[tasks.front().file].path;
    std::string failure;
    const bool done = runInOrder<MadePatch>(tasks.size(), workSettings(jobs), work, take,
                                            [&] { showProgress(progress); }, failure);
    clearProgressLine();
    if (!failure.empty()) problem = "making the patches failed: " + failure;
    return done;
}

// The blobs of the small files, concatenated into packs as well.
bool writeReleasePacks(ReleaseRun& run, const fs::path& releaseDir, uint64_t sizeCap, std::string& problem) {
    if (sizeCap == 0) return true;
    std::vector<PackCandidate> candidates;
    for (size_t index = 0; index < run.sources.size(); ++index) {
        const BlobEntry& blob = blobOf(run, index);
        candidates.push_back(PackCandidate{run.sources[index].path, run.looks[index].sha256, blob.csize, blob.csha256});
    }
    return writePacks(releaseDir, candidates, planPacks(candidates, sizeCap), run.packs, problem);
}

Json manifestFiles(const ReleaseRun& run) {
    Json files = Json::array();
    for (size_t index = 0; index < run.sources.size(); ++index) {
        const SourceFile& source = run.sources[index];
        const BlobEntry& blob = blobOf(run, index);
        Json entry{{"path", source.path},
                   {"size", source.size},
                   {"sha256", run.looks[index].sha256},
                   {"csize", blob.csize},
                   {"csha256", blob.csha256}};
        const auto patches = run.patches.find(index);
        if (patches != run.patches.end()) {
            Json list = Json::array();
            for (const FilePatch& patch : patches->second)
                list.push_back(Json{{"from", patch.from}, {"size", patch.size}, {"sha256", patch.sha256}});
            entry["patches"] = std::move(list);
        }
        files.push_back(std::move(entry));
    }
    return files;
}

}  // namespace

int runRelease(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {"key", "version", "date", "expires-in", "block-size", "jobs", "pack-size"}, parsed,
                        problem, {"previous"}, {"allow-downgrade"}) ||
        parsed.options.count("key") == 0 || parsed.options.count("version") == 0 || parsed.operands.size() != 2)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish release --key PRIVATE_KEY --version VERSION [--date DATE] "
                         "[--expires-in DURATION] [--allow-downgrade] [--block-size BYTES] [--jobs N] "
                         "[--pack-size BYTES] [--previous DIR]... SOURCE_DIR RELEASE_DIR");
    const std::string version = parsed.options["version"];
    const std::string date = parsed.options.count("date") ? parsed.options["date"] : todayUtc();
    ReleaseSettings settings;
    if (parsed.options.count("block-size") && !parseBlockSize(parsed.options["block-size"], settings.blockSize))
        return fail("--block-size: a whole number of bytes from 1 to " + std::to_string(kLzmsMaxChunkSize));
    if (!parseJobs(parsed, settings.jobs)) return fail("--jobs: a whole number from 1 to 256");
    if (parsed.options.count("pack-size") && !parsePackSize(parsed.options["pack-size"], settings.packSizeCap))
        return fail("--pack-size: 0 (no packs) or a whole number of bytes from " +
                    std::to_string(kLargestPackedBlob) + " to " + std::to_string(kLargestPackSizeCap));
    int64_t expiresIn = 0;
    if (parsed.options.count("expires-in") && !parseDuration(parsed.options["expires-in"], expiresIn))
        return fail("--expires-in: a whole number of days, hours, minutes or seconds (7d, 36h, 90m, 3600s), from "
                    "one minute to ten years");
    if (version.empty() || !isUtf8(version)) return fail("--version: an empty or non-UTF-8 version");
    if (!isUtf8(date)) return fail("--date: not UTF-8");
    const fs::path keyPath = parsed.options["key"];
    const fs::path sourceDir = parsed.operands[0];
    const fs::path releaseDir = parsed.operands[1];

    UniquePkey key;
    P256Pair publicKey;
    if (!readPrivateKeyFile(keyPath, key, publicKey, problem)) return fail(problem);
    ReleaseRun run;
    if (!parsed.flags.count("allow-downgrade") && !mayPublishOver(releaseDir, version, publicKey, problem))
        return fail(problem);
    for (const std::string& folder : parsed.lists["previous"]) {
        run.previous.emplace_back();
        if (!readPreviousRelease(folder, publicKey, run.previous.back(), problem)) return fail("--previous: " + problem);
    }
    if (!listSourceFiles(sourceDir, run.sources, problem)) return fail(problem);
    const fs::path blobsDir = releaseDir / "blobs";
    std::error_code error;
    fs::create_directories(blobsDir, error);
    if (error) return fail(blobsDir.string() + ": cannot be created: " + error.message());
    if (!lookAtFiles(run, blobsDir, settings.jobs, problem)) return fail(problem);
    if (!writeBlobs(run, blobsDir, settings, problem)) return fail(problem);
    if (!writeReleasePacks(run, releaseDir, settings.packSizeCap, problem)) return fail(problem);
    if (!writePatches(run, releaseDir / "patches", settings.jobs, problem)) return fail(problem);

    Json document = {{"app", "maketor"}, {"version", version}, {"date", date}, {"exe", "maketor.exe"},
                     {"files", manifestFiles(run)}};
    if (!run.packs.empty()) document["packs"] = packsJson(run.packs);
    if (expiresIn != 0) document = withExpiry(document, utcTimeText(currentUtcSeconds() + expiresIn));
    const std::string manifestText = publishedManifestText(document);
    Manifest check;
    if (!parseManifest(manifestText, check, problem)) return fail("the new manifest breaks a rule: " + problem);
    if (!writeSignedManifest(releaseDir, key.get(), manifestText, problem)) return fail(problem);
    std::printf("%s: release %s, %zu files, %zu blobs written, %zu reused", releaseDir.c_str(), version.c_str(),
                run.sources.size(), run.written.size(), run.reused);
    if (!run.packs.empty()) std::printf(", %zu packs", run.packs.size());
    if (!check.expires.empty()) std::printf(", expires %s", check.expires.c_str());
    if (!run.previous.empty()) {
        size_t kept = 0;
        for (const auto& patches : run.patches) kept += patches.second.size();
        std::printf(", %zu patches kept of %zu made", kept, run.patchesMade);
    }
    std::printf("\n");
    return 0;
}
