// The rules pinned down: 20,000 moves of the default contest must give one exact trace.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/Trace.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

// FNV-1a: small, byte order free, and easy to recompute from a trace file by hand.
std::uint64_t Fnv1a(std::string_view Bytes) {
    std::uint64_t Hash = 0xcbf29ce484222325ULL;
    for (const char Byte : Bytes) {
        Hash ^= static_cast<unsigned char>(Byte);
        Hash *= 0x100000001b3ULL;
    }
    return Hash;
}

// The trace as it was before the hit rule: without the guns' "hits" and the bullets' "owner".
std::string WithoutScoring(std::string_view Trace) {
    std::string Kept;
    Kept.reserve(Trace.size());
    for (std::size_t At = 0; At < Trace.size();) {
        const std::string_view Rest = Trace.substr(At);
        if (Rest.starts_with(",\"hits\":")) {
            At = Trace.find_first_not_of("0123456789", At + 8);
        } else if (Rest.starts_with(",\"owner\":null")) {
            At += 13;
        } else if (Rest.starts_with(",\"owner\":\"")) {
            At = Trace.find('"', At + 10) + 1;
        } else {
            Kept += Trace[At++];
        }
    }
    return Kept;
}

// A changed hash here means the rules changed: review the change, then update the value
// (the trace of `brakkenfel --headless --moves 2000 --trace -` hashes to it). The hashes of the
// trace without the scoring fields are those of the arena before the hit rule existed: scoring
// only watches, so they must never change with it.
TEST(Determinism, TheDefaultContestsTraceHashesToItsKnownValue) {
    char* Text = nullptr;
    std::size_t Size = 0;
    std::FILE* Stream = open_memstream(&Text, &Size);
    ASSERT_NE(Stream, nullptr);
    std::size_t SizeAt2000 = 0;
    {
        MemoryArena Arena;
        TraceWriter Writer(Stream);
        for (std::int64_t Move = 1; Move <= 20000; ++Move) {
            RunMove();
            Writer.WriteMove(Move);
            if (Move == 2000) {
                std::fflush(Stream);
                SizeAt2000 = Size;
            }
        }
    }
    std::fclose(Stream);
    const std::string Trace(Text, Size);
    std::free(Text);
    const std::string_view First2000 = std::string_view(Trace).substr(0, SizeAt2000);
    EXPECT_EQ(Fnv1a(First2000), 0xc0ed76c4d475db60ULL) << std::hex << "trace hash 0x" << Fnv1a(First2000);
    EXPECT_EQ(Fnv1a(WithoutScoring(First2000)), 0xcbaef0cd2d451293ULL);
    EXPECT_EQ(Fnv1a(WithoutScoring(Trace)), 0x071c9a40a2032cffULL);
}

}  // namespace
}  // namespace brakkenfel
