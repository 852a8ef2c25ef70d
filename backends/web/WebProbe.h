// What the core computes that must come out the same in every build, written out for comparison.
#pragma once

#include <string>

namespace brakkenfel {

/// The angle tables' 512 floats as 8-hex-digit bit patterns, one line per angle step ("STEP SIN
/// COS"). The native build and the WebAssembly build must give the same text.
std::string ProbeText();

}  // namespace brakkenfel
