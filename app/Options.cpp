// Parsing of the command line, GNU style: "--name value" or "--name=value"; output paths checked against each other and the inputs.
#include "app/Options.h"
#include "app/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <vector>
#include <utility>
#include <string_view>
#include <type_traits>

namespace brakkenfel {

namespace {

// A file as the kernel knows it where it exists, else the path it would be created at.
struct FileIdentity {
    bool Exists = false;
    bool Device = false;  // a character device (/dev/null): writing it twice harms nothing
    dev_t DeviceId = 0;
    ino_t Inode = 0;
    std::string Path;
};

FileIdentity Identify(const std::string& path) {
    namespace fs = std::filesystem;
    FileIdentity id;
    struct stat info {};
    if ((path == "-" ? fstat(STDOUT_FILENO, &info) : stat(path.c_str(), &info)) == 0) {
        id.Exists = true;
        id.Device = S_ISCHR(info.st_mode);
        id.DeviceId = info.st_dev;
        id.Inode = info.st_ino;
        return id;
    }
    std::error_code error;
    // A link to a file not yet there is followed too: the write would create its target.
    id.Path = fs::weakly_canonical(FollowLinks(path), error).string();
    return id;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.Exists != b.Exists) return false;
    return a.Exists ? a.DeviceId == b.DeviceId && a.Inode == b.Inode : a.Path == b.Path;
}

// One file the run names: its option, the path as given, and what it is.
struct NamedFile {
    std::string Option;
    const std::string* Path;
    FileIdentity Id;
};

std::string Quoted(const NamedFile& File) { return File.Option + " '" + *File.Path + "'"; }

}  // namespace

bool CheckOutputPaths(const Options& Chosen, const std::string& PictureFile, std::string& Why) {
    std::vector<NamedFile> outputs;
    for (const auto& [option, path] : {std::pair{"--trace", &Chosen.TracePath}, std::pair{"--snapshot", &Chosen.SnapshotPath},
                                       std::pair{"--result", &Chosen.ResultPath}, std::pair{"--record", &Chosen.RecordPath},
                                       std::pair{"--protocol-log", &Chosen.ProtocolLogPath}}) {
        if (!path->empty()) outputs.push_back({option, path, Identify(*path)});
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if (outputs[i].Id.Device || !SameFile(outputs[i].Id, outputs[j].Id)) continue;
            Why = Quoted(outputs[i]) + " and " + Quoted(outputs[j]) + " are the same file";
            return false;
        }
    }
    // The files the run reads: an output onto one would destroy what the run, or the next, needs.
    std::vector<std::pair<NamedFile, std::string>> inputs;
    inputs.push_back({{"", &PictureFile, Identify(PictureFile)}, "the guns' picture strip " + PictureFile});
    if (!Chosen.ReplayPath.empty()) {
        inputs.push_back({{"--replay", &Chosen.ReplayPath, Identify(Chosen.ReplayPath)},
                          "the match being replayed, " + Chosen.ReplayPath});
    }
    for (const NamedFile& output : outputs) {
        for (const auto& [input, what] : inputs) {
            if (!SameFile(output.Id, input.Id)) continue;
            Why = Quoted(output) + " would overwrite " + what;
            return false;
        }
    }
    return true;
}

namespace {

// One option of the command line: its spelling, the value it takes and how it is stored. The
// parser, its checks and the usage text all read this table.
struct OptionRow {
    const char* Long;
    const char* Short;  // or nullptr
    const char* Value;  // what the value is called in the usage; nullptr for a flag
    const char* Help;   // one line of the usage; "\n" continues it, indented
    // Stores the value; false with the expected form in `Why` when it does not fit.
    bool (*Store)(Options& Chosen, const std::string& Value, std::string& Why);
};

template <class Integer>
bool ParseWhole(const std::string& Text, Integer Low, Integer& Value) {
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Error] = std::from_chars(Text.data(), End, Value);
    return Error == std::errc() && Ptr == End && !Text.empty() && Value >= Low;
}

// The integer an option field holds, directly or as an optional.
template <class Field>
struct WholeOf {
    using Type = Field;
};
template <class Integer>
struct WholeOf<std::optional<Integer>> {
    using Type = Integer;
};

// A whole number stored in `Field`, at least 0, with `Unit` named when it is not one.
template <auto Field, const char* Unit>
bool StoreWhole(Options& Chosen, const std::string& Value, std::string& Why) {
    using Integer = typename WholeOf<std::remove_cvref_t<decltype(Chosen.*Field)>>::Type;
    Integer Number = 0;
    if (!ParseWhole<Integer>(Value, 0, Number)) {
        Why = Unit;
        return false;
    }
    Chosen.*Field = Number;
    return true;
}

