#include "tools/publisher/arguments.h"

bool parseArguments(const std::vector<std::string>& arguments, const std::set<std::string>& known,
                    ParsedArguments& parsed, std::string& problem) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            parsed.operands.push_back(argument);
            continue;
        }
        const std::string name = argument.substr(2);
        if (known.count(name) == 0) {
            problem = "unknown option " + argument;
            return false;
        }
        if (i + 1 >= arguments.size()) {
            problem = "option " + argument + " needs a value";
            return false;
        }
        if (!parsed.options.emplace(name, arguments[++i]).second) {
            problem = "option " + argument + " is given twice";
            return false;
        }
    }
    return true;
}
