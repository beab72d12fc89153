#include "imaging/exif_orientation.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kStartOfImage = 0xFFD8;
constexpr uint32_t kStartOfScan = 0xFFDA;
constexpr uint32_t kExifSegment = 0xFFE1;  // APP1
constexpr char kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint32_t kOrientationTag = 0x0112;
constexpr uint32_t kShortType = 3;
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

// The orientation entry of the first directory of a TIFF structure (an Exif block's body).
int ReadTiffOrientation(Bytes tiff) {
    if (tiff.size < 2 || (std::memcmp(tiff.data, "II", 2) && std::memcmp(tiff.data, "MM", 2))) {
        return 0;
    }
    tiff.bigEndian = tiff.data[0] == 'M';
    uint32_t magic, directory, count;
    if (!ReadNumber(tiff, 2, 2, magic) || magic != 42 || !ReadNumber(tiff, 4, 4, directory) ||
        !ReadNumber(tiff, directory, 2, count)) {
        return 0;
    }
    // The directory lies within the bytes, so no entry offset below can wrap.
    for (size_t entry = size_t(directory) + 2; count > 0; --count, entry += kEntrySize) {
        uint32_t tag, type, values, value;
        if (!ReadNumber(tiff, entry, 2, tag)) return 0;
        if (tag != kOrientationTag) continue;
        if (!ReadNumber(tiff, entry + 2, 2, type) || !ReadNumber(tiff, entry + 4, 4, values) ||
            !ReadNumber(tiff, entry + 8, 2, value) || type != kShortType || values != 1) {
            return 0;
        }
        return value >= 1 && value <= 8 ? int(value) : 0;
    }
    return 0;
}

}  // namespace

int ReadExifOrientation(const unsigned char* bytes, size_t size) {
    const Bytes file = {bytes, size, true};
    uint32_t marker, length;
    if (!ReadNumber(file, 0, 2, marker) || marker != kStartOfImage) return 0;
    // Segments up to the image data: a marker, then a length that counts itself.
    for (size_t at = 2; ReadNumber(file, at, 2, marker) && ReadNumber(file, at + 2, 2, length);
         at += 2 + length) {
        if (marker >> 8 != 0xFF || marker == kStartOfScan || length < 2) return 0;
        const size_t body = at + 4, bodySize = length - 2;
        if (bodySize > size - body) return 0;
        if (marker == kExifSegment && bodySize >= sizeof kExifSignature &&
            !std::memcmp(bytes + body, kExifSignature, sizeof kExifSignature)) {
            return ReadTiffOrientation(
                {bytes + body + sizeof kExifSignature, bodySize - sizeof kExifSignature, false});
        }
    }
    return 0;
}
