// The command line: accepted forms, and every refusal naming what was wrong.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Options.h"

namespace brakkenfel {
namespace {

std::optional<Options> Parse(std::vector<std::string> arguments, std::string* message = nullptr) {
    OptionsError error;
    auto options = ParseOptions(arguments, error);
    if (message) *message = error.Message;
    return options;
}

TEST(OptionsTest, ContestantKindsAndTheMoveBudget) {
    const auto options = Parse({"--cannon", "exec:exec python3 bot.py --level=2", "--helicopter=human",
                                "--move-budget", "0"});
    ASSERT_TRUE(options);
    EXPECT_EQ(ProgramCommand(options->Cannon), "exec python3 bot.py --level=2");
    EXPECT_EQ(options->Helicopter, "human");
    EXPECT_EQ(ProgramCommand(options->Helicopter), "");
    EXPECT_EQ(options->MoveBudgetMs, 0);
    // Only the first '=' splits: the rest belongs to the command.
    const auto withEquals = Parse({"--helicopter=exec:a=b"});
    ASSERT_TRUE(withEquals);
    EXPECT_EQ(ProgramCommand(withEquals->Helicopter), "a=b");
}

TEST(OptionsTest, ValuesComeSeparateOrAfterAnEqualsSign) {
    for (const auto& arguments : {std::vector<std::string>{"--headless", "--moves", "250", "--trace", "-"},
                                  std::vector<std::string>{"--moves=250", "--headless", "--trace=-"}}) {
        const auto options = Parse(arguments);
        ASSERT_TRUE(options);
        EXPECT_TRUE(options->Headless);
        EXPECT_EQ(options->Moves, 250);
        EXPECT_EQ(options->TracePath, "-");
    }
}

TEST(OptionsTest, RefusalsNameTheOffendingOption) {
    struct Case { std::vector<std::string> arguments; std::string mentions; };
    for (const Case& c : std::vector<Case>{
             {{"--frobnicate"}, "'--frobnicate'"},
             {{"-x"}, "'-x'"},
             {{"moves"}, "'moves'"},
             {{"--headless", "--moves"}, "'--moves' needs a value"},
             {{"--headless", "--moves", "ten"}, "'ten' for --moves"},
             {{"--headless", "--moves", "-5"}, "'-5' for --moves"},
             {{"--headless", "--moves", "12x"}, "'12x' for --moves"},
             {{"--headless", "--moves", "99999999999999999999"}, "for --moves"},
             {{"--headless", "--seconds", "2.5"}, "'2.5' for --seconds"},
             {{"--moves", "10"}, "--moves needs --headless"},
             {{"--headless", "--moves", "1", "--seconds", "1"}, "cannot be used together"},
             {{"--help=yes"}, "'--help' takes no value"},
             {{"--cannon", "robot"}, "'robot' for --cannon"},
             {{"--helicopter", "exec:"}, "'exec:' for --helicopter"},
             {{"--cannon", "exec: \t "}, "for --cannon"},
             {{"--cannon", "EXEC:ls"}, "'EXEC:ls' for --cannon"},
             {{"--move-budget", "-1"}, "'-1' for --move-budget"},
             {{"--move-budget", "5ms"}, "'5ms' for --move-budget"},
             {{"--move-budget", "3000000000"}, "for --move-budget"},
             {{"--snapshot="}, "for --snapshot"},
             {{"--result="}, "for --result"},
             {{"--protocol-log", ""}, "for --protocol-log"},
             {{"--headless", "--seconds", "1", "--trace", "-"}, "--trace cannot be '-'"},
             {{"--headless", "--trace=-"}, "--trace cannot be '-'"},
         }) {
        std::string message;
        EXPECT_FALSE(Parse(c.arguments, &message)) << c.mentions;
        EXPECT_NE(message.find(c.mentions), std::string::npos) << "message: " << message;
    }
}

TEST(OptionsTest, UsageListsEveryOption) {
    const std::string usage = UsageText();
    for (const char* option : {"--headless", "--moves", "--seconds", "--trace", "--snapshot", "--cannon",
                               "--helicopter", "--move-budget", "--result", "--protocol-log", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
        // Every option the usage lists is one the parser knows.
        std::string message;
        Parse({option}, &message);
        EXPECT_EQ(message.find("unknown option"), std::string::npos) << option;
    }
}

TEST(OptionsTest, OutputsThatAreOneFileOrThePictureAreRefused) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("brakkenfel-outputs-" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    const std::string d = dir.string();
    std::ofstream(d + "/picture.bmp") << "BM";
    std::ofstream(d + "/kept") << "x";
    fs::create_hard_link(d + "/kept", d + "/hard");
    fs::create_symlink("future", d + "/dangling");
    fs::create_symlink("picture.bmp", d + "/to-picture");
    struct Case { std::string trace, snapshot, mentions; };
    for (const Case& c : std::vector<Case>{
             {d + "/a", d + "/sub/../a", "same file"},
             {d + "/dangling", d + "/future", "same file"},
             {d + "/hard", d + "/kept", "same file"},
             {d + "/picture.bmp", "", "picture strip"},
             {"", d + "/to-picture", "picture strip"},
             {d + "/a", d + "/b", ""},
             {"/dev/null", "/dev/null", ""},
         }) {
        Options chosen;
        chosen.TracePath = c.trace;
        chosen.SnapshotPath = c.snapshot;
        const auto clash = CheckOutputPaths(chosen, d + "/picture.bmp");
        EXPECT_EQ(clash.has_value(), !c.mentions.empty()) << c.trace << " " << c.snapshot;
        if (clash) {
            EXPECT_NE(clash->find(c.mentions), std::string::npos) << *clash;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brakkenfel
