// Paint benchmark (not a test): times the paints of each screen into an off-screen DIB at scale 1.0 and 2.0,
// with the product's embedded fonts and logo. Two kinds of paint:
//   repaint  the frame changed in what it shows per paint (here the pointer moves on and off the main button,
//            as progress, ticks and focus change it too): the kept static layer is copied, the rest is drawn;
//   first    the first paint of a page: fonts, buffers and the static layer are made anew.
// Prints the median wall time and the mean CPU time of the painting thread per paint, in milliseconds; the CPU
// figure is the one to compare on a busy machine.
//   wine bench_paint.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/gdiplus_holders.h"
#include "ui/paint.h"
#include "ui/resources.h"
#include "ui/theme.h"
#include "ui_scenes.h"

namespace {

struct Timing {
    double medianMs, cpuMs;
};

double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns units
}

template <typename Work>
Timing measure(int runs, Work work) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    const double cpuBefore = threadCpuMs();
    for (int i = 0; i < runs; ++i) {
        QueryPerformanceCounter(&start);
        work(i);
        QueryPerformanceCounter(&end);
        times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    const double cpu = (threadCpuMs() - cpuBefore) / runs;
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], cpu};
}

struct SceneTimings {
    Timing repaint, first;
};

SceneTimings timeScene(const Scene& scene, float scale, int runs) {
    applyScene(scene, scale);
    const SIZE size = sceneClientSize(scene, scale);
    OffscreenFrame frame(size.cx, size.cy);
    frame.paint();  // warm-up: first-use allocations
    SceneTimings timings;
    timings.repaint = measure(runs, [&](int i) {
        appState.hoveredId = i % 2 == 0 ? MainButton : -1;
        frame.paint();
    });
    appState.hoveredId = -1;
    timings.first = measure(std::max(1, runs / 4), [&](int) {
        releasePaintCache();
        frame.paint();
    });
    return timings;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::max(4, _wtoi(argv[1])) : 200;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring product = exe;
    product = product.substr(0, product.find_last_of(L"\\/") + 1) + L"maketor-setup.exe";
    HMODULE resources = LoadLibraryExW(product.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (resources) loadUiResources(reinterpret_cast<HINSTANCE>(resources));
    std::printf("embedded fonts %s, logo %s; %d paints a figure; wall = median, cpu = mean CPU of the thread (ms)\n",
                resources && FindResourceW(resources, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10)) ? "yes" : "no",
                appState.logoImage ? "yes" : "no", runs);
    std::printf("%-20s %25s %25s\n", "", "scale 1.0", "scale 2.0");
    std::printf("%-20s %12s %12s %12s %12s\n", "screen", "repaint", "first", "repaint", "first");
    std::printf("%-20s %12s %12s %12s %12s\n", "", "wall / cpu", "wall / cpu", "wall / cpu", "wall / cpu");
    for (const Scene& scene : allScenes()) {
        const SceneTimings one = timeScene(scene, 1.0f, runs), two = timeScene(scene, 2.0f, runs);
        std::printf("%-20s %5.2f /%5.2f %5.2f /%5.2f %5.2f /%5.2f %5.2f /%5.2f\n", scene.name, one.repaint.medianMs,
                    one.repaint.cpuMs, one.first.medianMs, one.first.cpuMs, two.repaint.medianMs, two.repaint.cpuMs,
                    two.first.medianMs, two.first.cpuMs);
    }
    releaseUiResources();
    if (resources) FreeLibrary(resources);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
