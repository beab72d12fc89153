#pragma once
#include "platform/platform.h"

// Rebuilds the client-sized back buffer: background, then the current frame in its placement.
void ComposeBackBuffer();
// Copies the back buffer unscaled onto the whole client area; validates the window.
void Present();
void Refresh();

HICON MakeImageIcon(int size);
void RefreshWindowIcons();
