#pragma once
#include "core/app_state.h"

// Makes the file at path state's current image: decoded pixels, size, frames and frame delays.
// Returns false when the file does not decode; the previous image is released either way.
// Touches nothing but state, so it loads on any thread.
bool LoadImageFile(AppState& state, const wchar_t* path);

// A frame delay in hundredths of a second as milliseconds, saturated to 32 bits.
int DelayToMilliseconds(long hundredths);
