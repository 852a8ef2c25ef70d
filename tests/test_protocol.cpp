// The contestant program protocol's lines: how replies are judged and how requests are written.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "contest/ProtocolLine.h"

namespace brakkenfel {
namespace {

using Kind = ProgramOrder::Kind;

const ProgramOrder Shoot{Kind::Shoot, 0};
ProgramOrder Rotate(std::uint8_t Angle) { return {Kind::Rotate, Angle}; }

TEST(Replies, AreJudgedAsListed) {
    struct Case {
        const char* Line;
        std::uint64_t CurrentMove;
        ReplyVerdict Verdict;
        std::vector<ProgramOrder> Orders;
    };
    for (const Case& Each : std::vector<Case>{
             {"17", 17, ReplyVerdict::Valid, {}},
             {"17 rotate 145 shoot", 17, ReplyVerdict::Valid, {Rotate(145), Shoot}},
             {"1 shoot rotate 0 shoot rotate 255", 1, ReplyVerdict::Valid, {Shoot, Rotate(0), Shoot, Rotate(255)}},
             {"3 rotate 007", 3, ReplyVerdict::Valid, {Rotate(7)}},
             {"3 shoot\r", 3, ReplyVerdict::Valid, {Shoot}},
             // Other moves: an earlier one is a late reply, whatever follows its number.
             {"16 rotate 1", 17, ReplyVerdict::Earlier, {}},
             {"16 nonsense after an old move", 17, ReplyVerdict::Earlier, {}},
             {"0", 1, ReplyVerdict::Earlier, {}},
             {"18 shoot", 17, ReplyVerdict::Later, {}},
             {"99999999999999999999999 shoot", 17, ReplyVerdict::Malformed, {}},
             {"1 rotate 256", 1, ReplyVerdict::OutOfRange, {}},
             {"1 shoot rotate 99999999999999999999999", 1, ReplyVerdict::OutOfRange, {}},
             {"1 rotate 10 rotate 1000 shoot", 1, ReplyVerdict::OutOfRange, {}}}) {
        const ProgramReply Reply = ParseReply(Each.Line, Each.CurrentMove);
        EXPECT_EQ(Reply.Verdict, Each.Verdict) << '"' << Each.Line << '"';
        const auto Orders = Reply.OrderList();
        EXPECT_EQ(std::vector<ProgramOrder>(Orders.begin(), Orders.end()), Each.Orders) << '"' << Each.Line << '"';
    }
    for (const char* Line : {"", "ready", "1 ", " 1 shoot", "1  shoot", "1 shoot ", "1\tshoot", "+1 shoot", "1x shoot",
                             "1 shootx", "1 SHOOT", "1 fire", "1 rotate", "1 rotate ", "1 rotate -1", "1 rotate 12a",
                             "1 rotate 1 2", "1 shoot\r\r", "1 rotate 300 bogus"}) {
        const ProgramReply Reply = ParseReply(Line, 1);
        EXPECT_EQ(Reply.Verdict, ReplyVerdict::Malformed) << '"' << Line << '"';
        EXPECT_EQ(Reply.OrderCount, 0u) << '"' << Line << '"';
    }
}

TEST(ReplyLength, TheLongestLineIsTakenAndOneByteMoreIsNot) {
    // 255 bytes of text plus the '\n' is the longest line allowed.
    std::string Orders;
    while (1 + Orders.size() + 6 <= 255) Orders += " shoot";
    const std::string Line = std::string(255 - Orders.size() - 1, '0') + "5" + Orders;
    ASSERT_EQ(Line.size(), 255u);
    const ProgramReply Longest = ParseReply(Line, 5);
    EXPECT_EQ(Longest.Verdict, ReplyVerdict::Valid);
    EXPECT_EQ(Longest.OrderCount, Orders.size() / 6);
    EXPECT_EQ(ParseReply("0" + Line, 5).Verdict, ReplyVerdict::Malformed);
}

TEST(ReadyLine, OnlyTheExactWordCounts) {
    EXPECT_TRUE(IsReadyLine("ready"));
    EXPECT_TRUE(IsReadyLine("ready\r"));
    for (const char* Other : {"", "Ready", "ready ", " ready", "ready!", "readyready", "rea"}) {
        EXPECT_FALSE(IsReadyLine(Other)) << Other;
    }
}

std::string Formatted(std::size_t Length, const std::array<char, MaxProtocolLine>& Out) {
    return std::string(Out.data(), Length);
}

TEST(RequestLines, AreWrittenFieldBySpaceAndEndInNewLine) {
    std::array<char, MaxProtocolLine> Out{};
    EXPECT_EQ(Formatted(FormatGreeting(Out, "Cannon"), Out), "brakkenfel 1 Cannon\n");
    EXPECT_EQ(Formatted(FormatMove(Out, 17, 144, 20, 20, false), Out), "move 17 144 20 20 0\n");
    EXPECT_EQ(Formatted(FormatMove(Out, 18446744073709551615ULL, 255, -32768, 32767, true), Out),
              "move 18446744073709551615 255 -32768 32767 1\n");
}

}  // namespace
}  // namespace brakkenfel
