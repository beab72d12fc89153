#pragma once
// imaging/decode: files into pictures, through GDI+ or the system's codecs, on any thread.
#include <climits>

#include "imaging/pixels/picture.h"

// Makes the file at path the picture: its pixels (the first frame, turned upright), size, frames
// and frame delays. The previous picture is released whatever the result; a failed load leaves
// none, one frame and the size of the one before. Touches nothing but picture, so it loads on any
// thread. A picture whose header declares more than pixelLimit is not decoded.
LoadResult LoadImageFile(Picture& picture, const wchar_t* path, long long pixelLimit = LLONG_MAX,
                         const LoadGate* gate = nullptr);

// Makes frame index of the picture the one its pixels show, whichever decoder made it. False,
// leaving the frame on show whole, when that frame cannot be decoded for now or at all.
bool SelectFrame(Picture& picture, int index);
