// patch_apply.exe FOLDER PATH SIZE SHA256 PATCH_SHA256 PATCH_SIZE RUNS — the product's patch step
// (patchIntoStaged) timed under Wine for the patch benchmark: FOLDER is an installation holding PATH (the old
// file) and the patch in its download cache, so that nothing goes over the network. Each run stages PATH's
// ".new" sibling from the patch; prints the median and the fastest wall time and the new file's MB/s, exits
// 0 only when every run was applied.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/patch_transfer.h"
#include "platform/text.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 8) {
        fwprintf(stderr, L"usage: patch_apply.exe FOLDER PATH SIZE SHA256 PATCH_SHA256 PATCH_SIZE RUNS\n");
        return 2;
    }
    ManifestFile file;
    file.path = toUtf8(argv[2]);
    file.size = _wcstoui64(argv[3], nullptr, 10);
    file.sha256 = toUtf8(argv[4]);
    FilePatch patch;
    patch.sha256 = toUtf8(argv[5]);
    patch.size = _wcstoui64(argv[6], nullptr, 10);
    const int runs = std::max(1, _wtoi(argv[7]));

    std::atomic<uint64_t> bytesDone{0};
    TransferContext context;
    context.installDir = argv[1];
    context.bytesDone = &bytesDone;
    const std::wstring target = pathJoin(context.installDir, withBackslashes(argv[2]));
    const std::wstring staged = target + L".new";

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        const PatchOutcome outcome = patchIntoStaged(context, patch, file, target, staged);
        QueryPerformanceCounter(&end);
        if (outcome != PatchOutcome::Applied) {
            fwprintf(stderr, L"patch_apply: run %d: the patch was not applied\n", run + 1);
            return 1;
        }
        DeleteFileW(staged.c_str());
        seconds.push_back(double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    wprintf(L"%d runs: median %.1f ms, fastest %.1f ms, %.0f MB/s of new file\n", runs, median * 1000,
            seconds.front() * 1000, double(file.size) / median / 1e6);
    return 0;
}
