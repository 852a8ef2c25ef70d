// Whole reads and single writes of the kernel's small control files (/proc, cgroups), bounded.
#pragma once

#include <cstddef>
#include <string>

namespace brakkenfel {

/// The file at `Path`, cut after `Limit` bytes; "" when it cannot be opened.
std::string ReadSmall(const std::string& Path, std::size_t Limit = 1 << 16);

/// Writes `Text` to the existing file at `Path` in one write; 0, or the errno of the refusal.
int WriteSmall(const std::string& Path, const std::string& Text);

}  // namespace brakkenfel
