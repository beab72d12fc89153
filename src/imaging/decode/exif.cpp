#include "imaging/decode/exif.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kStartOfImage = 0xFFD8;
constexpr uint32_t kStartOfScan = 0xFFDA;
constexpr uint32_t kExifSegment = 0xFFE1;  // APP1
constexpr char kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint32_t kOrientationTag = 0x0112;
constexpr uint32_t kThumbnailOffsetTag = 0x0201;  // from the start of the TIFF structure
constexpr uint32_t kThumbnailSizeTag = 0x0202;
constexpr uint32_t kShortType = 3;
constexpr uint32_t kLongType = 4;
constexpr size_t kEntrySize = 12;

// Bytes read in one byte order, never past their end.
struct Bytes {
    const unsigned char* data;
    size_t size;
    bool bigEndian;
};

// The 1-, 2- or 4-byte number at offset; false when it does not lie wholly within the bytes.
bool ReadNumber(const Bytes& bytes, size_t offset, size_t width, uint32_t& value) {
    if (offset > bytes.size || width > bytes.size - offset) return false;
    value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = value << 8 | bytes.data[offset + (bytes.bigEndian ? i : width - 1 - i)];
    }
    return true;
}

// The single SHORT or LONG number that the directory at offset gives for tag; false when it has
// no such entry or the entry is malformed.
bool ReadEntry(const Bytes& tiff, uint32_t directory, uint32_t tag, uint32_t& value) {
    uint32_t count, found, type, values;
    if (!ReadNumber(tiff, directory, 2, count)) return false;
    // The directory lies within the bytes, so no entry offset below can wrap.
    for (size_t entry = size_t(directory) + 2; count > 0; --count, entry += kEntrySize) {
        if (!ReadNumber(tiff, entry, 2, found)) return false;
        if (found != tag) continue;
        return ReadNumber(tiff, entry + 2, 2, type) && ReadNumber(tiff, entry + 4, 4, values) &&
               values == 1 && (type == kShortType || type == kLongType) &&
               ReadNumber(tiff, entry + 8, type == kShortType ? 2 : 4, value);
    }
    return false;
}

// The offset of the directory that follows the one at offset: 0 for none.
uint32_t NextDirectory(const Bytes& tiff, uint32_t directory) {
    uint32_t count, next;
    if (!ReadNumber(tiff, directory, 2, count) ||
        !ReadNumber(tiff, size_t(directory) + 2 + count * kEntrySize, 4, next)) {
        return 0;
    }
    return next;
}

// The orientation from the first directory of a TIFF structure (an Exif block's body), and the
// thumbnail from the second.
void ReadTiff(Bytes tiff, JpegHeader& header) {
    if (tiff.size < 2 || (std::memcmp(tiff.data, "II", 2) && std::memcmp(tiff.data, "MM", 2))) {
        return;
    }
    tiff.bigEndian = tiff.data[0] == 'M';
    uint32_t magic, first, orientation, offset, size;
    if (!ReadNumber(tiff, 2, 2, magic) || magic != 42 || !ReadNumber(tiff, 4, 4, first)) return;
    if (ReadEntry(tiff, first, kOrientationTag, orientation) && orientation >= 1 &&
        orientation <= 8) {
        header.orientation = int(orientation);
    }
    const uint32_t second = NextDirectory(tiff, first);
    if (second != 0 && ReadEntry(tiff, second, kThumbnailOffsetTag, offset) &&
        ReadEntry(tiff, second, kThumbnailSizeTag, size) && size > 0 && offset <= tiff.size &&
        size <= tiff.size - offset) {
        header.thumbnail = tiff.data + offset;
        header.thumbnailSize = size;
    }
}

// A start-of-frame marker, SOF0 to SOF15, which shares its range with DHT, JPG and DAC.
bool IsFrameHeader(uint32_t marker) {
    return marker >= 0xFFC0 && marker <= 0xFFCF && marker != 0xFFC4 && marker != 0xFFC8 &&
           marker != 0xFFCC;
}

// The picture's size from a frame header's body: precision, then height and width.
void ReadFrameHeader(const Bytes& body, JpegHeader& header) {
    uint32_t height, width;
    if (ReadNumber(body, 1, 2, height) && ReadNumber(body, 3, 2, width) && height && width) {
        header.width = int(width);
        header.height = int(height);
    }
}

}  // namespace

JpegHeader ReadJpegHeader(const unsigned char* bytes, size_t size) {
    JpegHeader header;
    const Bytes file = {bytes, size, true};
    uint32_t marker, length;
    if (!ReadNumber(file, 0, 2, marker) || marker != kStartOfImage) return header;
    bool exifRead = false;
    // Segments up to the frame header: a marker, then a length that counts itself. The Exif
    // block comes before it.
    for (size_t at = 2; ReadNumber(file, at, 2, marker) && ReadNumber(file, at + 2, 2, length);
         at += 2 + length) {
        if (marker >> 8 != 0xFF || marker == kStartOfScan || length < 2) break;
        const Bytes body = {bytes + at + 4, length - 2u, true};
        if (body.size > size - (at + 4)) break;
        if (IsFrameHeader(marker)) {
            ReadFrameHeader(body, header);
            break;
        }
        if (marker == kExifSegment && !exifRead && body.size >= sizeof kExifSignature &&
            !std::memcmp(body.data, kExifSignature, sizeof kExifSignature)) {
            exifRead = true;
            ReadTiff({body.data + sizeof kExifSignature, body.size - sizeof kExifSignature, false},
                     header);
        }
    }
    return header;
}
