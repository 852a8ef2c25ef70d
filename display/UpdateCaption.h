// The once-a-second caption: the rates of the last second and the elapsed time.
#pragma once

namespace brakkenfel {

/// Writes frames and moves of the last second and the elapsed time into the caption, then restarts both counts.
void UpdateCaption();

}  // namespace brakkenfel
