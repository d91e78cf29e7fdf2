#pragma once
// A command's arguments split into "--name value" options and positional operands.
#include <map>
#include <set>
#include <string>
#include <vector>

struct ParsedArguments {
    std::map<std::string, std::string> options;  // by name, without the leading "--"
    std::map<std::string, std::vector<std::string>> lists;  // options that may be repeated, values in order
    std::set<std::string> flags;  // options without a value that were given
    std::vector<std::string> operands;
};

// False, with problem set, for an option not in known, repeatable or flags, an option without its value, or
// one of known or flags given twice.
bool parseArguments(const std::vector<std::string>& arguments, const std::set<std::string>& known,
                    ParsedArguments& parsed, std::string& problem, const std::set<std::string>& repeatable = {},
                    const std::set<std::string>& flags = {});

// The number of worker threads: --jobs N (1 to 256), or every core when the option is absent. False for
// anything else.
bool parseJobs(const ParsedArguments& parsed, size_t& jobs);
