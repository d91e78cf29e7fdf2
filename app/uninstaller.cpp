#include "app/uninstaller.h"

#include "app/app_state.h"

// Placeholder until the install lifecycle lands: the run ends at once.
void uninstall() { appState.phase.exchange(Done); }
