#pragma once
#include "platform/platform.h"

// The monitor that holds window, or the primary one for none.
RECT MonitorRect(HWND window);
// Borderless, topmost and black over the whole screen, fitted; and back exactly as before.
void ToggleFullscreen();
void ToggleTopmost();
// Hands the file on show to the shell (which asks first), then shows the next file.
void DeleteCurrentFile(bool permanently);
void ShowFileProperties();
// The first file dropped on the window shows here, with its folder; each further one opens in
// a copy of its own, as on the command line. A folder or a non-picture changes nothing.
void OpenDroppedFiles(HDROP drop);
// The system Open dialog, in the folder on show; the file chosen shows here, with its folder.
void OpenWithDialog();
