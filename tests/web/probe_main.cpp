// The native side of the determinism probe: prints what the WebAssembly module's web_probe returns.
#include <cstdio>

#include "backends/web/WebProbe.h"

int main() {
    const std::string Text = brakkenfel::ProbeText();
    return std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size() ? 0 : 1;
}
