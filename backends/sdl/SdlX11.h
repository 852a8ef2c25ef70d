// The one place that talks to Xlib directly: noticing that the X server has gone.
#pragma once

namespace brakkenfel {

/// Makes the loss of SDL's X connection end the program through EndOnLostDisplay instead of
/// Xlib's exit(), after which static destructors would call into the dead connection.
void CatchLostX11Display();

}  // namespace brakkenfel
