// The web player: the match file's bytes replayed on the core's loop, slice by slice, with what the page shows.
#include "backends/web/WebPlayer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "app/Workbench.h"
#include "app/modTicks.h"
#include "backends/web/WebPicture.h"
#include "display/AnalysisView.h"
#include "display/ComposeFrame.h"
#include "platform/Errors.h"
#include "replay/MatchFile.h"
#include "replay/StateHash.h"
#include "replay/clsReplay.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

// Reads the held bytes as a file would be read; each rewind starts a new source at the first byte.
MatchSource BytesSource(std::shared_ptr<const std::vector<char>> Bytes) {
    return [Bytes = std::move(Bytes), At = std::size_t{0}](char* Buffer, std::size_t Size) mutable {
        const std::size_t Part = std::min(Size, Bytes->size() - At);
        std::memcpy(Buffer, Bytes->data() + At, Part);
        At += Part;
        return Part;
    };
}

// Move lines: every line ended by '\n' after the header that is not an event line.
std::int64_t CountMoves(const std::vector<char>& Bytes) {
    std::int64_t Moves = 0;
    bool First = true;
    std::size_t Start = 0;
    for (const char* At = Bytes.data(); const void* Found = std::memchr(At, '\n', Bytes.size() - Start);) {
        const auto End = static_cast<std::size_t>(static_cast<const char*>(Found) - Bytes.data());
        if (!First && End > Start && Bytes[Start] != '!') ++Moves;
        First = false;
        Start = End + 1;
        At = Bytes.data() + Start;
    }
    return Moves;
}

void AppendJsonString(std::string& Out, const std::string& Text) {
    Out += '"';
    for (const char Char : Text) {
        if (Char == '"' || Char == '\\') {
            Out += '\\';
            Out += Char;
        } else if (static_cast<unsigned char>(Char) < 0x20) {
            static constexpr char Hex[] = "0123456789abcdef";
            Out += "\\u00";
            Out += Hex[(Char >> 4) & 15];
            Out += Hex[Char & 15];
        } else {
            Out += Char;
        }
    }
    Out += '"';
}

}  // namespace

std::uint64_t FrameHashOf(const GdiBitmap& Bitmap) {
    std::uint64_t Hash = 0xcbf29ce484222325ULL;
    for (std::int32_t Y = 0; Y < Bitmap.Height(); ++Y) {
        const std::uint32_t* Row = Bitmap.Row(Y);
        for (std::int32_t X = 0; X < Bitmap.Width(); ++X) {
            for (const int Shift : {16, 8, 0}) Hash = (Hash ^ ((Row[X] >> Shift) & 0xFF)) * 0x100000001b3ULL;
        }
    }
    return Hash;
}

WebPlayer::WebPlayer() = default;

WebPlayer::~WebPlayer() { Close(); }

template <class Body>
void WebPlayer::Guarded(Body body) {
    try {
        body();
    } catch (const RuntimeError& Error) {
        Fail("Run-time error " + std::to_string(Error.Number()) + ": " + Error.what());
    } catch (const std::exception& Error) {
        Fail(Error.what());
    }
}

void WebPlayer::Close() {
    if (Now == Standing::Closed) return;
    TearDownContest();
    Replay.reset();
    Form.reset();
    Now = Standing::Closed;
    // Nothing of this match is left for the next one: no stop request, no schedule, no picture.
    QuitRequested = 0;
    ResetTicks();
    SetPictureLoader({});
}

bool WebPlayer::Open(std::string FileName, std::vector<char> Bytes, std::vector<std::uint8_t> Strip) {
    Close();
    Failure.clear();
    Name = std::move(FileName);
    Match = std::make_shared<const std::vector<char>>(std::move(Bytes));
    try {
        Replay = std::make_shared<ReplaySource>(std::make_unique<MatchReader>(Name, BytesSource(Match)));
    } catch (const RuntimeError& Error) {
        Failure = std::string(Error.what());
        return false;
    }
    Total = CountMoves(*Match);
    Kinds.clear();
    for (const ContestantKind& Kind : Replay->Header().Kinds) Kinds.push_back(Kind.Text());
    SetPictureLoader(WebPictureLoader(std::move(Strip)));

    Form = std::make_shared<WebForm>();
    Host = {};
    Host.TickClock = &PageClock;
    Host.CreateMainWindow = [this] { return Form; };
    Host.ProgramFolder = std::string(".");
    Host.Seed = Replay->Header().Seed;
    // As --replay does: a duel file's field is drawn again from its seed, each gun with its health.
    if (Replay->Header().Duel) Host.DuelHealth = Replay->Header().Health;
    // Through the player, not a copy of the pointer: a jump back replaces the source.
    Host.MakeContestant = [this](const std::string& GunName) -> std::shared_ptr<Sprite> {
        return std::make_shared<clsReplay>(Replay, GunName == "Cannon" ? 0 : 1);
    };
    Host.AfterMove = [this] { Replay->AfterMove(); };
    Host.Rewind = [this] {
        Replay = std::make_shared<ReplaySource>(std::make_unique<MatchReader>(Name, BytesSource(Match)));
    };
    QuitRequested = 0;
    ResetTicks();
    try {
        SetUpContest(Host);
    } catch (const RuntimeError& Error) {
        Failure = std::string(Error.what());
        TearDownContest();
        Replay.reset();
        Form.reset();
        return false;
    }
    Now = Replay->Ended() ? Standing::Ended : Standing::Playing;
    Frames = 0;
    ShowFrame();
    return true;
}

