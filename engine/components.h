#pragma once
// The five components of a release and the rule that assigns every file path to one of them.
// Plain C++: also built into the host tools.
#include <cstdint>
#include <string>

enum ComponentId : int { ComponentCore = 0, ComponentNvidia = 1, ComponentAmd = 2, ComponentIntel = 3, ComponentVr = 4 };

struct Component {
    const char* id;           // name in the install record
    const wchar_t* title;     // shown in the component list
    const wchar_t* subtitle;
    uint32_t gpuVendorId;     // PCI vendor id of the graphics adapter it serves, 0 for none
};

extern const Component componentTable[5];

ComponentId componentOfPath(const std::string& path);
