// gpu_vendors.exe — prints the PCI vendor id (4 hex digits) of every hardware graphics adapter DXGI lists,
// one a line, in enumeration order. Lets a test know which components a fresh install preselects.
#include <windows.h>
#include <dxgi.h>

#include <cstdio>

namespace {

template <typename T>
struct Released {
    T* ptr = nullptr;
    ~Released() {
        if (ptr) ptr->Release();
    }
};

}  // namespace

int wmain() {
    Released<IDXGIFactory1> factory;
    if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory.ptr)))) return 0;
    for (UINT index = 0;; ++index) {
        Released<IDXGIAdapter1> adapter;
        if (FAILED(factory.ptr->EnumAdapters1(index, &adapter.ptr))) break;
        DXGI_ADAPTER_DESC1 description{};
        if (SUCCEEDED(adapter.ptr->GetDesc1(&description)) && !(description.Flags & DXGI_ADAPTER_FLAG_SOFTWARE))
            wprintf(L"%04x\n", description.VendorId);
    }
    return 0;
}
