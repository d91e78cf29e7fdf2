#include "ui/folder_chooser.h"

#include <windows.h>
#include <shobjidl.h>

#include "app/app_state.h"
#include "platform/handles.h"
#include "ui/layout.h"

void chooseInstallFolder() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                dialog.putVoid())))
        return;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    dialog->SetTitle(L"Папка для макетора");
    // The dialog runs its own message loop; the window's timer and paints go on meanwhile.
    if (FAILED(dialog->Show(appState.mainWindow.load()))) return;

    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.put()))) return;
    wchar_t* rawPath = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &rawPath))) return;
    CoTaskString path(rawPath);
    if (!path) return;
    appState.installDir = installFolderForChoice(path.get());
}
