// Which component a release file belongs to. Plain C++: the host tests build this same file.
#include <gtest/gtest.h>

#include "engine/components.h"

namespace {

struct PathCase {
    const char* path;
    ComponentId component;
};

const PathCase kPathCases[] = {
    {"NVNGX_DLSS.DLL", ComponentNvidia},
    {"nvngx_dlssg.dll", ComponentNvidia},
    {"nvngx_", ComponentNvidia},
    {"nvngx", ComponentCore},
    {"sl.dlss_g.dll", ComponentNvidia},
    {"sl.interposer.dll", ComponentCore},
    {"sl.reflex.dll", ComponentNvidia},
    {"SL.PCL.DLL", ComponentNvidia},
    {"sl.pcl.dll.bak", ComponentCore},
    {"bin/nvngx_dlss.dll", ComponentCore},
    {"amd_fidelityfx_dx12.dll", ComponentAmd},
    {"licenses/amd-fsr.txt", ComponentAmd},
    {"licenses/amd-fsr.txt.bak", ComponentCore},
    {"licenses/amd-fsr2.txt", ComponentCore},
    {"licenses\\amd-fsr.txt", ComponentCore},
    {"libxess.dll", ComponentIntel},
    {"LibXeSS_dx11.dll", ComponentIntel},
    {"licenses/intel-xess.txt", ComponentIntel},
    {"licenses/intel-xess-sdk.txt", ComponentIntel},
    {"licenses\\intel-xess.txt", ComponentCore},
    {"basalt.dll", ComponentVr},
    {"opencv_world4100.dll", ComponentVr},
    {"fmt.dll", ComponentVr},
    {"tbb12.dll", ComponentVr},
    {"Zlib1.dll", ComponentVr},
    {"zlib1.dll.sig", ComponentCore},
    {"onnxruntime.dll", ComponentVr},
    {"handmodels/left.onnx", ComponentVr},
    {"HandModels/right.onnx", ComponentVr},
    {"handmodels", ComponentCore},
    {"handmodels\\left.onnx", ComponentCore},
    {"maketor.exe", ComponentCore},
    {"шаблоны/nvngx_dlss.dll", ComponentCore},
    {"", ComponentCore},
};

TEST(ComponentOfPath, ClassifiesEveryEdgeCase) {
    for (const PathCase& c : kPathCases) EXPECT_EQ(componentOfPath(c.path), c.component) << c.path;
}

}  // namespace
