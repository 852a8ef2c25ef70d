// Where the running program file lives, so it can find the files installed beside it.
#pragma once

#include <string>

namespace brakkenfel {

/// The folder that holds the running program file ("/" at the root; "." if it cannot be found).
std::string ProgramFolder();

}  // namespace brakkenfel
