#pragma once
#include <cstddef>

#include "imaging/picture.h"

// The bytes from a file's start that hold a photo's preview and its frame header in nearly every
// photo: the Exif block (at most 64 KB) and what may stand between it and the frame header
// (other metadata, a colour profile).
constexpr size_t kPreviewHeaderBytes = 128 * 1024;

// The preview that a JPEG photo carries in its Exif block, from the first bytes of its file (all
// of them if it is shorter than kPreviewHeaderBytes): a picture whose size is the full picture's
// upright, as its frame header gives it, and whose levels are the thumbnail's pixels, turned
// upright by the photo's orientation, without the black bars that letterbox a thumbnail of other
// proportions. Thumbnails whose edges are not black are kept whole: they show the whole picture,
// squeezed, and stretch back into its place. False, leaving preview alone, when the bytes hold no
// frame header or no thumbnail, or one that is damaged, not a JPEG, or larger than the picture.
bool MakePreview(const unsigned char* bytes, size_t size, Picture& preview);
