// The side panel's facts and lines: read from the scoreboard and the workbench, never from a backend.
#include "display/Panel.h"

#include "app/Workbench.h"
#include "display/AnalysisView.h"
#include "display/TextFormat.h"
#include "score/Scoreboard.h"

namespace brakkenfel {

PanelSetup PanelRun;

namespace {

constexpr COLORREF Ink = 0xE0E0E0;      // plain text on the panel's dark ground
constexpr COLORREF Quiet = 0x9A9A9A;    // the key list
constexpr COLORREF Alert = 0x4040FF;    // PAUSED and the end, in red
constexpr std::size_t ContestantRoom = 26;
constexpr std::array<const char*, 2> GunNames{"Cannon", "Helicopter"};
constexpr std::array<COLORREF, 2> GunColors{CannonColor, HelicopterColor};

std::string Count(std::int64_t Value) { return std::to_string(Value); }

}  // namespace

std::string RateLabel(std::int32_t Shift) {
    // Appended piece by piece: GCC 12's Release build misreads a literal + to_string as overlapping.
    std::string Label(Shift >= 0 ? "x" : "x1/");
    Label += std::to_string(1 << (Shift >= 0 ? Shift : -Shift));
    return Label;
}

std::string ContestantLabel(const ContestantKind& Kind, std::size_t Room) {
    if (Kind.Is != ContestantKind::Type::Program) return Kind.Name();
    // Each word without its folders: "python3 /home/a/bots/aim.py" reads "python3 aim.py".
    std::string Short;
    std::size_t Start = 0;
    while (Start <= Kind.Command.size()) {
        std::size_t End = Kind.Command.find(' ', Start);
        if (End == std::string::npos) End = Kind.Command.size();
        std::string Word = Kind.Command.substr(Start, End - Start);
        // A trailing slash names a folder; keep it whole rather than show nothing.
        if (const auto Slash = Word.find_last_of('/'); Slash != std::string::npos && Slash + 1 < Word.size()) {
            Word = Word.substr(Slash + 1);
        }
        if (!Word.empty()) Short += (Short.empty() ? "" : " ") + Word;
        Start = End + 1;
    }
    // A command is anyone's text: only printable ASCII reaches the font.
    for (char& C : Short) {
        if (C < 0x20 || C > 0x7E) C = '?';
    }
    if (Short.size() > Room) Short = Short.substr(0, Room > 3 ? Room - 3 : 0) + "...";
    return Short;
}

PanelFacts GatherPanelFacts() {
    PanelFacts Facts;
    for (std::size_t Gun = 0; Gun < Facts.Guns.size(); ++Gun) {
        PanelGun& Shown = Facts.Guns[Gun];
        Shown.Name = GunNames[Gun];
        Shown.Color = GunColors[Gun];
        Shown.Contestant = ContestantLabel(PanelRun.Kinds[Gun], ContestantRoom);
        Shown.You = PanelRun.Kinds[Gun].Is == ContestantKind::Type::Keys && !PanelRun.Replay;
        // The registry's slots hold the guns in this order, so the scoreboard's do too.
        if (Gun < Score.Guns.size()) {
            Shown.Shots = Score.Guns[Gun].Shots;
            Shown.Hits = Score.Guns[Gun].Hits;
        }
        if (Score.Duel) {
            Shown.Health = HealthOf(static_cast<std::int16_t>(Gun));
        } else if (PanelRun.HealthOf) {
            Shown.Health = PanelRun.HealthOf(Gun);
        }
    }
    Facts.Leader = Winner(Score);
    Facts.Move = Score.Moves;
    Facts.Total = PanelRun.Total;
    Facts.Paused = Bench.Paused;
    Facts.Replay = PanelRun.Replay;
    Facts.Ended = Bench.Ended;
    Facts.RateShift = Bench.RateShift;
    return Facts;
}

std::vector<PanelLine> PanelLines(const PanelFacts& Facts) {
    std::vector<PanelLine> Lines;
    Lines.reserve(32);
    for (const PanelGun& Gun : Facts.Guns) {
        Lines.push_back({Gun.Name, Gun.Color});
        Lines.push_back({"  " + Gun.Contestant + (Gun.You ? "  - you" : ""), Ink});
        Lines.push_back({"  shots " + Count(Gun.Shots) + "   hits " + Count(Gun.Hits), Ink});
        if (Gun.Health) Lines.push_back({"  health " + Count(*Gun.Health), Ink});
        Lines.push_back({});
    }
    if (Facts.Leader == "draw") {
        Lines.push_back({"level: nobody leads", Ink});
    } else {
        const COLORREF Color = Facts.Leader == Facts.Guns[1].Name ? Facts.Guns[1].Color : Facts.Guns[0].Color;
        Lines.push_back({Facts.Leader + (Facts.Ended ? " wins" : " leads"), Color});
    }
    Lines.push_back({"move " + Count(Facts.Move) + (Facts.Total ? " of " + Count(*Facts.Total) : ""), Ink});
    // Match time is moves at 90 a second, whatever the rate or pauses made of the wall clock.
    Lines.push_back({"match time " + FormatMinutesSeconds(Facts.Move / 90), Ink});
    std::string State = Facts.Ended ? "ENDED" : Facts.Paused ? "PAUSED" : "running";
    if (Facts.Replay) State = "REPLAY  " + State;
    Lines.push_back({State + "  " + RateLabel(Facts.RateShift), Facts.Ended || Facts.Paused ? Alert : Ink});
    Lines.push_back({});
    for (const char* Key : {"P  pause / resume", ".  one move (paused)", "+ -  faster / slower", "0  normal rate",
                            "V  analysis view", "Esc  close"}) {
        Lines.push_back({Key, Quiet});
    }
    if (Facts.Replay) {
        for (const char* Key : {"PgDn PgUp  900 moves", "Home  first move"}) Lines.push_back({Key, Quiet});
    }
    if (Facts.Guns[0].You || Facts.Guns[1].You) {
        for (const char* Key : {"Right Up  turn", "Space  shoot"}) Lines.push_back({Key, Quiet});
    }
    return Lines;
}

}  // namespace brakkenfel
