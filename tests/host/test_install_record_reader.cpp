// The install record as the product reads it: any text a user-writable file can hold, including nesting
// deep enough to exhaust the stack of a reader that recursed through it.
#include "engine/install_record_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string nested(size_t depth) {
    return R"({"files": {"a.dll": "aa"}, "x": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

std::string deepFiles(size_t depth) {
    return R"({"files": {"a.dll": )" + std::string(depth, '[') + std::string(depth, ']') + "}}";
}

struct ParseCase {
    const char* name;
    std::string text;
    size_t recordedFiles;
    bool isObject;
};

TEST(InstallRecordReader, TakesWhatTheTextHolds) {
    const ParseCase cases[] = {
        {"as written", "{\"components\": [\"core\"], \"files\": {\"a.dll\": \"aa\", \"b/c.dll\": \"bb\"}}", 2, true},
        {"not JSON", "install ok", 0, true},
        {"top level string", "\"files\"", 0, false},
        {"files not an object", "{\"files\": [\"a.dll\"]}", 0, true},
        {"invalid UTF-8 in a key", "{\"files\": {\"\xC3\x28\": \"aa\"}}", 0, true},
        {"modest nesting", nested(8), 1, true},
        {"nesting of a megabyte", nested(500000), 0, true},
        {"deep value of a recorded file", deepFiles(200000), 0, true},
    };
    for (const ParseCase& c : cases) {
        const InstallRecord record = parseInstallRecord(c.text);
        EXPECT_EQ(record.is_object(), c.isObject) << c.name;
        EXPECT_EQ(recordedFilesOf(record).size(), c.recordedFiles) << c.name;
        EXPECT_TRUE(preselectComponents(record, {})[0]) << c.name;
    }
}

}  // namespace
