// The determinism probe: the same text from the native and the WebAssembly build, or a fault.
#include "backends/web/WebProbe.h"

#include <cstdint>
#include <cstdio>

#include "bullets/modBulletAndGravity.h"
#include "platform/BitCast.h"

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
    return Text;
}

}  // namespace brakkenfel
