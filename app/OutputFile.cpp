// Output files done safely: the check before any is opened, the open that waits for a FIFO's reader, bounded writes, safe text.
#include "app/OutputFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/Errors.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

[[noreturn]] void CannotWrite(const char* What, const std::string& Path, int Error) {
    throw RuntimeError(ErrPathFileAccess,
                       std::string("cannot write ") + What + " to " + Path + ": " + std::strerror(Error));
}

// The length of the valid UTF-8 sequence at the start of `Text` (overlong forms, surrogates and
// code points past U+10FFFF are not valid), or 0.
std::size_t Utf8Length(std::string_view Text) {
    const auto Byte = [&Text](std::size_t At) { return static_cast<unsigned char>(Text[At]); };
    const unsigned char Lead = Byte(0);
    if (Lead < 0x80) return 1;
    std::size_t Length = 0;
    unsigned char Low = 0x80, High = 0xbf;  // the range of the second byte
    if (Lead >= 0xc2 && Lead <= 0xdf) {
        Length = 2;
    } else if (Lead >= 0xe0 && Lead <= 0xef) {
        Length = 3;
        if (Lead == 0xe0) Low = 0xa0;
        if (Lead == 0xed) High = 0x9f;
    } else if (Lead >= 0xf0 && Lead <= 0xf4) {
        Length = 4;
        if (Lead == 0xf0) Low = 0x90;
        if (Lead == 0xf4) High = 0x8f;
    } else {
        return 0;
    }
    if (Text.size() < Length || Byte(1) < Low || Byte(1) > High) return 0;
    for (std::size_t At = 2; At < Length; ++At) {
        if (Byte(At) < 0x80 || Byte(At) > 0xbf) return 0;
    }
    return Length;
}

// When waits for room end once a stop is under way; set by the first such wait.
std::optional<std::chrono::steady_clock::time_point> StopDeadline;

}  // namespace

std::string FollowLinks(const std::string& Path) {
    namespace fs = std::filesystem;
    std::error_code Error;
    fs::path Where = fs::absolute(Path, Error);
    for (int Hops = 0; Hops < 40 && fs::is_symlink(fs::symlink_status(Where, Error)); ++Hops) {
        const fs::path Link = fs::read_symlink(Where, Error);
        if (Error) break;
        Where = Link.is_absolute() ? Link : Where.parent_path() / Link;
    }
    return Where.string();
}

void CheckWritable(const std::string& Path, const char* What) {
    namespace fs = std::filesystem;
    if (Path == "-") return;
    struct stat Info {};
    if (stat(Path.c_str(), &Info) == 0) {
        if (S_ISDIR(Info.st_mode)) CannotWrite(What, Path, EISDIR);
        // access() asks the kernel as open() would: modes, a read-only mount, an immutable file.
        if (access(Path.c_str(), W_OK) != 0) CannotWrite(What, Path, errno);
        return;
    }
    if (errno != ENOENT) CannotWrite(What, Path, errno);
    // Not there yet: its folder must let a file be made, after the links to it are followed.
    const std::string Folder = fs::path(FollowLinks(Path)).parent_path().string();
    if (access(Folder.c_str(), W_OK | X_OK) != 0) CannotWrite(What, Path, errno);
}

int OpenOutput(const std::string& Path, const char* What) {
    for (;;) {
        // Non-blocking only for the open itself: a FIFO without a reader fails with ENXIO instead
        // of blocking, so the wait below can look at the stop flag without a race.
        const int Fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (Fd >= 0) {
            fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
            return Fd;
        }
        const int Error = errno;
        struct stat Info {};
        const bool Fifo = Error == ENXIO && stat(Path.c_str(), &Info) == 0 && S_ISFIFO(Info.st_mode);
        if (!Fifo && Error != EINTR) CannotWrite(What, Path, Error);
        if (StopSignalPending()) return -1;
        const timespec Pause{0, 20'000'000};
        nanosleep(&Pause, nullptr);  // a stop signal cuts it short
    }
}

