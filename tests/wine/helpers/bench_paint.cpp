// Paint benchmark (not a test): times one paint of each screen into an off-screen DIB at scale 1.0 and 2.0,
// with the product's embedded fonts and logo, and prints the median of many runs in milliseconds.
//   wine bench_paint.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/gdiplus_holders.h"
#include "ui/resources.h"
#include "ui/theme.h"
#include "ui_scenes.h"

namespace {

template <typename Work>
double medianMs(int runs, Work work) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QueryPerformanceCounter(&start);
        work();
        QueryPerformanceCounter(&end);
        times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianPaintMs(const Scene& scene, float scale, int runs) {
    applyScene(scene, scale);
    const SIZE size = sceneClientSize(scene, scale);
    OffscreenFrame frame(size.cx, size.cy);
    frame.paint();  // warm-up: first-use allocations
    return medianMs(runs, [&] { frame.paint(); });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 200;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring product = exe;
    product = product.substr(0, product.find_last_of(L"\\/") + 1) + L"maketor-setup.exe";
    HMODULE resources = LoadLibraryExW(product.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (resources) loadUiResources(reinterpret_cast<HINSTANCE>(resources));
    std::printf("embedded fonts %s, logo %s; median of %d paints (ms)\n",
                resources && FindResourceW(resources, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10)) ? "yes" : "no",
                appState.logoImage ? "yes" : "no", runs);
    std::printf("%-20s %10.2f %10.2f\n", "(the five fonts)", medianMs(runs, [] { appState.uiScale = 1.0f; makeFonts(); }),
                medianMs(runs, [] { appState.uiScale = 2.0f; makeFonts(); }));
    std::printf("%-20s %10s %10s\n", "screen", "scale 1.0", "scale 2.0");
    for (const Scene& scene : allScenes())
        std::printf("%-20s %10.2f %10.2f\n", scene.name, medianPaintMs(scene, 1.0f, runs),
                    medianPaintMs(scene, 2.0f, runs));
    releaseUiResources();
    if (resources) FreeLibrary(resources);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
