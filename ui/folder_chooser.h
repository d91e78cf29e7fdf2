#pragma once
// The install-folder chooser behind "Изменить…": the shell's folder picker, owned by the main window.

// On a chosen file-system folder sets installDir (see installFolderForChoice); otherwise changes nothing.
void chooseInstallFolder();
