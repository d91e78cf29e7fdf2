#include "app/release_check.h"

// Placeholder until the install lifecycle lands: nothing is published.
void runReleaseCheck() {}
