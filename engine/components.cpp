#include "engine/components.h"

#include <cstring>

const Component componentTable[5] = {
    {"core", L"Макетор", L"программа, DirectX 12 и нужные библиотеки — обязательно", 0},
    {"nvidia", L"Ускорение NVIDIA DLSS", L"видеокарты NVIDIA RTX: масштабирование, шумодав, генерация кадров", 0x10DE},
    {"amd", L"Ускорение AMD FSR", L"видеокарты AMD Radeon (работает и на других)", 0x1002},
    {"intel", L"Ускорение Intel XeSS", L"видеокарты Intel Arc и встроенная графика Intel", 0x8086},
    {"vr", L"VR-очки XREAL", L"положение в пространстве и руки по камерам очков", 0},
};

namespace {

enum class Match { Prefix, Whole };

struct PathRule {
    const char* text;  // lowercase, "/" between folders
    Match match;
    ComponentId component;
};

// In order; the first rule that matches decides. A prefix stands at the start of the whole path.
const PathRule kPathRules[] = {
    {"nvngx_", Match::Prefix, ComponentNvidia},
    {"sl.dlss", Match::Prefix, ComponentNvidia},
    {"sl.reflex.dll", Match::Whole, ComponentNvidia},
    {"sl.pcl.dll", Match::Whole, ComponentNvidia},
    {"amd_fidelityfx", Match::Prefix, ComponentAmd},
    {"licenses/amd-fsr.txt", Match::Whole, ComponentAmd},
    {"libxess", Match::Prefix, ComponentIntel},
    {"licenses/intel-xess", Match::Prefix, ComponentIntel},
    {"basalt.dll", Match::Whole, ComponentVr},
    {"opencv_", Match::Prefix, ComponentVr},
    {"fmt.dll", Match::Whole, ComponentVr},
    {"tbb12.dll", Match::Whole, ComponentVr},
    {"zlib1.dll", Match::Whole, ComponentVr},
    {"onnxruntime.dll", Match::Whole, ComponentVr},
    {"handmodels/", Match::Prefix, ComponentVr},
};

bool ruleMatches(const PathRule& rule, const std::string& lowerPath) {
    const size_t length = std::strlen(rule.text);
    if (rule.match == Match::Whole) return lowerPath == rule.text;
    return lowerPath.size() >= length && lowerPath.compare(0, length, rule.text) == 0;
}

}  // namespace

ComponentId componentOfPath(const std::string& path) {
    // ASCII letters only: the bytes of multi-byte UTF-8 sequences stay as they are.
    std::string lowerPath = path;
    for (char& byte : lowerPath) {
        if (byte >= 'A' && byte <= 'Z') byte = char(byte - 'A' + 'a');
    }
    for (const PathRule& rule : kPathRules) {
        if (ruleMatches(rule, lowerPath)) return rule.component;
    }
    return ComponentCore;
}
