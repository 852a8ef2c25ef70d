// The one place that talks to Xlib directly: noticing that the X server has gone, texts as properties.
#pragma once

#include <SDL.h>

#include <string>

namespace brakkenfel {

/// Makes the loss of SDL's X connection end the program through EndOnLostDisplay instead of
/// Xlib's exit(), after which static destructors would call into the dead connection.
void CatchLostX11Display();

/// Sets the UTF-8 property `name` of `window`'s X window to `text`, so that what the window shows
/// as pixels can be read as text (by tests, by tools); does nothing off X11.
void SetX11Text(SDL_Window* window, const char* name, const std::string& text);

}  // namespace brakkenfel
