#pragma once
#include "platform/platform.h"

struct Modifiers {
    bool shift;
    bool ctrl;
    bool alt;
};

// The modifier keys as they are while the current message is handled.
Modifiers ReadModifiers();
// Runs the command bound to a key; unbound keys do nothing.
void DispatchKey(WPARAM key, Modifiers modifiers);
// A key press as it arrives: auto-repeats that queue up while a command runs count as one.
void HandleKeyDown(WPARAM key, LPARAM flags);
// Alt+Enter opens the file's properties; every other system character is swallowed.
void HandleSystemCharacter(WPARAM character);
// Pans with the pointer while only the left button is down; always remembers the position.
void TrackDrag(WPARAM buttons, LPARAM position);
// Zooms one step for a message of whole notches, and one for each notch's worth of parts.
void HandleWheel(WPARAM wParam);
