// The result file: gathered from the scoreboard and the programs' counts, written in place or linked into place whole.
#include "app/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/OutputFile.h"
#include "platform/Errors.h"

namespace brakkenfel {

namespace {

[[noreturn]] void CannotWrite(const std::string& Path, int Error) {
    throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(Error));
}

void AppendString(std::string& Out, const std::string& Text) { AppendJsonString(Out, Text); }

void AppendProgram(std::string& Out, const ProgramSummary* Program) {
    if (!Program) {
        // Its gun was never made: the arena failed or was stopped during set-up before it.
        Out += "{\"moves\":0,\"replies\":0,\"late\":0,\"malformed\":0,\"ahead\":0,\"unanswered\":0,"
               "\"ignored\":0,\"out\":true,\"out_at_move\":0,"
               "\"out_reason\":\"never started: the run ended before its start\"}";
        return;
    }
    Out += "{\"moves\":" + std::to_string(Program->Moves) + ",\"replies\":" + std::to_string(Program->InTime) +
           ",\"late\":" + std::to_string(Program->Late) + ",\"malformed\":" + std::to_string(Program->Malformed) +
           ",\"ahead\":" + std::to_string(Program->Ahead) + ",\"unanswered\":" + std::to_string(Program->Unanswered()) +
           ",\"ignored\":" + std::to_string(Program->Ignored) + ",\"out\":" + (Program->Out ? "true" : "false") + ",\"out_at_move\":";
    if (Program->Out) {
        Out += std::to_string(Program->OutMove) + ",\"out_reason\":";
        AppendString(Out, Program->OutReason);
    } else {
        Out += "null,\"out_reason\":null";
    }
    Out += ",\"sandbox\":";
    if (Program->Sandbox.empty()) {
        Out += "null";
    } else {
        AppendString(Out, Program->Sandbox);
    }
    Out += '}';
}

// Where the gun started, what it has left, and who destroyed it when.
void AppendDuelGun(std::string& Out, const Scoreboard& Board, const GunScore& Gun) {
    Out += ",\"x\":" + std::to_string(Gun.StartX) + ",\"y\":" + std::to_string(Gun.StartY) +
           ",\"angle\":" + std::to_string(Gun.StartAngle) + ",\"final_health\":" + std::to_string(Gun.Health) +
           ",\"destroyed_at\":";
    if (Gun.DestroyedAt == 0) {
        Out += "null,\"destroyed_by\":null";
    } else {
        Out += std::to_string(Gun.DestroyedAt) + ",\"destroyed_by\":";
        AppendString(Out, DestroyerOf(Board, Gun));
    }
}

}  // namespace

std::string ResultJson(const Options& Chosen, const Scoreboard& Board, const std::vector<ProgramSummary>& Programs,
                       const RunEnd& End) {
    std::string Out = "{\"moves\":" + std::to_string(Board.Moves) +
                      ",\"interrupted\":" + (End.Interrupted ? "true" : "false") + ",\"error\":";
    if (End.ErrorNumber != 0) {
        Out += "{\"number\":" + std::to_string(End.ErrorNumber) + ",\"text\":";
        AppendString(Out, End.ErrorText);
        Out += '}';
    } else {
        Out += "null";
    }
    Out += ",\"winner\":";
    AppendString(Out, Winner(Board));
    if (Board.Duel) {
        Out += ",\"rules\":\"duel\",\"seed\":" + std::to_string(Board.Seed) +
               ",\"health\":" + std::to_string(Board.StartHealth);
    }
    Out += ",\"guns\":[";
    for (const char* Name : {"Cannon", "Helicopter"}) {
        const ContestantKind& Kind = std::string(Name) == "Cannon" ? Chosen.Cannon : Chosen.Helicopter;
        const std::string& Command = Kind.Command;
        const GunScore* Score = nullptr;
        for (const GunScore& Gun : Board.Guns) {
            if (Gun.Name == Name) Score = &Gun;
        }
        if (Name[0] == 'H') Out += ',';
        Out += "{\"name\":\"" + std::string(Name) + "\",\"kind\":\"" + Kind.Name() +
               "\",\"command\":";
        if (Command.empty()) {
            Out += "null";
        } else {
            AppendString(Out, Command);
        }
        Out += ",\"shots\":" + std::to_string(Score ? Score->Shots : 0) +
               ",\"hits\":" + std::to_string(Score ? Score->Hits : 0);
        if (Board.Duel && Score) AppendDuelGun(Out, Board, *Score);
        Out += ",\"program\":";
        if (Command.empty()) {
            Out += "null";
        } else {
            const ProgramSummary* Program = nullptr;
            for (const ProgramSummary& Summary : Programs) {
                if (Summary.GunName == Name) Program = &Summary;
            }
            AppendProgram(Out, Program);
        }
        Out += '}';
    }
    Out += "]}\n";
    return Out;
}

