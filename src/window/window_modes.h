#pragma once

// Borderless, topmost and black over the whole screen, fitted; and back exactly as before.
void ToggleFullscreen();
void ToggleTopmost();
// Hands the file on show to the shell (which asks first), then shows the next file.
void DeleteCurrentFile(bool permanently);
void ShowFileProperties();
