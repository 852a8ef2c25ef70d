// Fuzz target: any bytes as a match file, read to the end as a replay reads it.
//
// The reader must either accept each line or refuse it with error 321 naming the line; nothing
// else may escape, and no read may pass the input's end (the sanitizers watch).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "replay/MatchFile.h"

namespace {

using namespace brakkenfel;

[[noreturn]] void Fail(const char* What, const std::string& Detail = {}) {
    std::fprintf(stderr, "fuzz_match: %s %s\n", What, Detail.c_str());
    std::abort();
}

/// Reads the whole input in uneven chunks, so lines straddle the reader's refills.
void ReadAll(const std::uint8_t* Data, std::size_t Size) {
    std::size_t At = 0;
    MatchSource Source = [&](char* Buffer, std::size_t Room) {
        const std::size_t Chunk = std::min({Room, Size - At, static_cast<std::size_t>(1 + At % 4093)});
        if (Chunk > 0) std::memcpy(Buffer, Data + At, Chunk);
        At += Chunk;
        return Chunk;
    };
    try {
        MatchReader Reader("fuzz.match", Source);
        MoveLine Move;
        std::vector<OutEvent> Events;
        while (Reader.Next(Move, Events)) {
            for (const GunMove& Gun : Move.Guns) {
                if (Gun.Orders.size() > MaxMatchLine) Fail("more orders than a line can hold");
            }
            if (Events.size() > MatchGuns) Fail("more events than guns");
        }
        if (At != Size) Fail("the reader stopped before the end of its input");
    } catch (const RuntimeError& Error) {
        const std::string Text = Error.what();
        if (Error.Number() != ErrBadFileFormat) Fail("unexpected error number", Text);
        if (Text.find("fuzz.match line ") == std::string::npos) Fail("error names no line:", Text);
    }
}

}  // namespace

/// libFuzzer's entry: one input, read to its end or to its first refused line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    ReadAll(Data, Size);
    return 0;
}
