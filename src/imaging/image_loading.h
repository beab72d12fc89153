#pragma once
#include <climits>

#include "core/app_state.h"

// What became of a load: a picture; a file that is none (or gone); one that could not be read for
// now (held by another program, out of memory, an I/O error), which a later try may show; or a
// picture of more pixels than the limit or than this build can hold, found out before it was
// decoded wherever the platform decodes on demand.
enum class LoadResult { kLoaded, kNotAPicture, kNotNow, kOverLimit };

// Makes the file at path state's current image: decoded pixels, size, frames and frame delays.
// The previous image is released whatever the result. Touches nothing but state, so it loads on
// any thread.
LoadResult LoadImageFile(AppState& state, const wchar_t* path, long long pixelLimit = LLONG_MAX);

// Makes frame index of state's picture the one on show, whichever decoder made it.
void SelectFrame(AppState& state, int index);

// Frames whose delay the file does not give show this long.
constexpr int kMissingDelayMs = 100;

// Turns and mirrors image as orientation (1 to 8, as the Exif tag gives it; 0 for none) asks, to
// show it upright.
void TurnUpright(Gdiplus::Image& image, int orientation);
// A frame delay in hundredths of a second as milliseconds, saturated to 32 bits.
int DelayToMilliseconds(long hundredths);
