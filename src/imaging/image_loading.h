#pragma once

// Makes the file at path the current image: decoded pixels, size, frames and frame delays.
// Returns false when the file does not decode; the previous image is released either way.
bool LoadImageFile(const wchar_t* path);

// A frame delay in hundredths of a second as milliseconds, saturated to 32 bits.
int DelayToMilliseconds(long hundredths);
