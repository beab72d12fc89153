#pragma once

// Shows frame index of the picture on show.
void ShowFrame(int index);
// Shows the frame step frames on, wrapping at both ends, and has the frame timer armed for it.
void StepFrame(int step);
// Animation on or off; the frame timer follows.
void ToggleAnimation();

// index moved one step past either end of count entries comes back at the other end.
int WrapIndex(int index, int count);
