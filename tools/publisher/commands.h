#pragma once
// The publisher's commands. Each takes the arguments after its name and returns the process exit code;
// on failure it has written one line to stderr that names the first problem.
#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

int runKeygen(const Arguments& arguments);
int runVerify(const Arguments& arguments);
int runRelease(const Arguments& arguments);
int runResign(const Arguments& arguments);
int runUnpack(const Arguments& arguments);

// Writes "maketor-publish: " + message on stderr and returns the exit code of a failed run.
int fail(const std::string& message);
// The same for a command line that does not fit the command's usage.
int failUsage(const std::string& message);
