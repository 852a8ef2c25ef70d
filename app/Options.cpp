// Parsing of the command line, GNU style: "--name value" or "--name=value"; output paths checked against each other.
#include "app/Options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <system_error>
#include <tuple>

namespace brakkenfel {

namespace {

template <class Integer>
bool ParseWhole(const std::string& text, Integer low, Integer& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && value >= low;
}

bool ValidKind(const std::string& kind) {
    if (kind == "ai" || kind == "human") return true;
    // A command of blanks alone would start a shell that does nothing and exits at once.
    return ProgramCommand(kind).find_first_not_of(" \t") != std::string::npos;
}

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
    fs::path where = fs::absolute(path, error);
    // A link to a file not yet there is followed too: the write would create its target.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(where, error)); ++hops) {
        const fs::path target = fs::read_symlink(where, error);
        if (error) break;
        where = target.is_absolute() ? target : where.parent_path() / target;
    }
    id.Path = fs::weakly_canonical(where, error).string();
    return id;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.Exists != b.Exists) return false;
    return a.Exists ? a.DeviceId == b.DeviceId && a.Inode == b.Inode : a.Path == b.Path;
}

}  // namespace

std::optional<std::string> CheckOutputPaths(const Options& Chosen, const std::string& PictureFile) {
    const FileIdentity picture = Identify(PictureFile);
    std::optional<FileIdentity> trace, snapshot;
    if (!Chosen.TracePath.empty()) trace = Identify(Chosen.TracePath);
    if (!Chosen.SnapshotPath.empty()) snapshot = Identify(Chosen.SnapshotPath);
    if (trace && snapshot && !trace->Device && SameFile(*trace, *snapshot)) {
        return "--trace '" + Chosen.TracePath + "' and --snapshot '" + Chosen.SnapshotPath + "' are the same file";
    }
    for (const auto& [option, path, id] : {std::tuple{"--trace", &Chosen.TracePath, &trace},
                                          std::tuple{"--snapshot", &Chosen.SnapshotPath, &snapshot}}) {
        if (*id && SameFile(**id, picture)) {
            return std::string(option) + " '" + *path + "' would overwrite the guns' picture strip " + PictureFile;
        }
    }
    return std::nullopt;
}

std::string ProgramCommand(const std::string& Kind) {
    const std::string Prefix = ExecKindPrefix;
    return Kind.rfind(Prefix, 0) == 0 ? Kind.substr(Prefix.size()) : std::string();
}

std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, OptionsError& error) {
    Options options;
    std::string namedKind;  // the last of --cannon and --helicopter given, if any
    auto fail = [&](const std::string& message) {
        error.Message = message;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        // Flags take no value; every other option takes exactly one.
        bool* flag = name == "--help" ? &options.Help
                     : name == "--version" ? &options.Version
                     : name == "--headless" ? &options.Headless
                     : nullptr;
        if (flag) {
            if (inlineValue) return fail("option '" + name + "' takes no value");
            *flag = true;
            continue;
        }
        const bool known = name == "--moves" || name == "--seconds" || name == "--trace" || name == "--snapshot" ||
                           name == "--cannon" || name == "--helicopter" || name == "--move-budget" ||
                           name == "--result" || name == "--protocol-log" || name == "--record" ||
                           name == "--replay" || name == "--from-move" || name == "--seed";
        if (!known) return fail("unknown option '" + arguments[i] + "' (try --help)");
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return fail("option '" + name + "' needs a value");
        }
        const std::string bad = "invalid value '" + value + "' for " + name;
        if (name == "--moves") {
            std::int64_t moves = 0;
            if (!ParseWhole<std::int64_t>(value, 0, moves)) return fail(bad + " (a whole number of moves, 0 or more)");
            options.Moves = moves;
        } else if (name == "--seconds") {
            std::int32_t seconds = 0;
            if (!ParseWhole<std::int32_t>(value, 0, seconds)) return fail(bad + " (a whole number of seconds, 0 or more)");
            options.Seconds = seconds;
        } else if (name == "--move-budget") {
            std::int32_t budget = 0;
            if (!ParseWhole<std::int32_t>(value, 0, budget)) {
                return fail(bad + " (a whole number of milliseconds, 0 or more)");
            }
            options.MoveBudgetMs = budget;
        } else if (name == "--trace" || name == "--snapshot") {
            if (value.empty()) return fail(bad + " (a file name)");
            (name == "--trace" ? options.TracePath : options.SnapshotPath) = value;
        } else if (name == "--record" || name == "--replay") {
            if (value.empty()) return fail(bad + " (a file name)");
            (name == "--record" ? options.RecordPath : options.ReplayPath) = value;
        } else if (name == "--from-move") {
            std::int64_t from = 0;
            if (!ParseWhole<std::int64_t>(value, 0, from)) return fail(bad + " (a whole number of moves, 0 or more)");
            options.FromMove = from;
        } else if (name == "--seed") {
            std::uint32_t seed = 0;
            if (!ParseWhole<std::uint32_t>(value, 0, seed)) return fail(bad + " (a whole number from 0 to 4294967295)");
            options.Seed = seed;
        } else if (name == "--result" || name == "--protocol-log") {
            if (value.empty()) return fail(bad + " (a file name)");
            (name == "--result" ? options.ResultPath : options.ProtocolLogPath) = value;
        } else {
            if (!ValidKind(value)) return fail(bad + " (ai, human or exec:COMMAND with a command)");
            (name == "--cannon" ? options.Cannon : options.Helicopter) = value;
            namedKind = name;
        }
    }
    if (!options.ReplayPath.empty()) {
        // The match file names the contestants and the seed; a second source could only contradict it.
        const std::string other = !namedKind.empty()            ? namedKind
                                  : options.Seed                  ? "--seed"
                                  : !options.RecordPath.empty()   ? "--record"
                                                                  : "";
        if (!other.empty()) return fail("--replay cannot be used with " + other + ": the match file decides");
    } else if (options.FromMove) {
        return fail("--from-move needs --replay");
    }
    if ((options.Moves || options.Seconds) && !options.Headless) {
        return fail(std::string(options.Moves ? "--moves" : "--seconds") + " needs --headless");
    }
    if (options.Moves && options.Seconds) return fail("--moves and --seconds cannot be used together");
    if (options.Headless && !options.Moves && options.TracePath == "-") {
        return fail("a paced headless run prints its captions on standard output, so --trace cannot be '-' "
                    "(name a file, or use --moves)");
    }
    return options;
}

