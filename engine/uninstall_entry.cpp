#include "engine/uninstall_entry.h"

#include <shobjidl.h>

#include "app/app_state.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/text.h"

const wchar_t* const uninstallKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorvelMaketor";

namespace {

const wchar_t kShortcutDescription[] = L"3D-макетор магазина — Торвел";

void setText(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void setNumber(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

void writeUninstallEntry(const Manifest& manifest, uint64_t installedSizeBytes) {
    HKEY rawKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &rawKey, nullptr) != ERROR_SUCCESS)
        return;
    UniqueRegKey key(rawKey);
    const std::wstring& installDir = appState.installDir;
    const std::wstring quotedSetup = L"\"" + pathJoin(installDir, L"setup.exe") + L"\"";
    setText(key.get(), L"DisplayName", L"Макетор — Торвел");
    setText(key.get(), L"DisplayVersion", toUtf16(manifest.version));
    setText(key.get(), L"Publisher", L"Торвел");
    setText(key.get(), L"URLInfoAbout", L"https://maketor.example/");
    setText(key.get(), L"InstallLocation", installDir);
    setText(key.get(), L"DisplayIcon", pathJoin(installDir, L"maketor.exe"));
    setText(key.get(), L"UninstallString", quotedSetup + L" /uninstall");
    setText(key.get(), L"ModifyPath", quotedSetup);
    setNumber(key.get(), L"EstimatedSize", static_cast<DWORD>(installedSizeBytes >> 10));
    setNumber(key.get(), L"NoModify", 0);
    setNumber(key.get(), L"NoRepair", 1);
}

void createShortcut(const std::wstring& linkPath, const std::wstring& targetPath) {
    if (linkPath.empty()) return;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
        return;
    link->SetPath(targetPath.c_str());
    link->SetWorkingDirectory(parentFolder(targetPath).c_str());
    link->SetIconLocation(targetPath.c_str(), 0);
    link->SetDescription(kShortcutDescription);
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return;
    file->Save(linkPath.c_str(), TRUE);
}

std::wstring knownFolderPath(REFKNOWNFOLDERID folderId) {
    PWSTR raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(folderId, 0, nullptr, &raw);
    CoTaskString path(raw);
    if (FAILED(result) || !path) return {};
    return path.get();
}

std::wstring linkPathIn(REFKNOWNFOLDERID folderId, const wchar_t* linkName) {
    const std::wstring folder = knownFolderPath(folderId);
    return folder.empty() ? std::wstring() : pathJoin(folder, linkName);
}
