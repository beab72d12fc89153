#pragma once
#include "platform/platform.h"

// The window's timers: frames, a held key's pause, and work the pool could not take yet.
constexpr UINT_PTR kFrameTimerId = 1;
constexpr UINT_PTR kHeldKeyTimerId = 2;
constexpr UINT_PTR kRetryTimerId = 3;

// Shows in the window what the state record says changed since the last call: the picture or the
// view on show (composed and presented), the cursor, the background brush, the timers, the icons
// and the title, each once; then hands the workers what was asked of them meanwhile.
void BringWindowUpToDate();
// Copies the back buffer unscaled onto the whole client area; validates the window.
void Present();
void ApplyCursor();
void ApplyBackgroundBrush();
// Arms the frame timer for the delay of that frame of the picture on show.
void ArmFrameTimer(int frame);
// Plays while `animate` is on and the picture has several frames; stops the timer otherwise.
void SyncAnimationTimer();
void StopFrameTimer();
// Gives the window the icons made of the picture on show; in fullscreen, where none shows, none.
void TakeWindowIcons();
