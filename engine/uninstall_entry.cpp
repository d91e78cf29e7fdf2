#include "engine/uninstall_entry.h"

#include <shobjidl.h>

#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/text.h"

const wchar_t* const uninstallKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorvelMaketor";
const wchar_t* const shortcutName = L"Макетор — Торвел.lnk";
const wchar_t* const legacyShortcutNames[2] = {L"ТорВел — 3D-макетор.lnk", L"Тор Вел — 3D-макетор.lnk"};

namespace {

const wchar_t kShortcutDescription[] = L"3D-макетор магазина — Торвел";
// The longest path Windows handles, in UTF-16 units with the terminating null.
const size_t kLongestPath = 32768;

void setText(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void setNumber(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// A new shell link object and the interface that reads and writes its file; false when COM cannot make them.
bool makeShellLink(ComPtr<IShellLinkW>& link, ComPtr<IPersistFile>& file) {
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      link.putVoid())) &&
           SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid()));
}

// A REG_SZ value of the entry, whatever its length; the registry's result code.
LSTATUS readEntryText(const wchar_t* name, std::wstring& text) {
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, uninstallKeyPath, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    // The value may grow between the two reads; then its new size is asked again.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, uninstallKeyPath, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            text.resize(wcslen(text.c_str()));
            return status;
        }
    }
    return status;
}

}  // namespace

void writeUninstallEntry(const std::wstring& installDir, const Manifest& manifest, uint64_t installedSizeBytes) {
    HKEY rawKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &rawKey, nullptr) != ERROR_SUCCESS)
        return;
    UniqueRegKey key(rawKey);
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

bool uninstallEntryBelongsTo(const std::wstring& installDir) {
    std::wstring location;
    const LSTATUS status = readEntryText(L"InstallLocation", location);
    if (status == ERROR_FILE_NOT_FOUND) return true;  // no entry, or one without the value
    if (status != ERROR_SUCCESS) return false;
    return location.empty() || samePathText(location, installDir);
}

void createShortcut(const std::wstring& linkPath, const std::wstring& targetPath) {
    if (linkPath.empty()) return;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (!makeShellLink(link, file)) return;
    link->SetPath(targetPath.c_str());
    link->SetWorkingDirectory(parentFolder(targetPath).c_str());
    link->SetIconLocation(targetPath.c_str(), 0);
    link->SetDescription(kShortcutDescription);
    file->Save(linkPath.c_str(), TRUE);
}

std::wstring shortcutTarget(const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    // Loading only reads the file; the link is never resolved, so a missing target is not searched for.
    if (!makeShellLink(link, file) || FAILED(file->Load(linkPath.c_str(), STGM_READ))) return {};
    // The target's item id list rather than GetPath, which on some platforms passes the path through the
    // ANSI code page and loses letters outside it.
    PIDLIST_ABSOLUTE rawList = nullptr;
    if (FAILED(link->GetIDList(&rawList)) || rawList == nullptr) return {};
    const std::unique_ptr<ITEMIDLIST_ABSOLUTE, CoTaskMemFreer> targetList(rawList);
    std::wstring target(kLongestPath, L'\0');
    if (!SHGetPathFromIDListEx(targetList.get(), target.data(), static_cast<DWORD>(target.size()), GPFIDL_DEFAULT))
        return {};
    target.resize(wcslen(target.c_str()));
    return target;
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
