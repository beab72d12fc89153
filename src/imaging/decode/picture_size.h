#pragma once
// imaging/decode: files into pictures, through GDI+ or the system's codecs, on any thread.
#include "platform/platform.h"

// The pixels (width x height of the first frame or page) that a picture file's header
// declares, read without decoding: PNG, GIF, BMP, JPEG, TIFF and DDS; 0 for a metafile (EMF or
// placeable WMF), which holds no pixels; -1 when the format is none of these, or its header is
// damaged or cut short. Reads through the stream from its start and leaves it at its start.
long long ReadDeclaredPixels(IStream* file);