template <std::string Options::*Field>
bool StorePath(Options& Chosen, const std::string& Value, std::string& Why) {
    if (Value.empty()) {
        Why = "a file name";
        return false;
    }
    Chosen.*Field = Value;
    return true;
}

template <ContestantKind Options::*Field>
bool StoreKind(Options& Chosen, const std::string& Value, std::string& Why) {
    return ContestantKind::Parse(Value, Chosen.*Field, Why);
}

bool StoreRules(Options& Chosen, const std::string& Value, std::string& Why) {
    if (Value != "plain" && Value != "duel") {
        Why = "plain or duel";
        return false;
    }
    Chosen.Duel = Value == "duel";
    return true;
}

bool StoreHealth(Options& Chosen, const std::string& Value, std::string& Why) {
    std::int32_t Number = 0;
    if (!ParseWhole<std::int32_t>(Value, 1, Number)) {
        Why = "a whole number of hits from 1 to 2147483647";
        return false;
    }
    Chosen.Health = Number;
    return true;
}

template <bool Options::*Field>
bool StoreFlag(Options& Chosen, const std::string&, std::string&) {
    Chosen.*Field = true;
    return true;
}

bool StoreView(Options& Chosen, const std::string& Value, std::string& Why) {
    if (Value != "plain" && Value != "analysis") {
        Why = "'plain' or 'analysis'";
        return false;
    }
    Chosen.AnalysisView = Value == "analysis";
    return true;
}

bool StoreScale(Options& Chosen, const std::string& Value, std::string& Why) {
    std::int32_t Factor = 0;
    if (!ParseWhole<std::int32_t>(Value, 1, Factor) || Factor > 8) {
        Why = "a whole factor from 1 to 8";
        return false;
    }
    Chosen.Scale = Factor;
    return true;
}

template <std::int64_t SandboxSettings::*Field, const char* Unit>
bool StoreLimit(Options& Chosen, const std::string& Value, std::string& Why) {
    std::int64_t Number = 0;
    // Past a million of anything the limit means nothing, and MB shifted to bytes must not overflow.
    if (!ParseWhole<std::int64_t>(Value, 0, Number) || Number > 1'000'000) {
        Why = Unit;
        return false;
    }
    Chosen.Sandbox.*Field = Number;
    return true;
}

bool StoreSandboxMode(Options& Chosen, const std::string& Value, std::string& Why) {
    for (const auto& [Name, Mode] : {std::pair{"on", SandboxMode::On}, std::pair{"require", SandboxMode::Require},
                                     std::pair{"off", SandboxMode::Off}}) {
        if (Value == Name) {
            Chosen.Sandbox.Mode = Mode;
            return true;
        }
    }
    Why = "on, require or off";
    return false;
}

bool StoreWriteDir(Options& Chosen, const std::string& Value, std::string& Why) {
    if (Value.empty()) {
        Why = "a folder";
        return false;
    }
    Chosen.Sandbox.WriteDir = Value;
    return true;
}

bool StoreNetwork(Options& Chosen, const std::string&, std::string&) {
    Chosen.Sandbox.Network = true;
    return true;
}

constexpr char Megabytes[] = "a whole number of MB from 0 (no limit) to 1000000";
constexpr char CpuSeconds[] = "a whole number of seconds from 0 (no limit) to 1000000";
constexpr char ProcessCount[] = "a whole number of processes from 0 (no limit) to 1000000";

constexpr char Moves[] = "a whole number of moves, 0 or more";
constexpr char Seconds[] = "a whole number of seconds, 0 or more";
constexpr char Milliseconds[] = "a whole number of milliseconds, 0 or more";
constexpr char SeedRange[] = "a whole number from 0 to 4294967295";

