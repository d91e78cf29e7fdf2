#pragma once
// Background fetch of the signed manifest at start-up: offered version and per-component sizes.
void runReleaseCheck();
