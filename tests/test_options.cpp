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
    Options chosen;
    std::string why;
    const bool parsed = ParseOptions(arguments, chosen, why);
    if (message) *message = why;
    return parsed ? std::optional(chosen) : std::nullopt;
}

TEST(OptionsTest, ContestantKindsAndTheMoveBudget) {
    const auto options = Parse({"--cannon", "exec:exec python3 bot.py --level=2", "--helicopter=human",
                                "--move-budget", "0", "--ready-time", "3000"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->ReadyTimeMs, 3000);
    EXPECT_FALSE(Parse({})->ReadyTimeMs);  // unset: the session's own default, by budget
    EXPECT_EQ(options->Cannon.Is, ContestantKind::Type::Program);
    EXPECT_EQ(options->Cannon.Command, "exec python3 bot.py --level=2");
    EXPECT_EQ(options->Helicopter.Is, ContestantKind::Type::Human);
    EXPECT_EQ(options->MoveBudgetMs, 0);
    // Only the first '=' splits: the rest belongs to the command.
    const auto withEquals = Parse({"--helicopter=exec:a=b"});
    ASSERT_TRUE(withEquals);
    EXPECT_EQ(withEquals->Helicopter.Command, "a=b");
    EXPECT_EQ(withEquals->Helicopter.Text(), "exec:a=b");
}

TEST(OptionsTest, TheSandboxIsOnByDefaultAndEachSettingChangesOnlyItself) {
    const auto plain = Parse({});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Sandbox.Mode, SandboxMode::On);
    const auto chosen = Parse({"--sandbox=require", "--contestant-memory", "0", "--contestant-cpu", "7",
                               "--contestant-processes", "9", "--contestant-write", "state", "--contestant-network"});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->Sandbox.Mode, SandboxMode::Require);
    EXPECT_EQ(chosen->Sandbox.MemoryMb, 0);
    EXPECT_EQ(chosen->Sandbox.CpuSeconds, 7);
    EXPECT_EQ(chosen->Sandbox.Processes, 9);
    EXPECT_EQ(chosen->Sandbox.WriteDir, "state");
    EXPECT_TRUE(chosen->Sandbox.Network);
    EXPECT_EQ(chosen->Sandbox.ScratchMb, plain->Sandbox.ScratchMb);
    EXPECT_EQ(Parse({"--sandbox", "off"})->Sandbox.Mode, SandboxMode::Off);
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
             {{"--seconds", "10"}, "--seconds needs --headless"},
             {{"--headless", "--helicopter", "keys"}, "--helicopter keys needs the window"},
             {{"--headless", "--moves", "1", "--seconds", "1"}, "cannot be used together"},
             {{"--help=yes"}, "'--help' takes no value"},
             {{"-h", "--replay", "m", "--seed", "1"}, "--replay cannot be used with --seed"},
             {{"--cannon", "robot"}, "'robot' for --cannon"},
             {{"--helicopter", "exec:"}, "'exec:' for --helicopter"},
             {{"--cannon", "exec: \t "}, "for --cannon"},
             {{"--cannon", "EXEC:ls"}, "'EXEC:ls' for --cannon"},
             {{"--move-budget", "-1"}, "'-1' for --move-budget"},
             {{"--move-budget", "5ms"}, "'5ms' for --move-budget"},
             {{"--ready-time", "-5"}, "'-5' for --ready-time"},
             {{"--move-budget", "3000000000"}, "for --move-budget"},
             {{"--snapshot="}, "for --snapshot"},
             {{"--result="}, "for --result"},
             {{"--protocol-log", ""}, "for --protocol-log"},
             {{"--headless", "--seconds", "1", "--trace", "-"}, "--trace cannot be '-'"},
             {{"--headless", "--trace=-"}, "--trace cannot be '-'"},
             {{"--sandbox", "maybe"}, "'maybe' for --sandbox (on, require or off)"},
             {{"--contestant-memory", "1000001"}, "for --contestant-memory"},
             {{"--contestant-cpu", "-1"}, "'-1' for --contestant-cpu"},
             {{"--contestant-processes", "many"}, "for --contestant-processes"},
             {{"--contestant-write="}, "for --contestant-write"},
             {{"--contestant-network=yes"}, "'--contestant-network' takes no value"},
         }) {
        std::string message;
        EXPECT_FALSE(Parse(c.arguments, &message)) << c.mentions;
        EXPECT_NE(message.find(c.mentions), std::string::npos) << "message: " << message;
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
        std::string why;
        EXPECT_EQ(CheckOutputPaths(chosen, d + "/picture.bmp", why), c.mentions.empty()) << c.trace << " " << c.snapshot;
        EXPECT_NE(why.find(c.mentions), std::string::npos) << why;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brakkenfel
