#pragma once

void ArmFrameTimer(int ms);
void StopFrameTimer();
// Plays while `animate` is on and the image has several frames; stops the timer otherwise.
void SyncAnimationTimer();
void ShowFrame(int index);
void StepFrame(int step);
void ToggleAnimation();

// index moved one step past either end of count entries comes back at the other end.
int WrapIndex(int index, int count);
