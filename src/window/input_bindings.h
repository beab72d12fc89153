#pragma once
#include "platform/platform.h"

// A key press as it arrives: auto-repeats that queue up while a command runs count as one.
// While a key repeats, the pictures it comes to wait for it to be let go, or to pause.
void HandleKeyDown(WPARAM key, LPARAM flags);
void HandleKeyUp();
// Runs the command bound to a mouse button's message; false for a message not bound.
bool HandleMouseButton(UINT message);
// Alt+Enter opens the file's properties; every other system character is swallowed.
void HandleSystemCharacter(WPARAM character);
// Pans with the pointer while only the left button is down; always remembers the position.
void TrackDrag(WPARAM buttons, LPARAM position);
// Zooms one step for a message of whole notches, and one for each notch's worth of parts.
void HandleWheel(WPARAM wParam);
