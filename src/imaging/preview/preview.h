#pragma once
// imaging/preview: a photo's quick preview, from its Exif thumbnail or a decode of its own.
#include <cstddef>
#include <functional>

#include "imaging/decode/exif.h"
#include "imaging/pixels/picture.h"

// The preview that a JPEG photo carries in its Exif block, from the first bytes of its file (all
// of them if it is shorter than kPreviewHeaderBytes): a picture whose size is the full picture's
// upright, as its frame header gives it, and whose levels are the thumbnail's pixels, turned
// upright by the photo's orientation, without the black bars that letterbox a thumbnail of other
// proportions. Thumbnails whose edges are not black are kept whole: they show the whole picture,
// squeezed, and stretch back into its place. False, leaving preview alone, when the bytes hold no
// frame header or no thumbnail, or one that is damaged, not a JPEG, or larger than the picture.
bool MakeThumbnailPreview(const unsigned char* bytes, size_t size, Picture& preview);
// The sharper preview of a JPEG photo from its whole file's bytes: the viewer's own decode of it at
// an eighth of its size, turned upright, the size of the whole picture upright. False, leaving
// preview alone, where that decode fails (see DecodeReducedJpeg).
bool MakeReducedPreview(const unsigned char* bytes, size_t size, long long pixelLimit,
                        const std::function<bool()>& stillWanted, Picture& preview);
