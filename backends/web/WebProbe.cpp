// The determinism probe: the same text from the native and the WebAssembly build, or a fault.
#include "backends/web/WebProbe.h"

#include <cstdint>
#include <cstdio>

#include "bullets/modBulletAndGravity.h"
#include "platform/BitCast.h"
#include "score/DuelField.h"

namespace brakkenfel {

std::string ProbeText() {
    BuildTrigTables();
    std::string Text;
    char Line[40];
    for (std::size_t Step = 0; Step < SinTable.size(); ++Step) {
        std::snprintf(Line, sizeof Line, "%zu %08x %08x\n", Step, static_cast<unsigned>(BitCast<std::uint32_t>(SinTable[Step])),
                      static_cast<unsigned>(BitCast<std::uint32_t>(CosTable[Step])));
        Text += Line;
    }
    // Each seed's duel field: a flight step or a draw that differs moves a gun or changes a count.
    char FieldLine[96];
    for (std::uint32_t Seed = 0; Seed < ProbeSeeds; ++Seed) {
        const DuelField Field = DrawDuelField(Seed);
        std::snprintf(FieldLine, sizeof FieldLine, "seed %u %d %d %d %d %d %d %d %d\n", static_cast<unsigned>(Seed),
                      static_cast<int>(Field.Guns[0].X), static_cast<int>(Field.Guns[0].Y),
                      static_cast<int>(Field.Guns[0].Angle), static_cast<int>(Field.Guns[1].X),
                      static_cast<int>(Field.Guns[1].Y), static_cast<int>(Field.Guns[1].Angle),
                      static_cast<int>(Field.PlaceDraws), static_cast<int>(Field.AngleDraws));
        Text += FieldLine;
    }
    return Text;
}

}  // namespace brakkenfel
