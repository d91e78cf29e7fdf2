#pragma once
// Worker body in Install and Update modes.
void installRun();
