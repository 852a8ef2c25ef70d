// The rules pinned down: 2,000 moves of the default contest must give one exact trace.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/Trace.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

// FNV-1a: small, byte order free, and easy to recompute from a trace file by hand.
std::uint64_t Fnv1a(const char* Bytes, std::size_t Size) {
    std::uint64_t Hash = 0xcbf29ce484222325ULL;
    for (std::size_t I = 0; I < Size; ++I) {
        Hash ^= static_cast<unsigned char>(Bytes[I]);
        Hash *= 0x100000001b3ULL;
    }
    return Hash;
}

// A changed constant here means the rules changed: review the change, then update the value
// (the trace of `brakkenfel --headless --moves 2000 --trace -` hashes to it).
TEST(Determinism, TheDefaultContestsTraceHashesToItsKnownValue) {
    char* Text = nullptr;
    std::size_t Size = 0;
    std::FILE* Stream = open_memstream(&Text, &Size);
    ASSERT_NE(Stream, nullptr);
    {
        MemoryArena Arena;
        TraceWriter Writer(Stream);
        for (std::int64_t Move = 1; Move <= 2000; ++Move) {
            RunMove();
            Writer.WriteMove(Move);
        }
    }
    std::fclose(Stream);
    const std::uint64_t Hash = Fnv1a(Text, Size);
    std::free(Text);
    EXPECT_EQ(Hash, 0xcbaef0cd2d451293ULL) << std::hex << "trace hash 0x" << Hash;
}

}  // namespace
}  // namespace brakkenfel