std::string UsageText() {
    return "Usage: brakkenfel [OPTION]...\n"
           "Runs a contest between two gun-steering programs. With no options it opens the arena's window.\n"
           "\n"
           "  --headless          run without a window: the field is an in-memory bitmap of 373 x 285\n"
           "  --moves N           with --headless: run N moves back to back, unpaced, then stop\n"
           "  --seconds S         with --headless: run paced, print each caption, stop after S seconds\n"
           "  --trace FILE        write one JSON line per move to FILE ('-' for standard output)\n"
           "  --snapshot FILE     at the end, save the field as a 24-bit BMP (window: the last frame shown)\n"
           "  --cannon KIND       the Cannon's contestant: ai (default), human (idle) or exec:COMMAND\n"
           "  --helicopter KIND   the Helicopter's contestant: ai (default), human (idle) or exec:COMMAND\n"
           "  --move-budget MS    ms an exec contestant has to reply each move (default 5; 0: no limit)\n"
           "  --result FILE       when the run ends, write its outcome to FILE as one JSON object\n"
           "  --protocol-log FILE write every line exchanged with exec contestants to FILE\n"
           "  --record FILE       write the match to FILE: each move's orders and a hash of the field\n"
           "  --replay FILE       play a recorded match again, checking every move; no program is started\n"
           "  --from-move N       with --replay: run the first N moves at once, without frames\n"
           "  --seed N            seed the random generator (default: the clock); programs see BRAKKENFEL_SEED\n"
           "  --help              print this help and exit\n"
           "  --version           print the version and exit\n"
           "\n"
           "With --headless and neither --moves nor --seconds, the paced run goes on until interrupted.\n"
           "A paced headless run prints its captions on standard output, so its trace needs a file.\n"
           "--trace and --snapshot work in the window too. The trace, the snapshot and cannon.bmp must be\n"
           "three different files.\n"
           "exec:COMMAND runs COMMAND with /bin/sh -c and steers the gun by its replies (docs/contestants.md).\n"
           "SIGINT, SIGTERM and SIGHUP stop the run in order (contestants stopped, trace written, summary).\n"
           "Exit status: 0 on a normal end (the window closed, an open-ended run stopped by a signal),\n"
           "1 on a run-time error (75 in the message: an output could not be written), 2 on a bad command\n"
           "line, 128 + the signal's number when a signal cut a --moves or --seconds run short, 141 when\n"
           "the trace's reader went away.\n";
}

}  // namespace brakkenfel
