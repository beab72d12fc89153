#include "imaging/decode/picture_size.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long long kUnknown = -1;
// Far more than any real photo carries before its frame header; a hostile file costs a read each.
constexpr int kMostJpegSegments = 1000;
// The same for the entries of a TIFF's first directory, which a real file keeps to a few dozen.
constexpr uint32_t kMostTiffEntries = 1000;
constexpr uint32_t kTiffWidthTag = 256, kTiffHeightTag = 257;
constexpr uint32_t kTiffShort = 3, kTiffLong = 4;

// Exactly size bytes at offset; false on a failed or short read, which a header cannot survive.
bool ReadAt(IStream* file, ULONGLONG offset, BYTE* bytes, ULONG size) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    ULONG read = 0;
    return SUCCEEDED(file->Seek(at, STREAM_SEEK_SET, nullptr)) &&
           SUCCEEDED(file->Read(bytes, size, &read)) && read == size;
}

// The file's first bytes, as many of them as there are.
struct Head {
    BYTE bytes[64];
    ULONG size;
};

bool Starts(const Head& head, const char* magic, size_t length) {
    return head.size >= length && !std::memcmp(head.bytes, magic, length);
}

// The unsigned number of width bytes at bytes, in the given byte order.
uint32_t Number(const BYTE* bytes, int width, bool bigEndian) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | bytes[bigEndian ? i : width - 1 - i];
    return value;
}

// No real picture comes near the top of the range, and the caller compares against a budget,
// which a wrapped negative product would slip under.
long long Pixels(unsigned long long width, unsigned long long height) {
    if (width == 0 || height == 0) return kUnknown;
    return static_cast<long long>(std::min<unsigned long long>(width * height, LLONG_MAX));
}

long long ReadPngPixels(const Head& head) {
    if (head.size < 24 || std::memcmp(head.bytes + 12, "IHDR", 4)) return kUnknown;
    return Pixels(Number(head.bytes + 16, 4, true), Number(head.bytes + 20, 4, true));
}

long long ReadGifPixels(const Head& head) {
    if (head.size < 10) return kUnknown;
    return Pixels(Number(head.bytes + 6, 2, false), Number(head.bytes + 8, 2, false));
}

// The 12-byte core header has 16-bit sizes; every later one 32-bit, the height signed for the row
// order.
long long ReadBitmapPixels(const Head& head) {
    if (head.size < 26) return kUnknown;
    const uint32_t infoSize = Number(head.bytes + 14, 4, false);
    if (infoSize == 12) {
        return Pixels(Number(head.bytes + 18, 2, false), Number(head.bytes + 20, 2, false));
    }
    if (infoSize < 40) return kUnknown;
    const long long height = int32_t(Number(head.bytes + 22, 4, false));
    return Pixels(Number(head.bytes + 18, 4, false), std::llabs(height));
}

long long ReadDdsPixels(const Head& head) {
    if (head.size < 20) return kUnknown;
    return Pixels(Number(head.bytes + 16, 4, false), Number(head.bytes + 12, 4, false));
}

bool IsFrameHeader(BYTE marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the segments from SOI to the frame header by their lengths, seeking past each, for the
// Exif, ICC and XMP blocks before it may run to megabytes.
long long ReadJpegPixels(IStream* file) {
    ULONGLONG at = 2;
    for (int step = 0; step < kMostJpegSegments; ++step) {
        // A marker and length, then as much of a frame header as the size needs: precision,
        // height, width.
        BYTE segment[9];
        if (!ReadAt(file, at, segment, sizeof segment) || segment[0] != 0xFF) return kUnknown;
        const BYTE marker = segment[1];
        if (marker == 0xFF) {  // a fill byte before the marker
            at += 1;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
            at += 2;
            continue;
        }
        const uint32_t length = Number(segment + 2, 2, true);
        if (IsFrameHeader(marker)) {
            if (length < 8) return kUnknown;
            return Pixels(Number(segment + 7, 2, true), Number(segment + 5, 2, true));
        }
        // SOS, EOI and SOI end the header without a frame; 0x00 stands only in entropy data.
        if (marker == 0xDA || marker == 0xD9 || marker == 0xD8 || marker == 0 || length < 2) {
            return kUnknown;
        }
        at += 2 + length;
    }
    return kUnknown;
}

// ImageWidth and ImageLength from the first directory, each a SHORT or a LONG.
long long ReadTiffPixels(IStream* file, const Head& head) {
    const bool bigEndian = head.bytes[0] == 'M';
    const ULONGLONG directory = Number(head.bytes + 4, 4, bigEndian);
    BYTE entry[12];
    if (!ReadAt(file, directory, entry, 2)) return kUnknown;
    const uint32_t count = std::min(Number(entry, 2, bigEndian), kMostTiffEntries);
    uint32_t width = 0, height = 0;
    for (uint32_t i = 0; i < count && (width == 0 || height == 0); ++i) {
        if (!ReadAt(file, directory + 2 + i * 12ull, entry, sizeof entry)) return kUnknown;
        const uint32_t tag = Number(entry, 2, bigEndian), type = Number(entry + 2, 2, bigEndian);
        if (type != kTiffShort && type != kTiffLong) continue;
        const uint32_t value = Number(entry + 8, type == kTiffShort ? 2 : 4, bigEndian);
        if (tag == kTiffWidthTag) width = value;
        if (tag == kTiffHeightTag) height = value;
    }
    return Pixels(width, height);
}

bool IsMetafile(const Head& head) {
    const bool enhanced = head.size >= 44 && Number(head.bytes, 4, false) == 1 &&
                          Number(head.bytes + 40, 4, false) == 0x464D4520;
    return enhanced || (head.size >= 4 && Number(head.bytes, 4, false) == 0x9AC6CDD7);
}

long long ReadPixelsFromStart(IStream* file) {
    Head head = {};
    LARGE_INTEGER start = {};
    if (FAILED(file->Seek(start, STREAM_SEEK_SET, nullptr)) ||
        FAILED(file->Read(head.bytes, sizeof head.bytes, &head.size)) ||
        head.size > sizeof head.bytes) {
        return kUnknown;
    }
    if (Starts(head, "\x89PNG\r\n\x1A\n", 8)) return ReadPngPixels(head);
    if (Starts(head, "GIF87a", 6) || Starts(head, "GIF89a", 6)) return ReadGifPixels(head);
    if (Starts(head, "BM", 2)) return ReadBitmapPixels(head);
    if (Starts(head, "DDS ", 4)) return ReadDdsPixels(head);
    if (Starts(head, "\xFF\xD8", 2)) return ReadJpegPixels(file);
    if (head.size >= 8 && (Starts(head, "II*\0", 4) || Starts(head, "MM\0*", 4))) {
        return ReadTiffPixels(file, head);
    }
    return IsMetafile(head) ? 0 : kUnknown;
}

}  // namespace

long long ReadDeclaredPixels(IStream* file) {
    const long long pixels = ReadPixelsFromStart(file);
    const LARGE_INTEGER start = {};
    file->Seek(start, STREAM_SEEK_SET, nullptr);
    return pixels;
}
