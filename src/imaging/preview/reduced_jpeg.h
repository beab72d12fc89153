#pragma once
// imaging/preview: a photo's quick preview, from its Exif thumbnail or a decode of its own.

// The viewer's own decode of a JPEG at an eighth of its size, for a preview that shows at once:
// one pixel per 8 x 8 block, the block's mean colour, from the DC coefficients alone. Bytes in,
// pixels out, with no platform call: it trusts nothing in the file.
#include <cstddef>
#include <functional>

#include "imaging/pixels/scaler.h"

// Decodes Huffman-coded 8-bit JPEG, sequential or progressive (each component's first DC scan
// only), gray, YCbCr or RGB, of any sampling whose factors divide the largest. Pixels are
// ceil(width / 8) x ceil(height / 8), opaque, as stored (not turned upright); blocks past where
// the entropy data ends stay mid-gray. False, leaving pixels alone, for anything else: a file it
// does not read, one damaged beyond its first scans, one declaring more than pixelLimit pixels or
// more blocks than its bytes could code, memory short, or stillWanted (asked every few rows of
// blocks, if set) turning false.
bool DecodeReducedJpeg(const unsigned char* bytes, size_t size, long long pixelLimit,
                       const std::function<bool()>& stillWanted, Pixels& pixels);
