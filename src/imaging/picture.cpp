#include "imaging/picture.h"

#include <algorithm>
#include <climits>

bool HasPixels(const Picture& picture) {
    return !picture.levels.empty() && picture.levels[0].bits;
}

bool IsMetafile(const Picture& picture) {
    return picture.image && picture.image->GetType() == Gdiplus::ImageTypeMetafile;
}

bool HasPicture(const Picture& picture) {
    return HasPixels(picture) || IsMetafile(picture);
}

long long HeldPixels(const Picture& picture) {
    long long pixels = 0;
    for (const Pixels& level : picture.levels)
        pixels += static_cast<long long>(level.width) * level.height;
    return pixels;
}

int DelayToMilliseconds(long hundredths) {
    const long long ms = static_cast<long long>(hundredths) * 10;
    return static_cast<int>(std::clamp<long long>(ms, INT_MIN, INT_MAX));
}

void Unpremultiply(uint32_t* pixels, size_t count) {
    for (uint32_t* pixel = pixels; pixel != pixels + count; ++pixel) {
        const uint32_t alpha = *pixel >> 24;
        if (alpha == 0 || alpha == 255) continue;
        uint32_t straight = alpha << 24;
        for (const int shift : {0, 8, 16}) {
            const uint32_t channel = (*pixel >> shift & 0xFF) * 255 + alpha / 2;
            straight |= std::min<uint32_t>(channel / alpha, 255) << shift;
        }
        *pixel = straight;
    }
}

namespace {

// Where the upright picture's pixel x, y lies in the stored one, which is width x height.
size_t StoredIndex(int orientation, int x, int y, int width, int height) {
    const size_t w = size_t(width), h = size_t(height);
    switch (orientation) {
        case 2:
            return size_t(y) * w + (w - 1 - x);  // mirrored left to right
        case 3:
            return (h - 1 - y) * w + (w - 1 - x);  // turned half round
        case 4:
            return (h - 1 - y) * w + x;  // mirrored top to bottom
        case 5:
            return size_t(x) * w + y;  // mirrored along the diagonal
        case 6:
            return (h - 1 - x) * w + y;  // to be turned clockwise
        case 7:
            return (h - 1 - x) * w + (w - 1 - y);  // the other diagonal
        case 8:
            return size_t(x) * w + (w - 1 - y);  // to be turned anticlockwise
    }
    return size_t(y) * w + x;
}

}  // namespace

bool TurnUpright(Pixels& pixels, int orientation) {
    if (orientation < 2 || orientation > 8 || !pixels.bits) return true;
    const bool swapsSides = orientation >= 5;
    Pixels upright = swapsSides ? AllocatePixels(pixels.height, pixels.width)
                                : AllocatePixels(pixels.width, pixels.height);
    if (!upright.bits) return false;
    uint32_t* to = upright.bits.get();
    for (int y = 0; y < upright.height; ++y) {
        for (int x = 0; x < upright.width; ++x) {
            *to++ = pixels.bits[StoredIndex(orientation, x, y, pixels.width, pixels.height)];
        }
    }
    pixels = std::move(upright);
    return true;
}
