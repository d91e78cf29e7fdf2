#include "tools/publisher/arguments.h"

#include <algorithm>
#include <thread>

bool parseArguments(const std::vector<std::string>& arguments, const std::set<std::string>& known,
                    ParsedArguments& parsed, std::string& problem, const std::set<std::string>& repeatable,
                    const std::set<std::string>& flags) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            parsed.operands.push_back(argument);
            continue;
        }
        const std::string name = argument.substr(2);
        if (flags.count(name) != 0) {
            if (!parsed.flags.insert(name).second) {
                problem = "option " + argument + " is given twice";
                return false;
            }
            continue;
        }
        if (known.count(name) == 0 && repeatable.count(name) == 0) {
            problem = "unknown option " + argument;
            return false;
        }
        if (i + 1 >= arguments.size()) {
            problem = "option " + argument + " needs a value";
            return false;
        }
        if (repeatable.count(name) != 0) {
            parsed.lists[name].push_back(arguments[++i]);
            continue;
        }
        if (!parsed.options.emplace(name, arguments[++i]).second) {
            problem = "option " + argument + " is given twice";
            return false;
        }
    }
    return true;
}

bool parseJobs(const ParsedArguments& parsed, size_t& jobs) {
    const auto option = parsed.options.find("jobs");
    if (option == parsed.options.end()) {
        jobs = std::max(1u, std::thread::hardware_concurrency());
        return true;
    }
    const std::string& text = option->second;
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    jobs = std::stoul(text);
    return jobs >= 1 && jobs <= 256;
}
