// The result file: gathered from the scoreboard and the programs' counts, written beside and renamed.
#include "app/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Errors.h"

namespace brakkenfel {

namespace {

void AppendString(std::string& Out, const std::string& Text) {
    Out += '"';
    for (const char Char : Text) {
        const auto Byte = static_cast<unsigned char>(Char);
        if (Char == '"' || Char == '\\') {
            Out += '\\';
            Out += Char;
        } else if (Byte < 0x20 || Byte == 0x7f) {
            char Escaped[8];
            std::snprintf(Escaped, sizeof Escaped, "\\u%04x", Byte);
            Out += Escaped;
        } else {
            Out += Char;
        }
    }
    Out += '"';
}

void AppendProgram(std::string& Out, const ProgramSummary* Program) {
    if (!Program) {
        // Its gun was never made: the arena failed or was stopped during set-up before it.
        Out += "{\"moves\":0,\"replies\":0,\"late\":0,\"malformed\":0,\"out\":true,\"out_at_move\":0,"
               "\"out_reason\":\"never started: the run ended before its start\"}";
        return;
    }
    Out += "{\"moves\":" + std::to_string(Program->Moves) + ",\"replies\":" + std::to_string(Program->InTime) +
           ",\"late\":" + std::to_string(Program->Late) + ",\"malformed\":" + std::to_string(Program->Malformed) +
           ",\"out\":" + (Program->Out ? "true" : "false") + ",\"out_at_move\":";
    if (Program->Out) {
        Out += std::to_string(Program->OutMove) + ",\"out_reason\":";
        AppendString(Out, Program->OutReason);
    } else {
        Out += "null,\"out_reason\":null";
    }
    Out += '}';
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
               ",\"hits\":" + std::to_string(Score ? Score->Hits : 0) + ",\"program\":";
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
    unlink(TempPath.c_str());
}

void ResultFile::Open() {
    if (Path.empty() || Fd >= 0) return;
    // In the same folder, so the rename is atomic; unique, so concurrent runs never share one.
    std::string Template = Path + ".XXXXXX";
    Fd = mkostemp(Template.data(), O_CLOEXEC);
    if (Fd < 0) throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(errno));
    TempPath = Template;
    // mkostemp makes it private to us; a result is as readable as any file the user creates.
    const mode_t Mask = umask(0);
    umask(Mask);
    fchmod(Fd, 0666 & ~Mask);
}

void ResultFile::Commit(const std::string& Json) {
    if (Fd < 0) return;
    std::size_t Done = 0;
    while (Done < Json.size()) {
        const ssize_t Written = write(Fd, Json.data() + Done, Json.size() - Done);
        if (Written < 0 && errno == EINTR) continue;
        if (Written <= 0) break;
        Done += static_cast<std::size_t>(Written);
    }
    const bool Closed = close(Fd) == 0;
    Fd = -1;
    if (Done < Json.size() || !Closed || std::rename(TempPath.c_str(), Path.c_str()) != 0) {
        const int Error = errno;
        unlink(TempPath.c_str());
        throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(Error));
    }
}

}  // namespace brakkenfel
