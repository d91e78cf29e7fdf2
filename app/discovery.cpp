#include "app/discovery.h"

#include <windows.h>
#include <dxgi.h>
#include <shlobj.h>


#include "app/app_state.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace {

// Values longer than this count as missing.
const DWORD kRegistryValueBytes = 1040;

// A REG_SZ value, or empty when it is missing, of another type or too long.
std::wstring readTextValue(HKEY key, const wchar_t* name) {
    wchar_t buffer[kRegistryValueBytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS)
        return {};
    if (type != REG_SZ) return {};
    std::wstring value(buffer, bytes / sizeof(wchar_t));
    // The stored value may or may not carry its terminating null.
    const size_t end = value.find(L'\0');
    if (end != std::wstring::npos) value.resize(end);
    return value;
}

std::wstring runningExecutableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return parentFolder(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::wstring defaultInstallDir() {
    std::wstring base;
    PWSTR raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_UserProgramFiles, KF_FLAG_CREATE, nullptr, &raw);
    CoTaskString userProgramFiles(raw);
    if (SUCCEEDED(result) && userProgramFiles) {
        base = userProgramFiles.get();
    } else {
        // Windows defines the per-user program-files folder as local application data + "Programs"; some
        // platforms do not provide the known folder itself.
        const std::wstring localAppData = knownFolderPath(FOLDERID_LocalAppData);
        if (!localAppData.empty()) base = pathJoin(localAppData, L"Programs");
    }
    return pathJoin(pathJoin(base, L"Torvel"), L"Maketor");
}

std::vector<uint32_t> listGpuVendorIds() {
    std::vector<uint32_t> vendorIds;
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(CreateDXGIFactory1(IID_IDXGIFactory1, factory.putVoid()))) return vendorIds;
    for (UINT index = 0;; ++index) {
        ComPtr<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(index, adapter.put()))) break;
        DXGI_ADAPTER_DESC1 description{};
        if (SUCCEEDED(adapter->GetDesc1(&description)) && !(description.Flags & DXGI_ADAPTER_FLAG_SOFTWARE))
            vendorIds.push_back(description.VendorId);
    }
    return vendorIds;
}

void discoverInstallation() {
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &rawKey) == ERROR_SUCCESS) {
        UniqueRegKey key(rawKey);
        const std::wstring version = readTextValue(key.get(), L"DisplayVersion");
        if (!version.empty()) setInstalledVersion(toUtf8(version));
        if (appState.installDir.empty()) appState.installDir = readTextValue(key.get(), L"InstallLocation");
    }
    if (appState.installDir.empty()) {
        const std::wstring ownFolder = runningExecutableFolder();
        if (!ownFolder.empty() && entryExists(pathJoin(ownFolder, installRecordName)))
            appState.installDir = ownFolder;
        else
            appState.installDir = defaultInstallDir();
    }
    const InstallRecord record = readInstallRecord(appState.installDir);
    appState.gpuVendorIds = listGpuVendorIds();
    appState.selectedComponents = preselectComponents(record, appState.gpuVendorIds);
}
