#pragma once
// imaging/pixels: the pixels the program owns, scaled and composed for the view.
#include <cstdint>
#include <memory>
#include <vector>

// Releases pixels that AllocatePixels reserved.
struct PixelsFree {
    void operator()(uint32_t* bits) const;
};

// Pixels the program owns: premultiplied 0xAARRGGBB words (B, G, R, A in memory), top row first,
// rows packed (the stride is the width).
struct Pixels {
    int width = 0;
    int height = 0;
    std::unique_ptr<uint32_t[], PixelsFree> bits;
};

// Zeroed pixels of that size; none (null bits) when memory is short or a side is not positive.
Pixels AllocatePixels(int width, int height);
// Pixels allocated beyond this many bytes in all count as memory short, and the read-ahead budget
// holds no more: a test's stand-in for the 32-bit address space.
void CapPixelMemoryForTests(uint64_t bytes);
// The bytes of pixels that may be allocated in all: a test's cap, or all there is.
uint64_t PixelMemoryCap();

// A picture and its reductions: levels[0] is the picture, each further level half the one
// before (2 x 2 pixels averaged, an odd last row or column dropped), down to the first level
// that is at most kSmallestReduction pixels either way.
using Reductions = std::vector<Pixels>;
constexpr int kSmallestReduction = 32;

// Makes the reductions of levels[0], in place of any it had (in their memory where the sizes
// match, as they do frame after frame). False, leaving levels[0] alone, when memory is short.
bool MakeReductions(Reductions& levels);

// Where the picture goes in an output, in its pixels.
struct Placement {
    int x;
    int y;
    int width;
    int height;
};

// A part of an output, in its pixels.
struct Region {
    int x;
    int y;
    int width;
    int height;
};

// Renders the picture placed at `rect` (output pixels, as ComputePlacement gives it; any size or
// place, a degenerate one showing nothing) over `background` into `region` of `out`, premultiplied
// pixels `outWidth` a row: the picture's pixels p become p + background * (255 - alpha) / 255,
// and outside the picture the background shows. An opaque background (0xFFRRGGBB) gives an opaque
// view; background 0 keeps the picture's transparency, as for an icon. Each output pixel depends
// only on its own position, so any region renders exactly what the whole output shows there.
//   smooth, shrinking: the area average of the pixels under it, read from the smallest level
//                      still at least the placement's size;
//   smooth, enlarging: bilinear between pixel centres of levels[0];
//   not smooth:        the pixel of levels[0] that GDI+'s nearest-neighbour draw takes.
// Large regions are split across the processor's cores. Safe to call from several threads.
// False when memory for the work was short: the picture's part then shows the background.
bool ScaleRegion(const Reductions& levels, const Placement& rect, bool smooth, uint32_t background,
                 uint32_t* out, int outWidth, const Region& region);
