#pragma once
// imaging/decode: files into pictures, through GDI+ or the system's codecs, on any thread.
#include <cstddef>

// The bytes from a file's start that hold a photo's preview and its frame header in nearly every
// photo: the Exif block (at most 64 KB) and what may stand between it and the frame header
// (other metadata, a colour profile).
constexpr size_t kPreviewHeaderBytes = 128 * 1024;

// What a JPEG's header says before its pixels are decoded, read in one walk over its segments
// from the file's first bytes. Nothing outside the size bytes given is read: what lies beyond
// them, or beyond anything malformed on the way, is left out.
struct JpegHeader {
    // 1 to 8, as the Exif block records it: how to turn and mirror the pixels to show the picture
    // upright; 0 for none.
    int orientation = 0;
    // The stored pixels' size, as the frame header gives it; 0 by 0 when that is not within the
    // bytes.
    int width = 0;
    int height = 0;
    // The thumbnail the Exif block carries, a JPEG of its own lying wholly within the block; null
    // for none.
    const unsigned char* thumbnail = nullptr;
    size_t thumbnailSize = 0;
};

JpegHeader ReadJpegHeader(const unsigned char* bytes, size_t size);