void WebPlayer::Fail(const std::string& Why) {
    Now = Standing::Failed;
    Failure = Why;
    try {
        // The field as it stands after the move that failed.
        ShowFrame();
    } catch (const RuntimeError&) {
        // The text says what went wrong; the canvas keeps the frame before.
    }
}

void WebPlayer::ShowFrame() {
    if (!Form) return;
    ComposeFrame();
    CopyOut();
}

void WebPlayer::CopyOut() {
    const GdiBitmap& Box = Form->PictureBox();
    Rgba.resize(static_cast<std::size_t>(Box.Width()) * Box.Height() * 4);
    std::uint8_t* Out = Rgba.data();
    for (std::int32_t Y = 0; Y < Box.Height(); ++Y) {
        const std::uint32_t* Row = Box.Row(Y);
        for (std::int32_t X = 0; X < Box.Width(); ++X, Out += 4) {
            Out[0] = static_cast<std::uint8_t>(Row[X] >> 16);
            Out[1] = static_cast<std::uint8_t>(Row[X] >> 8);
            Out[2] = static_cast<std::uint8_t>(Row[X]);
            Out[3] = 0xFF;
        }
    }
    FrameHash.clear();
    AppendHash(FrameHash, FrameHashOf(Box));
    ++Frames;
}

std::int64_t WebPlayer::Advance(std::int64_t NowMicroseconds) {
    if (Now != Standing::Playing) return -1;
    PageClock.SetPageNow(NowMicroseconds);
    bool Composed = false;
    Guarded([&] {
        while (!PageClock.SleptInSlice() && QuitRequested == 0) {
            const std::int32_t FramesBefore = TickCount(TickFrame);
            RunLoopPass(Host);
            Composed = Composed || TickCount(TickFrame) != FramesBefore;
        }
    });
    if (Now == Standing::Failed) return -1;
    if (QuitRequested != 0) {
        // The file's last move: the page stays on it, where the window would have closed.
        Now = Standing::Ended;
        ShowFrame();
        return -1;
    }
    // The loop composed the frame already; only the page's copy and hash are refreshed.
    if (Composed) CopyOut();
    return PageClock.WaitLeft();
}

void WebPlayer::JumpTo(std::int64_t Target) {
    if (Now == Standing::Closed) return;
    Target = std::clamp<std::int64_t>(Target, 0, Total);
    // A jump leaves an end or a failure behind: the moves on the way are checked again.
    Now = Standing::Playing;
    Failure.clear();
    QuitRequested = 0;
    Guarded([&] {
        Bench.JumpHome = true;
        Bench.PendingJump = Target;
        RunPendingJump(Host);
    });
    if (Now == Standing::Failed) return;
    if (QuitRequested != 0) Now = Standing::Ended;
    ShowFrame();
}

void WebPlayer::Command(WindowCommand Key) {
    if (Now == Standing::Closed) return;
    switch (Key) {
    case WindowCommand::JumpForward: JumpTo(Move() + JumpLength); return;
    case WindowCommand::JumpBack: JumpTo(Move() - JumpLength); return;
    case WindowCommand::JumpToStart: JumpTo(0); return;
    default: break;
    }
    Guarded([&] { Form->Press(Key); });
    // A loop standing still composes no frame of its own: a new view shows at once.
    if (Now != Standing::Playing && Key == WindowCommand::ToggleView) ShowFrame();
}

void WebPlayer::SetPaused(bool Paused) {
    if (Now != Standing::Closed && Bench.Paused != Paused) Command(WindowCommand::Pause);
}

std::int64_t WebPlayer::Move() const { return Score.Moves; }

std::string WebPlayer::StateHashText() const {
    std::string Text;
    AppendHash(Text, Now == Standing::Closed ? 0 : StateHash());
    return Text;
}

std::string WebPlayer::Caption() const { return Form ? Form->Caption() : std::string(); }

std::string WebPlayer::Label() const { return Form ? Form->LabelCaption() : std::string(); }

std::string WebPlayer::Facts() const {
    static constexpr const char* States[] = {"closed", "playing", "ended", "failed"};
    std::string Out = "{\"state\":\"";
    Out += States[static_cast<int>(Now)];
    Out += "\",\"move\":" + std::to_string(Move()) + ",\"total\":" + std::to_string(Total);
    Out += ",\"paused\":" + std::string(Bench.Paused ? "true" : "false");
    Out += ",\"rateShift\":" + std::to_string(Bench.RateShift);
    Out += ",\"analysis\":" + std::string(AnalysisShown() ? "true" : "false");
    Out += ",\"duel\":" + std::string(Now != Standing::Closed && Score.Duel ? "true" : "false");
    Out += ",\"leader\":";
    AppendJsonString(Out, Now == Standing::Closed ? std::string() : Winner(Score));
    Out += ",\"guns\":[";
    if (Sprites) {
        const std::int16_t Guns[] = {CannonIndex, HelicopterIndex};
        for (std::size_t Gun = 0; Gun < 2; ++Gun) {
            if (Gun > 0) Out += ',';
            Out += "{\"name\":";
            AppendJsonString(Out, std::string(MatchGunNames[Gun]));
            Out += ",\"kind\":";
            AppendJsonString(Out, Gun < Kinds.size() ? Kinds[Gun] : std::string());
            Out += ",\"shots\":" + std::to_string(Sprites->ShotsFired(Guns[Gun]));
            Out += ",\"hits\":" + std::to_string(HitsOf(Guns[Gun]));
            if (Score.Duel) Out += ",\"health\":" + std::to_string(HealthOf(Guns[Gun]));
            Out += '}';
        }
    }
    Out += "]}";
    return Out;
}

}  // namespace brakkenfel