constexpr OptionRow Rows[] = {
    {"--headless", nullptr, nullptr, "run without a window: the field is an in-memory bitmap of 373 x 285",
     StoreFlag<&Options::Headless>},
    {"--moves", nullptr, "N", "run N moves, then stop (headless: back to back, unpaced; window: it closes)",
     StoreWhole<&Options::Moves, Moves>},
    {"--seconds", nullptr, "S", "with --headless: run paced, print each caption, stop after S seconds",
     StoreWhole<&Options::Seconds, Seconds>},
    {"--trace", nullptr, "FILE", "write one JSON line per move to FILE ('-' for standard output)",
     StorePath<&Options::TracePath>},
    {"--snapshot", nullptr, "FILE", "at the end, save the field as a 24-bit BMP (window: the last frame shown)",
     StorePath<&Options::SnapshotPath>},
    {"--cannon", nullptr, "KIND", "the Cannon's contestant: ai (default), human (idle), keys (window) or exec:COMMAND",
     StoreKind<&Options::Cannon>},
    {"--helicopter", nullptr, "KIND", "the Helicopter's contestant: ai (default), human (idle), keys (window) or exec:COMMAND",
     StoreKind<&Options::Helicopter>},
    {"--move-budget", nullptr, "MS", "ms an exec contestant has to reply each move (default 5; 0: no limit)",
     StoreWhole<&Options::MoveBudgetMs, Milliseconds>},
    {"--ready-time", nullptr, "MS", "ms an exec contestant has to answer \"ready\" (default 1000, none with budget 0; 0: none)",
     StoreWhole<&Options::ReadyTimeMs, Milliseconds>},
    {"--result", nullptr, "FILE", "when the run ends, write its outcome to FILE as one JSON object",
     StorePath<&Options::ResultPath>},
    {"--protocol-log", nullptr, "FILE", "write every line exchanged with exec contestants to FILE",
     StorePath<&Options::ProtocolLogPath>},
    {"--record", nullptr, "FILE", "write the match to FILE: each move's orders and a hash of the field",
     StorePath<&Options::RecordPath>},
    {"--replay", nullptr, "FILE", "play a recorded match again, checking every move; no program is started",
     StorePath<&Options::ReplayPath>},
    {"--from-move", nullptr, "N", "with --replay: run the first N moves at once, without frames",
     StoreWhole<&Options::FromMove, Moves>},
    {"--seed", nullptr, "N", "seed the random generator and a duel's field (default: the clock); programs see BRAKKENFEL_SEED",
     StoreWhole<&Options::Seed, SeedRange>},
    {"--rules", nullptr, "RULES", "plain (default: today's arena) or duel: health, a foe list, a seeded field",
     StoreRules},
    {"--health", nullptr, "N", "with --rules duel: each gun's health at the start (default 5)", StoreHealth},
    {"--view", nullptr, "VIEW", "window: start in the 'plain' (default) or 'analysis' view (V switches)",
     StoreView},
    {"--paused", nullptr, nullptr, "window: start with the moves paused (P resumes, . steps)",
     StoreFlag<&Options::Paused>},
    {"--scale", nullptr, "N", "window: draw everything N times larger, 1 to 8 (default 1)", StoreScale},
    {"--hold", nullptr, nullptr, "window: when the match ends (replay, --moves), keep its last frame shown",
     StoreFlag<&Options::Hold>},
    {"--sandbox", nullptr, "MODE", "exec contestants' sandbox: on (default), require (all of it or no run) or off",
     StoreSandboxMode},
    {"--contestant-memory", nullptr, "MB", "an exec contestant's memory, all its processes (default 2048; 0: no limit)",
     StoreLimit<&SandboxSettings::MemoryMb, Megabytes>},
    {"--contestant-cpu", nullptr, "S", "its CPU seconds, all its processes (default 300; 0: no limit)",
     StoreLimit<&SandboxSettings::CpuSeconds, CpuSeconds>},
    {"--contestant-processes", nullptr, "N", "its processes and threads at once (default 256; 0: no limit)",
     StoreLimit<&SandboxSettings::Processes, ProcessCount>},
    {"--contestant-write", nullptr, "DIR", "let exec contestants write in DIR (and their scratch folder)",
     StoreWriteDir},
    {"--contestant-network", nullptr, nullptr, "give exec contestants a loopback network of their own",
     StoreNetwork},
    {"--help", "-h", nullptr, "print this help and exit", StoreFlag<&Options::Help>},
    {"--version", nullptr, nullptr, "print the version and exit", StoreFlag<&Options::Version>},
};

const OptionRow* FindRow(const std::string& Name) {
    for (const OptionRow& Row : Rows) {
        if (Name == Row.Long || (Row.Short && Name == Row.Short)) return &Row;
    }
    return nullptr;
}

