// One frame: the field composed in the back buffer and copied to the picture box in one block.
#pragma once

namespace brakkenfel {

/// Clears the back buffer, draws bullets and both guns, copies it to the picture box, refreshes the label.
void ComposeFrame();

}  // namespace brakkenfel
