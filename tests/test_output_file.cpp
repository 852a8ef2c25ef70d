// Tests of safe output text: JSON strings that are valid UTF-8, terminal text without control bytes, and the writability check.
#include "app/OutputFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace brakkenfel {
namespace {

TEST(OutputFileTest, JsonStringsAndTerminalTextEscapeWhatIsNotText) {
    struct Case { std::string text, json, printable; };
    for (const Case& c : std::vector<Case>{
             {"plain ./bot", "\"plain ./bot\"", "plain ./bot"},
             {"a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\x5cc"},
             {"\x01\x1b[31m\x7f", "\"\\u0001\\u001b[31m\\u007f\"", "\\x01\\x1b[31m\\x7f"},
             {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xaf", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xaf\"",
              "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xaf"},
             // A C1 control (U+009B, a terminal's escape) is valid UTF-8: kept in JSON, escaped for the terminal.
             {"\xc2\x9b" "2J", "\"\xc2\x9b" "2J\"", "\\xc2\\x9b2J"},
             // Not UTF-8: a stray byte, an overlong '/', a surrogate, past U+10FFFF, a sequence cut short.
             {"x\xffy", "\"x\\ufffdy\"", "x\\xffy"},
             {"\xc0\xaf", "\"\\ufffd\\ufffd\"", "\\xc0\\xaf"},
             {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "\\xed\\xa0\\x80"},
             {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"", "\\xf4\\x90\\x80\\x80"},
             {"\xe2\x82", "\"\\ufffd\\ufffd\"", "\\xe2\\x82"},
         }) {
        std::string json;
        AppendJsonString(json, c.text);
        EXPECT_EQ(json, c.json);
        EXPECT_EQ(Printable(c.text), c.printable);
    }
}

TEST(OutputFileTest, UnwritableOutputsAreRefusedWithoutCreatingAnything) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("brakkenfel-writable-" + std::to_string(getpid()));
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "kept") << "x";
    fs::create_symlink("future/file", dir / "dangling");
    fs::create_symlink("new-file", dir / "to-new");
    struct Case { std::string path; bool writable; };
    for (const Case& c : std::vector<Case>{
             {(dir / "kept").string(), true},
             {(dir / "new").string(), true},
             {(dir / "to-new").string(), true},
             {"-", true},
             {(dir / "folder").string(), false},
             {(dir / "missing/new").string(), false},
             {(dir / "dangling").string(), false},  // its target's folder does not exist
             {(dir / "kept/below").string(), false},
         }) {
        bool passed = true;
        try {
            CheckWritable(c.path, "the trace");
        } catch (const RuntimeError& error) {
            passed = false;
            EXPECT_EQ(error.Number(), ErrPathFileAccess);
            EXPECT_NE(std::string(error.what()).find("cannot write the trace to " + c.path), std::string::npos);
        }
        EXPECT_EQ(passed, c.writable) << c.path;
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "new-file"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brakkenfel
