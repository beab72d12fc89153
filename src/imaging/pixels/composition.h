#pragma once
#include "core/app_state.h"

// Makes state's client-sized back buffer show the view: background, then the current frame in
// its placement. When only the picture's place changed, the pixels on show move with it and only
// the strips uncovered are rendered. Reads and writes nothing but state, so it composes on any
// thread.
void ComposeBackBuffer(AppState& state);
void ReleaseBackBuffer(AppState& state);
// Gives to the back buffer that from composed, with the record of what it shows; from takes the
// one that to had, with its record.
void AdoptBackBuffer(AppState& to, AppState& from);
// Copies the back buffer unscaled onto the whole client area; validates the window.
void Present();
void Refresh();

// The picture squeezed into a size x size icon, with its transparency; a transparent one for no
// picture. Any thread.
HICON MakeImageIcon(const Picture& picture, int size);
void RefreshWindowIcons();
// Gives the window these icons and destroys the ones it had.
void InstallWindowIcons(HICON small, HICON big);
