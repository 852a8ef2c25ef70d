// The recorder: orders gathered through the tap during a move, written with the hash after it.
#include "replay/MatchRecorder.h"

#include <cstring>

#include "app/Options.h"
#include "app/modMain.h"
#include "platform/Errors.h"
#include "replay/StateHash.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

OrderTap* ActiveOrderTap = nullptr;

MatchRecorder::MatchRecorder(const std::string& Path, const MatchHeader& Header) : Writer(Path) {
    const std::string Head = FormatHeader(Header);
    if (Head.empty()) throw RuntimeError(ErrPathFileAccess, Path + ": the contestants' commands do not fit in its header");
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        Seen[Gun].GunName = MatchGunNames[Gun];
        // Nothing may wait unwritten while a program keeps the next move waiting, perhaps forever.
        if (Header.Kinds[Gun].Is == ContestantKind::Type::Program) Writer.FlushEveryLine();
    }
    Line.reserve(MaxMatchLine);
    Writer.Write(Head);
    Writer.Flush();
    ActiveOrderTap = this;
}

MatchRecorder::~MatchRecorder() {
    if (ActiveOrderTap == this) ActiveOrderTap = nullptr;
}

void MatchRecorder::NoteOuts() {
    if (!ProgramsFound) {
        // The registry's slots hold the guns in the order of the line: the Cannon, then the Helicopter.
        HasPrograms = false;
        for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
            Programs[Gun] = std::dynamic_pointer_cast<clsProgram>(Sprites->Data(static_cast<std::int16_t>(Gun)).Handler);
            if (Programs[Gun]) HasPrograms = true;
        }
        ProgramsFound = true;
    }
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        if (!Programs[Gun] || Seen[Gun].Out || !Programs[Gun]->Summary().Out) continue;
        const ProgramSummary& Now = Programs[Gun]->Summary();
        Line += "! out ";
        Line += MatchGunNames[Gun];
        Line += ' ' + std::to_string(Now.OutMove) + ' ';
        AppendEscaped(Line, Now.OutReason, true);
        Line += '\n';
    }
}

char* MatchRecorder::WriteProgramField(char* Out, std::size_t Gun, std::size_t Orders) {
    const ProgramSummary& Now = Programs[Gun]->Summary();
    ProgramSummary& Before = Seen[Gun];
    const bool GoneOut = Now.Out;
    const CountStep Step = {Now.Moves - Before.Moves,         Now.InTime - Before.InTime, Now.Late - Before.Late,
                            Now.Malformed - Before.Malformed, Now.Ahead - Before.Ahead,   Now.Ignored - Before.Ignored};
    Before.Moves = Now.Moves;
    Before.InTime = Now.InTime;
    Before.Late = Now.Late;
    Before.Malformed = Now.Malformed;
    Before.Ahead = Now.Ahead;
    Before.Ignored = Now.Ignored;
    Before.Out = Now.Out;
    if (Orders == 0) {
        *Out++ = GoneOut ? 'x' : '-';
    } else {
        std::memcpy(Out, Text(Gun), Orders);
        Out += Orders;
    }
    if (Step != UsualCounts(GoneOut && Orders == 0)) {
        std::string Counts = '/' + std::to_string(Step.Asked) + '.' + std::to_string(Step.InTime) + '.' +
                             std::to_string(Step.Late) + '.' + std::to_string(Step.Malformed);
        if (Step.Ahead != 0 || Step.Ignored != 0) {
            Counts += '.' + std::to_string(Step.Ahead) + '.' + std::to_string(Step.Ignored);
        }
        std::memcpy(Out, Counts.data(), Counts.size());
        Out += Counts.size();
    }
    return Out;
}

void MatchRecorder::AfterMove() {
    if (HasPrograms) {
        Line.clear();
        NoteOuts();
        if (!Line.empty()) Writer.Write(Line);
    }
    // Formatted in place in the writer's buffer: the recorder must cost little beside the move.
    char* Out = Writer.LineRoom();
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        const std::size_t Orders = Length(Gun);
        if (Orders > MaxText) {
            Clear();
            throw RuntimeError(ErrPathFileAccess, "the " + std::string(MatchGunNames[Gun]) +
                                                      "'s orders in one move do not fit in a match file line");
        }
        if (Gun > 0) *Out++ = ' ';
        if (Programs[Gun]) {
            Out = WriteProgramField(Out, Gun, Orders);
        } else if (Orders == 0) {
            *Out++ = '-';
        } else {
            // Usually a turn and a shot: one fixed-size copy instead of a call for a variable one.
            // Both the line and the orders have room for it (MaxText leaves 200 bytes spare).
            if (Orders <= 8) {
                std::memcpy(Out, Text(Gun), 8);
            } else {
                std::memcpy(Out, Text(Gun), Orders);
            }
            Out += Orders;
        }
    }
    Clear();
    *Out++ = ' ';
    Out = WriteHash(Out, StateHash());
    *Out++ = '\n';
    Writer.Commit(Out);
}

void MatchRecorder::Finish() {
    // After tear-down the programs found at the first move are still at hand.
    if (ProgramsFound || Sprites) {
        Line.clear();
        NoteOuts();
        for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
            if (Programs[Gun]) Seen[Gun].Out = Programs[Gun]->Summary().Out;
        }
        Writer.Write(Line);
    }
    if (ActiveOrderTap == this) ActiveOrderTap = nullptr;
    Writer.Close();
}

}  // namespace brakkenfel
