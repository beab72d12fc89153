#pragma once

// Fit mode scales the image to the client area; zoom mode shows it at `zoom`, panned. The view
// changes in the state record; the window shows it once the input is handled.
void SetFitMode(bool on);
void ToggleFit();
void FitToZoom();
// Doubles the zoom for direction >= 1, halves it otherwise; the pan follows, so the
// point at the client centre stays there.
void ZoomStep(int direction);
void ActualSize();
void Pan(int dx, int dy);
// Turns the picture on show a quarter clockwise quarters times (counter-clockwise for negative
// quarters), about the point at the client centre; the file is not touched, and the next picture
// starts unturned.
void TurnView(int quarters);
void CycleBackground();
void ToggleSmoothing();
