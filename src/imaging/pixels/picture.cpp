#include "imaging/pixels/picture.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <iterator>
#include <utility>

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

// Where the upright picture's pixels lie in the stored one: the pixel of upright x, y is stored at
// start + x * across + y * down.
struct StoredWalk {
    ptrdiff_t start;
    ptrdiff_t across;
    ptrdiff_t down;
};

StoredWalk WalkStored(int orientation, ptrdiff_t width, ptrdiff_t height) {
    const ptrdiff_t last = (height - 1) * width;
    switch (orientation) {
        case 2:
            return {width - 1, -1, width};  // mirrored left to right
        case 3:
            return {last + width - 1, -1, -width};  // turned half round
        case 4:
            return {last, 1, -width};  // mirrored top to bottom
        case 5:
            return {0, width, 1};  // mirrored along the diagonal
        case 6:
            return {last, -width, 1};  // to be turned clockwise
        case 7:
            return {last + width - 1, -width, -1};  // mirrored along the other diagonal
        case 8:
            return {width - 1, width, -1};  // to be turned anticlockwise
    }
    return {0, 1, width};
}

// Where the stored picture's pixels go in the upright one, undoing WalkStored: the stored pixel
// x, y goes to start + x * across + y * down.
StoredWalk WalkUpright(int orientation, ptrdiff_t width, ptrdiff_t height) {
    switch (orientation) {
        case 2:
            return {width - 1, -1, width};
        case 3:
            return {height * width - 1, -1, -width};
        case 4:
            return {(height - 1) * width, 1, -width};
        case 5:
            return {0, height, 1};
        case 6:
            return {height - 1, height, -1};
        case 7:
            return {width * height - 1, -height, -1};
        case 8:
            return {(width - 1) * height, -height, 1};
    }
    return {0, 1, width};
}

// A 24-bit BGR pixel as an opaque one of the program's own.
uint32_t Opaque(const BYTE* bgr) {
    return 0xFF000000u | uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0];
}

bool SwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Tiles small enough that the stored rows they read stay in the cache while they are written.
constexpr int kTurnTile = 64;

// The pixels turned and mirrored as orientation asks; none when memory is short.
Pixels Turned(const Pixels& pixels, int orientation) {
    const bool swapsSides = SwapsSides(orientation);
    Pixels upright = swapsSides ? AllocatePixels(pixels.height, pixels.width)
                                : AllocatePixels(pixels.width, pixels.height);
    if (!upright.bits) return upright;
    const StoredWalk walk = WalkStored(orientation, pixels.width, pixels.height);
    const uint32_t* const stored = pixels.bits.get();
    for (int top = 0; top < upright.height; top += kTurnTile) {
        for (int left = 0; left < upright.width; left += kTurnTile) {
            const int right = std::min(left + kTurnTile, upright.width);
            for (int y = top; y < std::min(top + kTurnTile, upright.height); ++y) {
                uint32_t* to = upright.bits.get() + size_t(y) * upright.width + left;
                ptrdiff_t from = walk.start + left * walk.across + y * walk.down;
                for (int x = left; x < right; ++x, from += walk.across) *to++ = stored[from];
            }
        }
    }
    return upright;
}

// The orientations that turn a picture 0 to 3 quarters clockwise.
constexpr int kQuarterTurns[] = {1, 6, 3, 8};

// Pixels become the frame on show once their reductions are made, with a new generation.
bool TakePixels(Picture& picture, Pixels pixels) {
    // The window's thread and the workers number pixels from one count.
    static std::atomic<unsigned> generations{0};
    Reductions levels(1);
    levels[0] = std::move(pixels);
    // Frames of one size, as an animation's, make their reductions in the memory of those before:
    // nothing is allocated, so nothing can fail once they are taken.
    if (HasPixels(picture) && picture.levels[0].width == levels[0].width &&
        picture.levels[0].height == levels[0].height) {
        std::move(picture.levels.begin() + 1, picture.levels.end(), std::back_inserter(levels));
    }
    if (!MakeReductions(levels)) return false;
    picture.levels = std::move(levels);
    picture.generation = ++generations;
    return true;
}

}  // namespace

bool TurnUpright(Pixels& pixels, int orientation) {
    if (orientation < 2 || orientation > 8 || !pixels.bits) return true;
    Pixels upright = Turned(pixels, orientation);
    if (!upright.bits) return false;
    pixels = std::move(upright);
    return true;
}

Pixels AllocateUpright(int width, int height, int orientation) {
    return SwapsSides(orientation) ? AllocatePixels(height, width) : AllocatePixels(width, height);
}

void WidenUpright(const BYTE* bgr, size_t stride, int first, int count, int orientation,
                  Pixels& upright) {
    const bool swapsSides = SwapsSides(orientation);
    const int width = swapsSides ? upright.height : upright.width;
    const int height = swapsSides ? upright.width : upright.height;
    const StoredWalk walk = WalkUpright(orientation, width, height);
    uint32_t* const to = upright.bits.get();
    // A stored row that turns into a column puts each pixel in an upright row of its own: such
    // rows go in tiles across, whose upright rows stay in the cache while they are written.
    const int tile = swapsSides ? kTurnTile : width;
    for (int left = 0; left < width; left += tile) {
        const int right = std::min(left + tile, width);
        for (int y = first; y < first + count; ++y) {
            const BYTE* from = bgr + size_t(y - first) * stride + size_t(left) * 3;
            ptrdiff_t at = walk.start + left * walk.across + y * walk.down;
            for (int x = left; x < right; ++x, from += 3, at += walk.across) to[at] = Opaque(from);
        }
    }
}

bool ShowPixels(Picture& picture, Pixels pixels) {
    if (picture.quarterTurns != 0) pixels = Turned(pixels, kQuarterTurns[picture.quarterTurns]);
    return pixels.bits && TakePixels(picture, std::move(pixels));
}

bool TurnPicture(Picture& picture, int quarters) {
    if (!HasPixels(picture)) return false;
    const int turn = (quarters % 4 + 4) % 4;
    if (turn == 0) return true;
    Pixels turned = Turned(picture.levels[0], kQuarterTurns[turn]);
    if (!turned.bits || !TakePixels(picture, std::move(turned))) return false;
    picture.quarterTurns = (picture.quarterTurns + turn) % 4;
    if (turn % 2 == 1) std::swap(picture.imageWidth, picture.imageHeight);
    return true;
}