WriteEnd WriteOutput(int Fd, const char* Data, std::size_t Size, std::size_t& Done, int& Error, bool Bounded) {
    std::size_t Left = Size;
    while (Left > 0) {
        std::size_t Piece = Left;
        if (Bounded || StopSignalNumber() != 0) {
            const auto Now = std::chrono::steady_clock::now();
            if (!StopDeadline) StopDeadline = Now + std::chrono::milliseconds(500);
            const auto Wait = std::chrono::duration_cast<std::chrono::milliseconds>(*StopDeadline - Now).count();
            pollfd Out{Fd, POLLOUT, 0};
            const int Ready = poll(&Out, 1, static_cast<int>(std::max<std::int64_t>(0, Wait)));
            if (Ready == 0) return WriteEnd::Stalled;
            if (Ready < 0 && errno != EINTR) return WriteEnd::Stalled;
            if (Ready < 0) continue;
            // After a wait for room, no more than a pipe takes in one piece, so the write cannot block.
            Piece = std::min<std::size_t>(Left, PIPE_BUF);
        }
        const ssize_t Written = write(Fd, Data, Piece);
        if (Written > 0) {
            Data += Written;
            Left -= static_cast<std::size_t>(Written);
            Done += static_cast<std::size_t>(Written);
            continue;  // a write cut short by a stop signal goes on, bounded, from here
        }
        if (Written < 0 && errno == EINTR) continue;
        if (Written < 0 && errno == EPIPE) return WriteEnd::Broken;
        if (Written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Someone sharing the descriptor made it non-blocking: wait for room as a blocking write would.
            pollfd Out{Fd, POLLOUT, 0};
            poll(&Out, 1, 100);
            continue;
        }
        Error = Written < 0 ? errno : ENOSPC;
        return WriteEnd::Failed;
    }
    return WriteEnd::Written;
}

void AppendJsonString(std::string& Out, std::string_view Text) {
    static constexpr char Hex[] = "0123456789abcdef";
    Out += '"';
    for (std::size_t At = 0; At < Text.size();) {
        const auto Byte = static_cast<unsigned char>(Text[At]);
        const std::size_t Length = Utf8Length(Text.substr(At));
        if (Length == 0) {
            Out += "\\ufffd";
            ++At;
        } else if (Byte == '"' || Byte == '\\') {
            Out += '\\';
            Out += static_cast<char>(Byte);
            ++At;
        } else if (Byte < 0x20 || Byte == 0x7f) {
            Out += "\\u00";
            Out += Hex[Byte >> 4];
            Out += Hex[Byte & 15];
            ++At;
        } else {
            Out.append(Text.substr(At, Length));
            At += Length;
        }
    }
    Out += '"';
}

std::string Printable(std::string_view Text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string Out;
    for (std::size_t At = 0; At < Text.size();) {
        const std::size_t Length = Utf8Length(Text.substr(At));
        const auto Byte = static_cast<unsigned char>(Text[At]);
        // U+0080 to U+009F, two bytes from 0xc2: the C1 controls, which some terminals obey.
        const bool Control = Byte < 0x20 || Byte == 0x7f || Byte == '\\' ||
                             (Length == 2 && Byte == 0xc2 && static_cast<unsigned char>(Text[At + 1]) < 0xa0);
        if (Length == 0 || Control) {
            for (std::size_t Part = 0; Part < std::max<std::size_t>(Length, 1); ++Part) {
                const auto Escaped = static_cast<unsigned char>(Text[At + Part]);
                Out += "\\x";
                Out += Hex[Escaped >> 4];
                Out += Hex[Escaped & 15];
            }
            At += std::max<std::size_t>(Length, 1);
        } else {
            Out.append(Text.substr(At, Length));
            At += Length;
        }
    }
    return Out;
}

}  // namespace brakkenfel