ResultFile::~ResultFile() {
    if (Fd < 0) return;
    close(Fd);
    if (!TempPath.empty()) unlink(TempPath.c_str());
}

void ResultFile::Open() {
    if (Path.empty() || Fd >= 0) return;
    struct stat Info {};
    if (stat(Path.c_str(), &Info) != 0) {
        if (errno != ENOENT) CannotWrite(Path, errno);
        // Not there yet (or a link to a file not yet there): made where the links lead.
        CheckWritable(Path, "the result");
        Target = FollowLinks(Path);
        Prepare(std::filesystem::path(Target).parent_path().string());
        return;
    }
    if (S_ISDIR(Info.st_mode)) CannotWrite(Path, EISDIR);
    for (const int Standard : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat Open {};
        if (fstat(Standard, &Open) == 0 && Open.st_dev == Info.st_dev && Open.st_ino == Info.st_ino) {
            // /dev/stdout, or the file standard output goes to: written through that very descriptor.
            Fd = fcntl(Standard, F_DUPFD_CLOEXEC, 3);
            if (Fd < 0) CannotWrite(Path, errno);
            InPlace = true;
            return;
        }
    }
    if (!S_ISREG(Info.st_mode)) {
        // A device or a FIFO is the place itself: replacing it would break the system's file.
        Fd = OpenOutput(Path, "the result");
        if (Fd < 0) throw StoppedDuringStart();
        InPlace = true;
        return;
    }
    CheckWritable(Path, "the result");
    char Resolved[PATH_MAX];
    if (!realpath(Path.c_str(), Resolved)) CannotWrite(Path, errno);
    Target = Resolved;
    Prepare(std::filesystem::path(Target).parent_path().string());
}

void ResultFile::Prepare(const std::string& Folder) {
#ifdef O_TMPFILE
    // Unnamed until linked into place: a run killed at any moment leaves nothing in the folder.
    Fd = open(Folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (Fd >= 0) return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) CannotWrite(Path, errno);
#endif
    // A file system without unnamed files: a named one beside the target, renamed at the end.
    std::string Template = Folder + "/." + std::filesystem::path(Target).filename().string() + ".XXXXXX";
    Fd = mkostemp(Template.data(), O_CLOEXEC);
    if (Fd < 0) CannotWrite(Path, errno);
    TempPath = Template;
    // mkostemp makes it private to us; a result is as readable as any file the user creates.
    const mode_t Mask = umask(0);
    umask(Mask);
    fchmod(Fd, 0666 & ~Mask);
}

void ResultFile::Link() {
    if (!TempPath.empty()) {
        if (std::rename(TempPath.c_str(), Target.c_str()) != 0) CannotWrite(Path, errno);
        TempPath.clear();
        return;
    }
    const std::string Self = "/proc/self/fd/" + std::to_string(Fd);
    const auto LinkAt = [&](const std::string& Name) {
        if (linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
        // Without /proc: the descriptor itself, which needs more privilege.
        if (errno == ENOENT && linkat(Fd, "", AT_FDCWD, Name.c_str(), AT_EMPTY_PATH) == 0) return 0;
        return errno;
    };
    int Error = LinkAt(Target);
    if (Error == 0) return;
    if (Error != EEXIST) CannotWrite(Path, Error);
    // The file is there: linked under a passing name beside it and renamed over it, in one step for readers.
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        std::string Passing = Target + ".XXXXXX";
        const int Probe = mkstemp(Passing.data());
        if (Probe < 0) CannotWrite(Path, errno);
        close(Probe);
        unlink(Passing.c_str());
        Error = LinkAt(Passing);
        if (Error == EEXIST) continue;
        if (Error != 0) CannotWrite(Path, Error);
        if (std::rename(Passing.c_str(), Target.c_str()) != 0) {
            Error = errno;
            unlink(Passing.c_str());
            CannotWrite(Path, Error);
        }
        return;
    }
    CannotWrite(Path, EEXIST);
}

void ResultFile::Commit(const std::string& Json) {
    if (Fd < 0) return;
    std::size_t Done = 0;
    int Error = 0;
    const WriteEnd End = WriteOutput(Fd, Json.data(), Json.size(), Done, Error);
    const int Holding = Fd;
    struct Closer {
        int& Fd;
        int Holding;
        ~Closer() {
            close(Holding);
            Fd = -1;
        }
    } Closing{Fd, Holding};
    if (End != WriteEnd::Written) {
        if (!TempPath.empty()) unlink(TempPath.c_str());
        TempPath.clear();
        CannotWrite(Path, End == WriteEnd::Failed ? Error : End == WriteEnd::Broken ? EPIPE : ETIMEDOUT);
    }
    if (!InPlace) Link();
}

}  // namespace brakkenfel
