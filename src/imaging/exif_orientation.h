#pragma once
#include <cstddef>

// The orientation, 1 to 8, that a JPEG's Exif block records for its pixels: how to turn and
// mirror them to show the picture upright. 0 when the bytes hold no such tag or anything on the
// way to it is malformed. Reads nothing outside the size bytes given, which may be the file's
// first bytes only.
int ReadExifOrientation(const unsigned char* bytes, size_t size);
