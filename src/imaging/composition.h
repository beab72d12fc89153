#pragma once
#include "core/app_state.h"

// Rebuilds state's client-sized back buffer: background, then the current frame in its
// placement. Reads and writes nothing but state, so it composes on any thread.
void ComposeBackBuffer(AppState& state);
void ReleaseBackBuffer(AppState& state);
// Gives to the back buffer that from composed, with the record of what it shows.
void AdoptBackBuffer(AppState& to, AppState& from);
// Copies the back buffer unscaled onto the whole client area; validates the window.
void Present();
void Refresh();

// The picture drawn into a size x size icon; none for a null picture. Any thread.
HICON MakeImageIcon(Gdiplus::Image* image, int size);
void RefreshWindowIcons();
// Gives the window these icons and destroys the ones it had.
void InstallWindowIcons(HICON small, HICON big);