// The combinations no single option can refuse on its own; false with `Why` for the first found.
bool CheckCombination(const Options& Chosen, const std::string& NamedKind, std::string& Why) {
    if (!Chosen.ReplayPath.empty()) {
        // The match file names the contestants and the seed; a second source could only contradict it.
        const std::string Other = !NamedKind.empty()            ? NamedKind
                                  : Chosen.Seed                 ? "--seed"
                                  : !Chosen.RecordPath.empty()  ? "--record"
                                  : Chosen.Duel                 ? "--rules"
                                  : Chosen.Health               ? "--health"
                                                                : "";
        if (!Other.empty()) Why = "--replay cannot be used with " + Other + ": the match file decides";
    } else if (Chosen.FromMove) {
        Why = "--from-move needs --replay";
    }
    if (Why.empty() && Chosen.Health && !Chosen.Duel && Chosen.ReplayPath.empty()) {
        Why = "--health needs --rules duel";
    }
    if (Why.empty() && Chosen.Seconds && !Chosen.Headless) Why = "--seconds needs --headless";
    if (Why.empty() && Chosen.Headless) {
        // Nobody sits at the keys of a window that is not there.
        for (const auto& [Option, Kind] : {std::pair{"--cannon", &Chosen.Cannon}, std::pair{"--helicopter", &Chosen.Helicopter}}) {
            if (Kind->Is == ContestantKind::Type::Keys) Why = std::string(Option) + " keys needs the window, not --headless";
        }
    }
    if (Why.empty() && Chosen.Headless) {
        for (const auto& [Option, Asked] : {std::pair{"--view", Chosen.AnalysisView}, std::pair{"--paused", Chosen.Paused},
                                            std::pair{"--scale", Chosen.Scale != 1}, std::pair{"--hold", Chosen.Hold}}) {
            if (Asked && Why.empty()) Why = std::string(Option) + " needs the window, not --headless";
        }
    }
    if (Why.empty() && Chosen.Moves && Chosen.Seconds) Why = "--moves and --seconds cannot be used together";
    if (Why.empty() && Chosen.Headless && !Chosen.Moves && Chosen.TracePath == "-") {
        Why = "a paced headless run prints its captions on standard output, so --trace cannot be '-' "
              "(name a file, or use --moves)";
    }
    return Why.empty();
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& Arguments, Options& Chosen, std::string& Why) {
    Chosen = Options{};
    std::string NamedKind;  // the last of --cannon and --helicopter given, if any
    for (std::size_t I = 0; I < Arguments.size(); ++I) {
        std::string Name = Arguments[I];
        std::optional<std::string> InlineValue;
        if (const auto Equals = Name.find('='); Name.rfind("--", 0) == 0 && Equals != std::string::npos) {
            InlineValue = Name.substr(Equals + 1);
            Name = Name.substr(0, Equals);
        }
        const OptionRow* Row = FindRow(Name);
        if (!Row) {
            Why = "unknown option '" + Arguments[I] + "' (try --help)";
            return false;
        }
        std::string Value;
        if (!Row->Value) {
            if (InlineValue) {
                Why = "option '" + Name + "' takes no value";
                return false;
            }
        } else if (InlineValue) {
            Value = *InlineValue;
        } else if (I + 1 < Arguments.size()) {
            Value = Arguments[++I];
        } else {
            Why = "option '" + Name + "' needs a value";
            return false;
        }
        std::string Expected;
        if (!Row->Store(Chosen, Value, Expected)) {
            Why = "invalid value '" + Value + "' for " + Name + " (" + Expected + ")";
            return false;
        }
        if (std::string_view(Row->Value ? Row->Value : "") == "KIND") NamedKind = Row->Long;
    }
    return CheckCombination(Chosen, NamedKind, Why);
}

std::string UsageText() {
    std::string Text = "Usage: brakkenfel [OPTION]...\n"
                       "Runs a contest between two gun-steering programs. With no options it opens the arena's window.\n"
                       "\n";
    for (const OptionRow& Row : Rows) {
        std::string Left = "  ";
        if (Row.Short) Left += std::string(Row.Short) + ", ";
        Left += Row.Long;
        if (Row.Value) Left += std::string(" ") + Row.Value;
        Left.resize(std::max<std::size_t>(Left.size() + 1, 22), ' ');
        Text += Left + Row.Help + "\n";
    }
    return Text +
           "\n"
           "With --headless and neither --moves nor --seconds, the paced run goes on until interrupted.\n"
           "A paced headless run prints its captions on standard output, so its trace needs a file.\n"
           "--trace and --snapshot work in the window too. Every output must be a file of its own, and none\n"
           "may be cannon.bmp or the --replay file.\n"
           "Keys in the window: P pause, . one move while paused, + and - double and halve the move rate,\n"
           "0 back to 90 a second, V the analysis view, Esc close; in a replay PageDown and PageUp jump\n"
           "900 moves, Home to the first move; with keys, Right or Up turns the gun and Space shoots\n"
           "(docs/window.md).\n"
           "exec:COMMAND runs COMMAND with /bin/sh -c and steers the gun by its replies (docs/contestants.md).\n"
           "SIGINT, SIGTERM and SIGHUP stop the run in order (contestants stopped, trace written, summary).\n"
           "Exit status: 0 on a normal end (the window closed, an open-ended run stopped by a signal),\n"
           "1 on a run-time error (75 in the message: an output could not be written), 2 on a bad command\n"
           "line (a --contestant-write folder the programs could not write to is one), 3 when --sandbox\n"
           "require refused the run (a program's sandbox did not wholly hold here; nothing was played or\n"
           "written), 128 + the signal's number when a signal cut a --moves or --seconds run short, 141\n"
           "when the trace's reader went away.\n";
}

}  // namespace brakkenfel
